// Formatting through the export, with the card decoded byte by byte by the
// test itself rather than by the library's own readers.
#include <gtest/gtest.h>

#include <cstring>

#include "support/card_bytes.h"
#include "support/card_check.h"
#include "support/card_maker.h"
#include "support/library_fixture.h"

namespace lyfs {
namespace {

using test::IoOp;
using test::le32;

// The worked volume: slot 1 of N = 62,333,952 sectors behind a 1 MiB slot 0.
constexpr std::uint32_t kSlot1First = 2080;
constexpr std::uint32_t kN = 62'333'952;
constexpr std::uint32_t kF = 1903;
constexpr std::uint32_t kM = 243'484;
constexpr std::uint32_t kD = 1935;

std::string text(const std::vector<std::uint8_t>& s, std::size_t at, std::size_t n) {
    return std::string(s.begin() + at, s.begin() + at + n);
}

class FormatTest : public test::LibraryTest {
protected:
    void SetUp() override {
        test::LibraryTest::SetUp();
        platform.add_card("c", static_cast<std::uint64_t>(kSlot1First + kN) * 512);
        platform.now = {2024, 3, 5, 14, 7, 9};
        platform.next_random = 5;
        std::uint32_t slot = 0, count = 0;
        ASSERT_EQ(CL_LyFS_Create_Partition("mem:c", LYFS_PART_FAT32, 1, &slot, &count, 0), 0);
        ASSERT_EQ(CL_LyFS_Create_Partition("mem:c", LYFS_PART_LYFS, 100'000, &slot, &count, 0), 0);
        ASSERT_EQ(count, kN);
    }
    test::MemoryDevice& card() { return platform.card("c"); }
    // A sector of slot 1 by its relative number; an entry of its FAT; where a cluster starts.
    std::vector<std::uint8_t> rel(std::uint32_t s) { return card().sector(kSlot1First + s); }
    std::uint32_t fat(std::uint32_t c) { return le32(rel(32 + c / 128), 4 * (c % 128)); }
    std::uint32_t cluster_sector(std::uint32_t c) { return kD + (c - 2) * 256; }
    int32_t format(const lyfs_folder_table& table, int32_t selector = LYFS_PART_LYFS) {
        return CL_LyFS_Format("mem:c", "sub", selector, 0, &table);
    }
    int32_t format_edited(void (*edit)(lyfs_folder_table&)) {
        auto table = test::default_folder_table();
        edit(table);
        return format(table);
    }
};

TEST_F(FormatTest, TheWorkedVolumeByteByByteAndMounted) {
    // Old bytes in the boot sector and where the file-entry areas go must not survive the format.
    const std::vector<std::uint8_t> old(512, 0xAA), zeros(512, 0);
    const std::uint32_t starts[] = {3, 97'396, 170'440, 194'788};
    for (std::uint32_t s : {0u, cluster_sector(starts[1]), cluster_sector(starts[3]) + 5 * 256 - 1,
                            cluster_sector(starts[2]) + 700, 32u + 500}) {
        card().set_sector(kSlot1First + s, old);
    }
    const auto log_before = platform.log.size();
    ASSERT_EQ(format(test::default_folder_table()), LYFS_OK);

    // Written once each, boot sectors first, the folder record last.
    std::vector<std::uint64_t> writes;
    std::uint64_t bytes = 0;
    for (std::size_t i = log_before; i < platform.log.size(); ++i) {
        if (platform.log[i].op == IoOp::kWrite) {
            writes.push_back(platform.log[i].offset / 512 - kSlot1First);
            bytes += platform.log[i].bytes;
            EXPECT_LE(platform.log[i].bytes, 256u * 512) << "runs of at most a cluster";
        }
    }
    ASSERT_GE(writes.size(), 8u);
    writes.erase(writes.begin() + 6, writes.end() - 2);
    EXPECT_EQ(writes, (std::vector<std::uint64_t>{0, 6, 1, 7, 32, 33, kD, 1}));
    // Boot, FSInfo, the FAT, the root cluster, four file-entry areas with one
    // FAT sector each, the root directory, the record.
    EXPECT_EQ(bytes, (4 + kF + 256 + 4 * (5 * 256 + 1) + 1 + 1) * 512ull);
    EXPECT_EQ(platform.counters.flushes, 3u) << "two table edits and the format";

    const auto boot = rel(0);
    EXPECT_EQ(boot, rel(6)) << "backup boot sector";
    EXPECT_EQ(std::vector<std::uint8_t>(boot.begin() + 0x5A, boot.begin() + 510),
              std::vector<std::uint8_t>(510 - 0x5A, 0))
        << "no boot code";
    EXPECT_EQ(text(boot, 3, 8) + text(boot, 0x47, 19), "RAVEN-FSRVFS VOLUMERVFS    ");
    // 0x0D holds the low 8 bits of 256; the hidden sectors at 0x1C are 0, not
    // the partition's start; the serial at 0x43 takes r1 drawn first.
    test::expect_fields(boot, {0,    1, 0xEB, 1,    1, 0x00, 2,    1, 0x90,
                               0x0B, 2, 512,  0x0D, 1, 0,    0x0E, 2, 32,
                               0x10, 1, 1,    0x11, 2, 0,    0x15, 1, 0xF8,
                               0x18, 2, 63,   0x1A, 2, 255,  0x1C, 4, 0,
                               0x20, 4, kN,   0x24, 4, kF,   0x2C, 4, 2,
                               0x30, 2, 1,    0x32, 2, 6,    0x42, 1, 0x29,
                               510,  1, 0x55, 511,  1, 0xAA, 0x43, 4, (5u << 16) | 6u});
    for (std::uint32_t fs_info : {1u, 7u}) {
        test::expect_fields(rel(fs_info), {0, 4, 0x41615252u, 0x1E4, 4, 0x61417272u, 0x1E8, 4, kM,
                                           0x1EC, 4, 2, 0x1FC, 4, 0xAA550000u});
    }
    // The folder record (count, regions, slots) lives in sector 1 only.
    test::expect_fields(rel(1), {4,      4,  4, 8,      4,  97'393, 12,   4,  73'044, 16,  4,
                                 24'348, 20, 4, 48'698, 24, 4,      5000, 36, 4,      5000});
    test::expect_fields(rel(7), {4, 4, 0, 8, 4, 0});

    EXPECT_EQ(test::Values({fat(0), fat(1), fat(2), fat(kM + 1)}),
              test::Values({0x0FFFFFF8, 0xFFFFFFFF, 0x0FFFFFFF, 0}));
    const auto root = rel(kD);
    const char* names[] = {"DATA       ", "EVENT      ", "PHOTO      ", "PARKED     "};
    for (std::uint32_t k = 0; k < 4; ++k) {
        const std::uint32_t start = starts[k];
        // 5000 records at 256 sectors per cluster: 5 linked clusters, zeroed.
        EXPECT_EQ(test::Values({fat(start), fat(start + 3), fat(start + 4), fat(start + 5)}),
                  test::Values({start + 1, start + 4, 0x0FFFFFF8, 0}));
        for (std::uint32_t at : {0u, 700u, 5u * 256 - 1}) {
            EXPECT_EQ(rel(cluster_sector(start) + at), zeros);
        }
        EXPECT_EQ(text(root, 32 * k, 11), names[k]);
        // The host's type byte, times 14:07:09 and dates 2024-03-05, the start.
        test::expect_fields(root, {11, 1, 0x10,        14, 2, 0x70E4,         16, 2, 0x5865,
                                   18, 2, 0x5865,      22, 2, 0x70E4,         24, 2, 0x5865,
                                   20, 2, start >> 16, 26, 2, start & 0xFFFF, 28, 4, 0},
                            32 * k);
    }
    EXPECT_EQ(root[128], 0) << "the list ends after the last folder";
    EXPECT_EQ(rel(32 + 500), zeros);

    const auto report = test::check_memory_card(card());
    EXPECT_TRUE(report.clean()) << test::problems_of(report);
    EXPECT_EQ(report.folders.size(), 4u);
}

TEST_F(FormatTest, SlotZeroGetsTheFat32NamesWhateverTheSelectorAndSmallestAreas) {
    // Slot 0 is 1 MiB: seven clusters, room for two small folders.
    lyfs_folder_table table{};
    table.count = 2;
    table.folders[0] = test::folder_spec("DCIM", 50, 4);
    table.folders[1] = test::folder_spec("MISC_CAM", 0, 4);  // the longest name
    table.folders[0].max_file_num = 3 * 1024;                // records to fill its three clusters
    EXPECT_EQ(format(table, 1), LYFS_ERR_BAD_ARGUMENT);
    table.folders[0].max_file_num = 4;
    for (int32_t selector : {1, 3}) {
        ASSERT_EQ(format(table, selector), LYFS_OK);
        const auto boot = card().sector(32);
        EXPECT_EQ(text(boot, 3, 8) + text(boot, 0x47, 19), "MSDOS5.0FAT VOLUME FAT32   ");
        EXPECT_EQ(le32(boot, 0x20), 2048u);
        EXPECT_EQ(le32(card().sector(33), 4), 2u) << "folders on slot 0 too";
        card().set_sector(32, std::vector<std::uint8_t>(512, 0));
    }

    // The smallest file-entry areas on slot 1: no area, nothing linked; one
    // record still takes one cluster.
    table.folders[0] = test::folder_spec("NONE", 50, 0);
    table.folders[1] = test::folder_spec("ONE", 0, 1);
    ASSERT_EQ(format(table), LYFS_OK);
    const std::uint32_t second = 3 + (kM - 1) / 2;
    EXPECT_EQ(test::Values({fat(3), fat(second), fat(second + 1)}),
              test::Values({0, 0x0FFFFFF8, 0}));
    test::expect_fields(rel(1), {4, 4, 2, 16, 4, 0, 20, 4, 1});
}

// Every transfer failing in turn gives its status; bad requests are refused
// without writing anything.
TEST_F(FormatTest, FailingTransfersAndBadRequests) {
    auto table = test::default_folder_table(40);
    const std::size_t faults = fail_each_transfer(
        [] {}, [&] { return format(table); },
        [](int32_t status, IoOp op) {
            EXPECT_EQ(status, op == IoOp::kWrite ? LYFS_ERR_WRITE : LYFS_ERR_READ);
        });
    EXPECT_GT(faults, 20u);
    for (std::uint64_t nth = 1; nth <= 6; ++nth) {
        platform::fail_allocation_at(nth);
        const int32_t status = format(table);
        platform::fail_allocation_at(0);
        EXPECT_TRUE(status == LYFS_ERR_NO_MEMORY || status == LYFS_OK) << nth;
    }
    platform.fail_flush = true;
    EXPECT_EQ(format(table), LYFS_ERR_WRITE);
    platform.fail_flush = false;

    // A card this program has open is neither formatted nor partitioned under its mount, whose
    // caches would write the old volume back.
    ASSERT_EQ(format(table), LYFS_OK);
    dev_desc open_card{};
    ASSERT_EQ(CL_LyFS_Device_Open("mem:c", "card", 0, &open_card), LYFS_OK);
    const auto mounted_writes = platform.counters.writes;
    std::uint32_t slot = 0;
    std::uint32_t sectors = 0;
    EXPECT_EQ(
        test::Values({format(table),
                      CL_LyFS_Create_Partition("mem:c", LYFS_PART_FAT32, 32, &slot, &sectors, 0),
                      CL_LyFS_Delete_Partition("mem:c", LYFS_PART_ALL)}),
        test::Values(
            {LYFS_ERR_SHARING_VIOLATION, LYFS_ERR_SHARING_VIOLATION, LYFS_ERR_SHARING_VIOLATION}));
    EXPECT_TRUE(log.contains(
        "[ERROR]CL_LyFS_Format, the device is mounted, close it first, dev_name:mem:c\n"));
    EXPECT_EQ(platform.counters.writes, mounted_writes);
    ASSERT_EQ(CL_LyFS_Device_Close(&open_card), LYFS_OK);
    ASSERT_EQ(CL_LyFS_Get_Master_Device_Info("mem:c", nullptr), LYFS_OK);

    const auto writes = platform.counters.writes;
    EXPECT_EQ(CL_LyFS_Format("mem:c", "", 2, 1, &table), LYFS_ERR_NO_DEVICE_HANDLE);
    EXPECT_EQ(CL_LyFS_Format("mem:other", "", 2, 0, &table), LYFS_ERR_NO_DISK);
    EXPECT_EQ(CL_LyFS_Format("mem:c", "", 2, 0, nullptr), LYFS_ERR_BAD_ARGUMENT);
    constexpr int32_t kBad = LYFS_ERR_BAD_ARGUMENT;
    EXPECT_EQ(format_edited([](auto& t) { t.count = 0; }), kBad);
    EXPECT_EQ(format_edited([](auto& t) { t.count = 10; }), kBad);
    EXPECT_EQ(format_edited([](auto& t) { t.folders[2].name[0] = 0; }), LYFS_ERR_EMPTY_FOLDER_NAME);
    EXPECT_EQ(format_edited([](auto& t) { std::strcpy(t.folders[1].name, "RECORDING"); }), kBad);
    EXPECT_TRUE(
        log.contains("[ERROR]CL_LyFS_Format, folder name longer than 8 characters, index:1\n"));
    EXPECT_EQ(format_edited([](auto& t) { std::memset(t.folders[0].name, 'A', 64); }), kBad);
    EXPECT_EQ(format_edited([](auto& t) { t.folders[1].fold_type = 0x0F; }), kBad) << "long name";
    // Shares of 101 %, a huge share, 101 % over two folders (not the whole
    // card), a region no larger than its records, a last folder left nothing.
    EXPECT_EQ(format_edited([](auto& t) { t.folders[2].share_percent = 31; }), kBad);
    log.clear();
    EXPECT_EQ(format_edited([](auto& t) { t.count = 2, t.folders[0].share_percent = ~0ull / 2; }),
              kBad);
    EXPECT_TRUE(log.contains("[ERROR]CL_LyFS_Format, folder shares above 100 percent\n"));
    EXPECT_EQ(format_edited([](auto& t) { t.count = 2, t.folders[0].share_percent = 101; }), kBad);
    EXPECT_EQ(format_edited([](auto& t) { t.folders[2].max_file_num = 24'348u * 1024; }), kBad);
    EXPECT_EQ(format_edited([](auto& t) { t.folders[2].share_percent = 30; }), kBad);

    ASSERT_EQ(CL_LyFS_Delete_Partition("mem:c", LYFS_PART_LYFS), LYFS_OK);
    EXPECT_EQ(format(table), LYFS_ERR_BAD_SLOT) << "an empty slot would put a volume on sector 0";
    EXPECT_EQ(platform.counters.writes, writes + 1) << "only the delete wrote";
    auto over_table = test::table_sector();
    test::put_slot(over_table, 0x1AE, 0x52, 0, 100'000);
    platform.add_card("t", 64ull << 20).set_sector(0, over_table);
    ASSERT_EQ(CL_LyFS_Get_Master_Device_Info("mem:t", nullptr), LYFS_OK);
    EXPECT_EQ(CL_LyFS_Format("mem:t", "", LYFS_PART_LYFS, 0, &table), LYFS_ERR_BAD_SLOT);
    EXPECT_EQ(platform.counters.writes, writes + 1) << "nothing over the table";
}

// A file-entry area may end right where the FAT stops describing clusters. A slot of 65,632
// sectors has F = 2 and M = 256 = 128 F; DATA's 99 % leaves the last folder three clusters, and
// its one-cluster area falls on cluster 255, the last one the FAT describes.
TEST_F(FormatTest, AFileEntryAreaMayEndWhereTheFatDoes) {
    auto& edge = platform.add_card("edge", (2048 + 65'632) * 512ull);
    auto table_sector = test::table_sector();
    test::put_slot(table_sector, 0x1BE, 0x0C, 2048, 65'632);
    edge.set_sector(0, table_sector);
    ASSERT_EQ(CL_LyFS_Get_Master_Device_Info("mem:edge", nullptr), LYFS_OK);
    lyfs_folder_table table{};
    table.count = 2;
    table.folders[0] = test::folder_spec("DATA", 99, 10);
    table.folders[1] = test::folder_spec("LAST", 0, 10);
    ASSERT_EQ(CL_LyFS_Format("mem:edge", "", 1, 0, &table), LYFS_OK);
    EXPECT_EQ(le32(edge.sector(2048 + 33), 4 * 127), 0x0FFFFFF8u) << "cluster 255 ends the area";
    // One record more than a cluster holds: the area would reach a cluster past the FAT.
    table.folders[1] = test::folder_spec("LAST", 0, 1025);
    EXPECT_EQ(CL_LyFS_Format("mem:edge", "", 1, 0, &table), LYFS_ERR_BAD_ARGUMENT);
}

TEST_F(FormatTest, LargeClusterAndPastTwoTiBCardsFormatCleanly) {
    platform.add_card("big", 64ull << 20);
    auto& big = platform.card("big");
    big.set_sector(0, test::table_sector(1025));  // no slots, but 1025-sector clusters
    ASSERT_EQ(test::partition_and_format("mem:big", test::default_folder_table(10)), LYFS_OK);
    EXPECT_EQ(le32(big.sector(0), 0x19E), 1025u) << "the card keeps its cluster size";
    EXPECT_EQ(big.sector(2080)[0x0D], 0x01) << "low 8 bits of 1025";
    EXPECT_TRUE(test::check_memory_card(big).clean());

    // Past 2 TiB the card is used up to the last sector a 32-bit number reaches.
    auto& huge = platform.add_card("huge", ((1ull << 32) + 4096) * 512);
    ASSERT_EQ(test::partition_and_format("mem:huge", test::default_folder_table()), LYFS_OK);
    EXPECT_EQ(le32(huge.sector(0), 0x1BA), 0xFFFFFFFFu - 2080);
    EXPECT_TRUE(test::check_memory_card(huge).clean());
    // 2^32 records or more cannot be numbered in a 32-bit ring; the write fault stops a format
    // that would try.
    auto table = test::table_of(
        {test::folder_spec("DATA", 50, 5000), test::folder_spec("EVENT", 0, 0xFFFFFFFF)});
    platform.arm({IoOp::kWrite, 1});
    EXPECT_EQ(CL_LyFS_Format("mem:huge", "", LYFS_PART_LYFS, 0, &table), LYFS_ERR_BAD_ARGUMENT);
    EXPECT_TRUE(
        log.contains("[ERROR]CL_LyFS_Format, folder 1 asks for more files than a ring counts\n"));
    platform.disarm();
    // The largest size in whole MiB that a 32-bit count holds is taken as asked, not as the rest.
    std::uint32_t slot = 9, count = 0;
    EXPECT_EQ(
        CL_LyFS_Create_Partition("mem:huge", LYFS_PART_FAT32, 0xFFFFFFFFu / 2048, &slot, &count, 1),
        LYFS_OK);
    EXPECT_EQ(count, 0xFFFFFFFFu / 2048 * 2048);
}

}  // namespace
}  // namespace lyfs
