// Editing the partition table through the exports, checked byte by byte.
#include <gtest/gtest.h>

#include <algorithm>

#include "device/disk.h"
#include "support/card_bytes.h"
#include "support/card_maker.h"
#include "support/library_fixture.h"

namespace lyfs {
namespace {

using test::IoOp;

constexpr std::uint32_t kCardSectors = 16'777'216;  // 8 GiB

class PartitionEditTest : public test::LibraryTest {
protected:
    test::MemoryDevice& card() { return platform.card("c"); }
    void SetUp() override {
        test::LibraryTest::SetUp();
        platform.add_card("c", static_cast<std::uint64_t>(kCardSectors) * 512);
    }
    int32_t create(int32_t type, std::uint64_t mib, std::uint32_t* slot = nullptr,
                   std::uint32_t* count = nullptr) {
        std::uint32_t s = 99, n = 99;
        return CL_LyFS_Create_Partition("mem:c", type, mib, slot ? slot : &s, count ? count : &n,
                                        1);
    }
};

// Failing transfers give their status and leave the card as it was.
TEST_F(PartitionEditTest, CreatesSlotZeroThenSlotOneBehindItAndDeletesThem) {
    card().set_sector(0, std::vector<std::uint8_t>(512, 0xAA));  // no table: bytes to clear
    platform.arm({IoOp::kRead, 1});
    EXPECT_EQ(create(LYFS_PART_FAT32, 1024), LYFS_ERR_MOUNT) << "the disk's own set-up fails";
    platform.disarm();
    std::uint32_t slot = 99, count = 0;
    ASSERT_EQ(create(LYFS_PART_FAT32, 1024, &slot, &count), LYFS_OK);
    EXPECT_EQ(test::Values({slot, count}), test::Values({0, 2'097'152}));
    // Slot 0 at 0x1BE: type, first sector, count; the cluster word; the signature.
    test::expect_fields(card().sector(0),
                        {0x1C2, 1, 0x0C, 0x1C6, 4, 32,   0x1CA, 4, 2'097'152, 0x19E, 4, 256,
                         510,   1, 0x55, 511,   1, 0xAA, 0,     1, 0,         0x1F2, 1, 0});
    auto table = card().sector(0);
    EXPECT_EQ(std::count(table.begin() + 0x1BE, table.begin() + 0x1CE, 0), 13) << "no CHS";
    EXPECT_EQ(platform.counters.refreshes, 1u);
    EXPECT_EQ(platform.counters.flushes, 1u);

    std::fill(table.begin() + 0x1AE, table.begin() + 0x1BE, 0xEE);  // an old slot's bytes
    card().set_sector(0, table);
    platform.arm({IoOp::kRead, 1});
    EXPECT_EQ(create(LYFS_PART_LYFS, 8), LYFS_ERR_READ);
    platform.arm({IoOp::kWrite, 1});
    EXPECT_EQ(create(LYFS_PART_LYFS, 8), LYFS_ERR_WRITE);
    EXPECT_EQ(card().sector(0), table);
    ASSERT_EQ(create(LYFS_PART_LYFS, 1'000'000, &slot, &count), LYFS_OK);
    table = card().sector(0);
    EXPECT_EQ(std::count(table.begin() + 0x1AE, table.begin() + 0x1BE, 0xEE), 0) << "no old byte";
    EXPECT_EQ(test::Values({slot, count}), test::Values({1, kCardSectors - 2'097'184}))
        << "clamped to the device's end";
    // Slot 1 at 0x1AE; a generic reader's second slot (0x1CE) stays empty, slot 0 is kept.
    test::expect_fields(card().sector(0), {0x1B2, 1, 0x52, 0x1B6, 4, 2'097'184, 0x1BA, 4, count,
                                           0x1D2, 1, 0, 0x1C2, 1, 0x0C});

    // 2 TiB and more: the low 32 bits of the sector count would be 0.
    for (std::uint64_t mib : {2'097'152ull, ~0ull}) {
        ASSERT_EQ(create(LYFS_PART_LYFS, mib, nullptr, &count), LYFS_OK);
        EXPECT_EQ(count, kCardSectors - 2'097'184u) << mib;
    }
    // Deleting clears our slots and keeps the rest.
    auto s0 = card().sector(0);
    test::put_slot(s0, 0x1CE, 0x07, 11, 22);  // not ours: must survive
    test::put_slot(s0, 0x1DE, 0x83, 33, 44);
    card().set_sector(0, s0);
    platform.arm({IoOp::kRead, 1});
    EXPECT_EQ(CL_LyFS_Delete_Partition("mem:c", LYFS_PART_ALL), LYFS_ERR_READ);
    platform.arm({IoOp::kWrite, 1});
    EXPECT_EQ(CL_LyFS_Delete_Partition("mem:c", LYFS_PART_FAT32), LYFS_ERR_WRITE);
    EXPECT_EQ(card().sector(0), s0);

    ASSERT_EQ(CL_LyFS_Delete_Partition("mem:c", LYFS_PART_LYFS), LYFS_OK);
    test::expect_fields(card().sector(0), {0x1B2, 1, 0, 0x1B6, 4, 0, 0x1C2, 1, 0x0C});

    ASSERT_EQ(CL_LyFS_Delete_Partition("mem:c", 0x107), LYFS_OK) << "low 8 bits say all";
    s0 = card().sector(0);  // slots 1, 0, and the two at 0x1DE
    EXPECT_EQ(std::count(s0.begin() + 0x1AE, s0.begin() + 0x1CE, 0), 32);
    EXPECT_EQ(std::count(s0.begin() + 0x1DE, s0.begin() + 0x1FE, 0), 32);
    test::expect_fields(s0, {0x1D2, 1, 0x07, 0x1DA, 4, 22, 0x19E, 4, 256, 510, 1, 0x55});
    stDISK* disk = find_disk("mem:c");
    EXPECT_EQ(test::Values({disk->part_entry[0].type, disk->part_count}), test::Values({0, 0}));

    // Counters only grow: an unchanged sum means nothing was read or written.
    const auto transfers = platform.counters.reads + platform.counters.writes;
    EXPECT_EQ(test::Values({CL_LyFS_Delete_Partition("mem:c", 3),
                            CL_LyFS_Delete_Partition("mem:missing", LYFS_PART_ALL)}),
              test::Values({LYFS_ERR_BAD_ARGUMENT, LYFS_ERR_OPEN_DEVICE}));
    EXPECT_EQ(platform.counters.reads + platform.counters.writes, transfers);

    platform.fail_flush = true;
    EXPECT_EQ(create(LYFS_PART_FAT32, 8), LYFS_ERR_WRITE) << "an edit that is not durable fails";
}

TEST_F(PartitionEditTest, SuperfloppyCardsAreLeftAloneOrWipedWholeAndNoSlotOverwritesTheTable) {
    card().set_sector(0, test::boot_sector(0xF8, 0, kCardSectors));
    std::uint32_t count = 77;
    EXPECT_EQ(create(LYFS_PART_FAT32, 1024, nullptr, &count), LYFS_OK);
    EXPECT_EQ(count, 77u) << "nothing reported";
    EXPECT_EQ(card().sector(0), test::boot_sector(0xF8, 0, kCardSectors)) << "nothing written";
    ASSERT_EQ(CL_LyFS_Delete_Partition("mem:c", LYFS_PART_FAT32), LYFS_OK);
    EXPECT_EQ(card().sector(0), std::vector<std::uint8_t>(512, 0));
    const stDISK* disk = find_disk("mem:c");
    EXPECT_EQ(test::Values({disk->part_count, disk->no_mbr}), test::Values({0, 0}))
        << "as an empty table reads";

    std::uint32_t slot = 99;
    EXPECT_EQ(create(LYFS_PART_LYFS, 100, &slot), LYFS_ERR_BAD_SLOT);
    EXPECT_EQ(slot, 99u);
    // Slot 0 filling the whole card leaves no room behind it, and drops the slot 1 that lay
    // there: formatting it would write inside the new slot 0.
    ASSERT_EQ(create(LYFS_PART_FAT32, 100), LYFS_OK);
    ASSERT_EQ(create(LYFS_PART_LYFS, 100), LYFS_OK);
    ASSERT_EQ(create(LYFS_PART_FAT32, 100'000), LYFS_OK);
    const auto writes = platform.counters.writes;
    EXPECT_EQ(create(LYFS_PART_LYFS, 100), LYFS_ERR_BAD_SLOT);
    const auto table = test::default_folder_table();
    EXPECT_EQ(CL_LyFS_Format("mem:c", "", LYFS_PART_LYFS, 0, &table), LYFS_ERR_BAD_SLOT);
    EXPECT_EQ(platform.counters.writes, writes);
    EXPECT_EQ(card().sector(0)[0x1AE + 4], 0);
}

}  // namespace
}  // namespace lyfs
