// The fuzz harness's own judgement: a guard that never objects, or inputs
// that never reach the sectors they name, would let every fuzz run pass.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "base_card.h"
#include "lyfs/lyfs.h"
#include "mount_input.h"
#include "support/card_bytes.h"
#include "support/test_platform.h"
#include "write_guard.h"

namespace lyfs::fuzz {
namespace {

// A 64 MiB device, slot 1 at 2080 reaching its end: with 256 sectors per
// cluster the FAT is 2112..2115, the root cluster 2116..2371 and the last
// cluster (504) ends at 130883.
constexpr std::uint64_t kDeviceSectors = 131072;
constexpr std::uint32_t kFirst = 2080;
constexpr std::uint32_t kFatFirst = 2112;
constexpr std::uint32_t kCluster3 = 2372;
constexpr std::uint32_t kAfterLastCluster = 130884;

std::vector<std::uint8_t> table(std::uint32_t first = kFirst,
                                std::uint32_t count = kDeviceSectors - kFirst,
                                std::uint32_t sects_per_clus = 256) {
    auto s = test::table_sector(sects_per_clus);
    test::put_slot(s, 0x1BE, 0x0C, 32, 2048);
    test::put_slot(s, 0x1AE, 0x52, first, count);
    return s;
}

TEST(WriteGuard, AllowsOnlyTheFatAndTheClustersBehindTheRoot) {
    const WriteGuard guard(table().data(), kDeviceSectors);
    for (std::uint64_t allowed : {kFatFirst, kFatFirst + 3, kCluster3, kAfterLastCluster - 1}) {
        EXPECT_TRUE(guard.allows(allowed)) << allowed;
    }
    // Table, FAT32 slot, boot, record, backup boot, last reserved, root, tail.
    for (std::uint64_t refused : {0u, 100u, kFirst, kFirst + 1, kFirst + 6, kFatFirst - 1,
                                  kFatFirst + 4, kCluster3 - 1, kAfterLastCluster}) {
        EXPECT_FALSE(guard.allows(refused)) << refused;
    }
}

TEST(WriteGuard, FollowsThePartitionAndClusterSizeTheTableNames) {
    const WriteGuard moved(table(4096, kDeviceSectors - 4096).data(), kDeviceSectors);
    EXPECT_FALSE(moved.allows(kFatFirst));
    EXPECT_TRUE(moved.allows(4096 + 32));

    // 1025 sectors per cluster: one FAT sector, cluster 3 at 2113 + 1025.
    const WriteGuard large(table(kFirst, kDeviceSectors - kFirst, 1025).data(), kDeviceSectors);
    EXPECT_TRUE(large.allows(kFatFirst));
    EXPECT_FALSE(large.allows(kFatFirst + 1));
    EXPECT_FALSE(large.allows(3137));
    EXPECT_TRUE(large.allows(3138));
}

TEST(WriteGuard, AllowsNothingOnACardItCannotMount) {
    std::map<std::string, std::vector<std::uint8_t>> cards;
    cards["unsigned"] = table();
    cards["unsigned"][511] = 0;
    cards["boot sector at zero"] = table();
    cards["boot sector at zero"][0] = 0xEB;
    cards["boot sector at zero"][2] = 0x90;
    cards["other type"] = table();
    cards["other type"][0x1AE + 4] = 0x0C;
    cards["at sector zero"] = table(0, kDeviceSectors);
    cards["past the device"] = table(kFirst, kDeviceSectors - kFirst + 1);
    cards["no cluster"] = table(kFirst, 40);
    for (const auto& [what, sector0] : cards) {
        const WriteGuard guard(sector0.data(), kDeviceSectors);
        EXPECT_FALSE(guard.allows(kFatFirst)) << what;
        EXPECT_FALSE(guard.allows(kCluster3)) << what;
    }
}

TEST(WriteGuard, NarrowsDataWritesToTheFoldersWithinTheClusters) {
    WriteGuard guard(table().data(), kDeviceSectors);
    guard.restrict_to_folders({{3, 10}, {20, 5}, {500, 10}, {0, 4}});
    const auto cluster = [](std::uint64_t x) { return kCluster3 + (x - 3) * 256; };
    EXPECT_TRUE(guard.allows(kFatFirst));
    EXPECT_TRUE(guard.allows(cluster(12) + 255));
    EXPECT_FALSE(guard.allows(cluster(13)));
    EXPECT_TRUE(guard.allows(cluster(20)));
    EXPECT_FALSE(guard.allows(cluster(25)));
    EXPECT_TRUE(guard.allows(kAfterLastCluster - 1));
    EXPECT_FALSE(guard.allows(kAfterLastCluster));
    EXPECT_FALSE(guard.allows(kCluster3 - 1));  // a region from cluster 0 gains nothing
}

TEST(WriteGuard, ReportsTheFirstStraySectorOfAnyWriteAndIgnoresReads) {
    const WriteGuard guard(table().data(), kDeviceSectors);
    using test::IoOp;
    std::vector<test::IoRecord> log = {{IoOp::kRead, 0, 512},
                                       {IoOp::kWrite, kFatFirst * 512ull, 512},
                                       {IoOp::kWrite, kCluster3 * 512ull, 256 * 512}};
    EXPECT_EQ(guard.first_stray_write(log), std::nullopt);
    log.push_back({IoOp::kWrite, (kAfterLastCluster - 1) * 512ull, 3 * 512});
    EXPECT_EQ(guard.first_stray_write(log), kAfterLastCluster);
}

std::vector<std::uint8_t> join(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

TEST(MountInput, PatchesLandInTheSelectedSectorAndStopAtItsEnd) {
    const auto bytes = join({encode_patch(5, 510, {1, 2, 3}), encode_patch(30, 0x3FF, {9})});
    const MountInput input = decode_mount_input(bytes.data(), bytes.size(), 28);
    ASSERT_EQ(input.patches.size(), 2u);
    EXPECT_EQ(input.patches[0].sector_index, 5u);
    EXPECT_EQ(input.patches[0].offset, 510u);
    EXPECT_EQ(input.patches[0].bytes, (std::vector<std::uint8_t>{1, 2}));
    EXPECT_EQ(input.patches[1].sector_index, 2u);
    EXPECT_EQ(input.patches[1].offset, 511u);
    EXPECT_EQ(input.patches[1].bytes, (std::vector<std::uint8_t>{9}));
}

TEST(MountInput, CutsShortDataAndIgnoresAnUnfinishedHead) {
    const std::vector<std::uint8_t> bytes = {0, 0, 0, 10, 7, 8, 9};
    MountInput input = decode_mount_input(bytes.data(), bytes.size(), 28);
    ASSERT_EQ(input.patches.size(), 1u);
    EXPECT_EQ(input.patches[0].bytes, (std::vector<std::uint8_t>{7, 8, 9}));

    const std::vector<std::uint8_t> head_only = {1, 2, 3};
    input = decode_mount_input(head_only.data(), head_only.size(), 28);
    EXPECT_TRUE(input.patches.empty());
}

TEST(MountInput, FaultRecordsTakeNoDataAndTheLastTransferFaultCounts) {
    const auto bytes = join({{0xF0, 7, 0, 99},
                             {0xF2, 0x34, 0x12, 0},
                             {0xF1, 3, 0, 0},
                             {0xF3, 0, 0, 0},
                             {0xFF, 1, 1, 1},
                             encode_patch(1, 0, {4})});
    const MountInput input = decode_mount_input(bytes.data(), bytes.size(), 28);
    EXPECT_EQ(input.failing_allocation, 7u);
    EXPECT_EQ(input.failing_transfer, 3u);
    EXPECT_FALSE(input.failing_transfer_writes);
    EXPECT_TRUE(input.failing_flush);
    ASSERT_EQ(input.patches.size(), 1u);
    EXPECT_EQ(input.patches[0].sector_index, 1u);
}

// The seeds and the selectors are written against this card.
TEST(BaseCard, HoldsFoldersAndFilesWhoseSectorsInputsCanReach) {
    const BaseCard& base = BaseCard::get();
    std::map<std::string, int> kinds;
    for (const PatchableSector& s : base.patchable()) {
        ++kinds[s.what];
    }
    EXPECT_EQ(
        kinds,
        (std::map<std::string, int>{
            {"boot", 1}, {"entries", 20}, {"fat", 16}, {"record", 1}, {"root", 1}, {"table", 1}}));
    EXPECT_EQ(base.patchable().front().lba, 0u);

    test::TestPlatform platform;
    base.restore(platform.add_card("base", base.device_bytes()));
    ASSERT_EQ(CL_LyFS_Start(), LYFS_OK);
    dev_desc desc{};
    ASSERT_EQ(CL_LyFS_Device_Open("mem:base", "base", 0, &desc), LYFS_OK);
    std::map<std::string, std::vector<std::uint32_t>> sizes;
    for (const char* folder : {"DATA", "EVENT", "PHOTO", "PARKED"}) {
        std::vector<std::uint8_t> raw(LYFS_FILE_LIST_BYTES(8));
        auto* list = reinterpret_cast<lyfs_file_list*>(raw.data());
        list->count = 8;
        std::uint32_t start = 1;
        const int32_t n = CL_LyFS_Get_FileList(&desc, folder, &start, list, 0);
        for (int32_t i = 0; i < n; ++i) {
            sizes[folder].push_back(+LYFS_FILE_LIST_RECORD(list, i)->file_size);
        }
    }
    ASSERT_EQ(sizes["DATA"].size(), 2u);
    EXPECT_EQ(sizes["DATA"][1], 1000u);
    EXPECT_EQ(sizes["EVENT"], (std::vector<std::uint32_t>{5000, 0}));
    EXPECT_EQ(sizes["PHOTO"], (std::vector<std::uint32_t>{3000}));
    EXPECT_TRUE(sizes["PARKED"].empty());
    DirInfo info{};
    std::uint64_t total = 0;
    std::uint64_t free = 0;
    ASSERT_EQ(CL_LyFS_Get_Dir_Info(&desc, "DATA", &info, &total, &free), LYFS_OK);
    EXPECT_EQ(free, BaseCard::kDataReserve + BaseCard::kClusterBytes);
    EXPECT_EQ(CL_LyFS_Device_Close(&desc), LYFS_OK);
    EXPECT_EQ(CL_LyFS_Stop(), LYFS_OK);
}

}  // namespace
}  // namespace lyfs::fuzz
