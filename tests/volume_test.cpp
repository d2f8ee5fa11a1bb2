// On-card layout: geometry, the table's extent rule, FAT entry classes, records.
#include <gtest/gtest.h>

#include "layout/layout.h"
#include "layout/records.h"
#include "support/card_bytes.h"
#include "support/library_fixture.h"

namespace lyfs {
namespace {

TEST(Geometry, NeverWrapsNorDescribesClustersThatDoNotFitAndTheTableEnd) {
    // Too small for its own reserved sectors: nothing to address.
    EXPECT_EQ(compute_geometry(0, 256).cluster_count + compute_geometry(32, 256).cluster_count, 0u);
    // Near 2 TiB a 32-bit numerator would wrap and shrink the FAT.
    const Geometry g = compute_geometry(0xFFFFFFF0u, 256);
    EXPECT_EQ(g.fat_sectors, (0xFFFFFFF0ull - 32 + 127 * 256) / (128 * 256 + 2));
    EXPECT_LE(g.cluster_count, 128ull * g.fat_sectors);
    EXPECT_LE(g.data_start + static_cast<std::uint64_t>(g.cluster_count) * 256, 0xFFFFFFF0ull);

    // The table's end must reach the device's last MiB.
    EXPECT_TRUE(table_end_matches_device(62'332'928, 62'334'952));
    EXPECT_FALSE(table_end_matches_device(62'332'927, 62'334'952));
    EXPECT_TRUE(table_end_matches_device(15'002'048, 15'002'148));  // XOR 0x3E4
    EXPECT_FALSE(table_end_matches_device(15'002'048, 15'001'000));
    // A device of whole MiB accepts only its exact end.
    EXPECT_TRUE(table_end_matches_device(2048 * 100, 2048 * 100));
    EXPECT_FALSE(table_end_matches_device(2048 * 100 - 1, 2048 * 100));
}

TEST(Records, FatEntryClassesTableSlotsAndBootSectors) {
    using C = FatEntryClass;
    std::vector<C> classes;
    // The top four bits are not part of the value.
    for (std::uint32_t v : {0u, 1u, 2u, 0x0FFFFFEFu, 0x0FFFFFF0u, 0x0FFFFFF7u, 0x0FFFFFF8u,
                            0x0FFFFFFFu, 0xFFFFFFFFu, 0xF0000000u, 0x10000005u}) {
        classes.push_back(classify_fat_entry(v));
    }
    EXPECT_EQ(classes,
              (std::vector<C>{C::kFree, C::kInvalid, C::kLink, C::kLink, C::kInvalid, C::kInvalid,
                              C::kEndOfChain, C::kEndOfChain, C::kEndOfChain, C::kFree, C::kLink}));

    // Slot 1 lives before slot 0; boot sector parameters.
    auto s = test::table_sector();
    test::put_slot(s, 0x1BE, 0x0C, 32, 1000);
    test::put_slot(s, 0x1AE, 0x52, 1032, 5000);
    test::put_slot(s, 0x1CE, 0x07, 9, 9);  // where a generic reader looks: not ours
    const PartEntry one = decode_part_entry(s.data(), 1);
    EXPECT_EQ(test::Values({decode_part_entry(s.data(), 0).type, one.first_sector, one.sector_count,
                            decode_part_entry(s.data(), 2).type}),
              test::Values({0x0C, 1032, 5000, 0}));

    std::vector<std::uint8_t> out(512, 0xEE);
    PartEntry e{};
    e.type = 0x52;
    e.first_sector = 0x01020304;
    e.sector_count = 0x0A0B0C0D;
    encode_part_entry(out.data(), 1, e);
    test::expect_fields(out, {0x1AD, 1, 0xEE, 0x1AE, 1, 0, 0x1B2, 1, 0x52, 0x1B6, 4, 0x01020304u,
                              0x1BA, 4, 0x0A0B0C0Du, 0x1BE, 1, 0xEE});

    s = test::boot_sector(0xF8, 0, 123456, 32);
    test::put_le32(s, 0x1C, 0x01020304);
    const BpbRecord bpb = decode_bpb(s.data());
    EXPECT_EQ(test::Values({bpb.bytes_per_sector, bpb.reserved_sectors, bpb.media,
                            bpb.total_sectors_32, bpb.hidden_sectors}),
              test::Values({512, 32, 0xF8, 123456, 0x01020304}));
    EXPECT_TRUE(is_superfloppy_boot_sector(s.data()));
    s[2] = 0x00;
    EXPECT_FALSE(is_superfloppy_boot_sector(s.data()));
    EXPECT_FALSE(has_boot_signature(std::vector<std::uint8_t>(512, 0).data()));
}

}  // namespace
}  // namespace lyfs
