// FAT entries: following links, ending chains, the cyclic free-cluster
// search, and the sector traffic each operation costs.
#include <gtest/gtest.h>

#include "fat/fat.h"
#include "fat/fat_cache.h"
#include "folder/content_area.h"
#include "support/folder_bench.h"

namespace lyfs {
namespace {

using test::IoOp;

class FatTest : public test::FolderBench {
protected:
    void SetUp() override {
        FolderBench::SetUp();
        data = folder("DATA");
        ASSERT_NE(data, nullptr);
    }
    stFOLDER* data = nullptr;
};

TEST_F(FatTest, FollowsLinksRefusesClustersOutsideThePartitionAndEndsChains) {
    const std::uint32_t a = data->n_fc_start_cluster;
    set_chain_on_card({a, a + 1});
    set_fat_on_card(a + 2, 0xF0000007);  // the top four bits are not part of the value
    std::uint32_t next = 0;
    test::Values links;
    for (std::uint32_t c : {a, a + 1, a + 2}) {
        ASSERT_EQ(get_next_cluster(part, c, &next), LYFS_OK);
        links.push_back(next);
    }
    EXPECT_EQ(links, test::Values({a + 1, 0x0FFFFFF8, 7}));

    auto reads = platform.counters.reads;
    for (std::uint32_t outside : {0u, 1u, part->total_clusters + 2, 0xFFFFFFFFu}) {
        ASSERT_EQ(get_next_cluster(part, outside, &next), LYFS_OK);
        EXPECT_EQ(next, kFatInvalidValue) << outside;
    }
    EXPECT_EQ(platform.counters.reads, reads) << "never addressed";
    EXPECT_EQ(write_fat_entry(part, part->total_clusters + 2), LYFS_ERR_BAD_ARGUMENT);

    part->fat_cache_sector = kNoSector;
    platform.arm({IoOp::kRead, 1});
    EXPECT_EQ(get_next_cluster(part, a, &next), LYFS_ERR_READ) << "a status, not a value";

    // The end mark is written only when needed; 127 and 128 lie in FAT
    // sectors 32 and 33 of the partition.
    set_fat_on_card(127, 0x0FFFFFF8);
    const auto writes = platform.counters.writes;
    ASSERT_EQ(write_fat_entry(part, 127), LYFS_OK);
    EXPECT_EQ(platform.counters.writes, writes) << "already the end mark";
    set_fat_on_card(127, 0x0FFFFFFF);
    ASSERT_EQ(write_fat_entry(part, 127), LYFS_OK);
    EXPECT_EQ(fat_on_card(127), 0x0FFFFFF8u) << "the root's mark becomes the usual one";

    reads = platform.counters.reads;
    ASSERT_EQ(write_fat_entry(part, 128), LYFS_OK);
    EXPECT_EQ(platform.counters.reads - reads, 1u) << "another FAT sector";
    for (std::uint32_t c = 129; c < 256; ++c) {
        ASSERT_EQ(write_fat_entry(part, c), LYFS_OK);
    }
    EXPECT_EQ(platform.counters.reads - reads, 1u) << "the cached sector serves 128 entries";

    platform.arm({IoOp::kWrite, 1});
    EXPECT_EQ(write_fat_entry(part, 300), LYFS_ERR_WRITE);
    EXPECT_EQ(part->fat_cache_sector, kNoSector) << "an unwritten change is not kept";
    EXPECT_EQ(fat_on_card(300), 0u);
}

TEST_F(FatTest, CyclicSearchFromTheCursor) {
    const std::uint32_t start = data->n_fc_start_cluster;
    const std::uint32_t n = data->n_fc_clusters;
    std::uint32_t cluster = 0;
    ASSERT_EQ(find_free_fcon_fat_entry(part, data, &cluster), LYFS_OK);
    // An unset cursor starts at index 0; the search alone changes nothing.
    EXPECT_EQ(test::Values({cluster, data->fc_cursor, fat_on_card(start)}),
              test::Values({start, 0, 0}));

    data->fc_cursor = n - 1;
    ASSERT_EQ(find_free_fcon_fat_entry(part, data, &cluster), LYFS_OK);
    EXPECT_EQ(cluster, start) << "after the last index comes index 0";

    // Everything taken but the cursor's own cluster: it is never examined.
    for (std::uint32_t i = 0; i < n; ++i) {
        set_fat_on_card(start + i, i == 7 ? 0 : 0x0FFFFFF8);
    }
    data->fc_cursor = 7;
    EXPECT_EQ(find_free_fcon_fat_entry(part, data, &cluster), LYFS_ERR_NO_FREE_CLUSTER);
    EXPECT_EQ(get_next_free_cluster(part, data, start, &cluster), LYFS_ERR_NO_FREE_CLUSTER);
    EXPECT_EQ(data->fc_cursor, 7u);
    data->fc_cursor = kNoSector;
    ASSERT_EQ(find_free_fcon_fat_entry(part, data, &cluster), LYFS_OK);
    EXPECT_EQ(cluster, start + 7);
}

TEST_F(FatTest, GrowingAChainAcrossFatSectorsCostsOneWrite) {
    const std::uint32_t start = data->n_fc_start_cluster;
    // The previous cluster's entry and the next free one lie in different
    // FAT sectors.
    const std::uint32_t previous = start;
    const std::uint32_t first_free = (start / 128 + 2) * 128;
    for (std::uint32_t c = previous; c < first_free; ++c) {
        set_fat_on_card(c, 0x0FFFFFF8);
    }
    data->fc_cursor = 0;
    part->fat_cache_sector = kNoSector;
    const auto before = platform.log.size();
    std::uint32_t cluster = 0;
    ASSERT_EQ(get_next_free_cluster(part, data, previous, &cluster), LYFS_OK);
    EXPECT_EQ(cluster, first_free);
    test::Values traffic;  // sectors read, and written as negatives
    for (std::size_t i = before; i < platform.log.size(); ++i) {
        const std::int64_t sector = platform.log[i].offset / 512 - part->part_start;
        traffic.push_back(platform.log[i].op == IoOp::kWrite ? -sector : sector);
    }
    const std::int64_t s0 = 32 + previous / 128;
    EXPECT_EQ(traffic, test::Values({s0, s0 + 1, s0 + 2, s0, -s0}));
    // The new cluster's own entry stays free.
    EXPECT_EQ(test::Values({fat_on_card(previous), fat_on_card(cluster)}),
              test::Values({cluster, 0}));
    std::uint32_t next = 0;

    // A failed link write leaves the FAT as it was.
    platform.arm({IoOp::kWrite, 1});
    EXPECT_EQ(get_next_free_cluster(part, data, cluster, &next), LYFS_ERR_WRITE);
    EXPECT_EQ(fat_on_card(cluster), 0u);
}

}  // namespace
}  // namespace lyfs
