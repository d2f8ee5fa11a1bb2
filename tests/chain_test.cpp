// FAT entries and cluster chains: following links, ending chains, the cyclic
// free-cluster search and the sector traffic each operation costs; sizing and
// walking chains, and the repairs the walk makes.
#include <gtest/gtest.h>

#include <numeric>

#include "fat/fat.h"
#include "fat/fat_cache.h"
#include "file/cluster_chain.h"
#include "folder/content_area.h"
#include "support/folder_bench.h"

namespace lyfs {
namespace {

using test::IoOp;

class ChainTest : public test::FolderBench {
protected:
    std::uint64_t card_mib() const override { return 2048; }  // DATA holds the longest chain
    void SetUp() override {
        FolderBench::SetUp();
        a = data->n_fc_start_cluster;
        ASSERT_EQ(alloc_cluster_chain_mem(part, &chain), LYFS_OK);
    }
    void TearDown() override {
        free_cluster_chain_mem(&chain);
        FolderBench::TearDown();
    }
    // Walks from `start` into a fresh chain.
    int32_t walk(std::uint32_t start) {
        free_cluster_chain_mem(&chain);
        chain = {};
        EXPECT_EQ(alloc_cluster_chain_mem(part, &chain), LYFS_OK);
        return construct_file_cluster_chain(&chain, part, data, start, &repaired);
    }
    std::vector<std::uint32_t> clusters() const {
        return {chain.p_clus_chain, chain.p_clus_chain + chain.n_clus};
    }
    std::uint32_t a = 0;
    stCLUS_CHAIN chain{};
    std::uint32_t repaired = 7;
};

// The FAT tests share the chain tests' card.
using FatTest = ChainTest;

TEST_F(FatTest, FollowsLinksRefusesClustersOutsideThePartitionAndEndsChains) {
    set_chain_on_card({a, a + 1});
    set_fat_on_card(a + 2, 0xF0000007);  // the top four bits are not part of the value
    const std::uint32_t last = part->total_clusters + 1;  // the partition's, still followed
    set_fat_on_card(last, 0x0FFFFFF8);
    std::uint32_t next = 0;
    test::Values links;
    for (std::uint32_t c : {a, a + 1, a + 2, last}) {
        ASSERT_EQ(get_next_cluster(part, c, &next), LYFS_OK);
        links.push_back(next);
    }
    EXPECT_EQ(links, test::Values({a + 1, 0x0FFFFFF8, 7, 0x0FFFFFF8}));

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
    const std::uint32_t n = data->n_fc_clusters;
    std::uint32_t cluster = 0;
    ASSERT_EQ(find_free_fcon_fat_entry(part, data, &cluster), LYFS_OK);
    // An unset cursor starts at index 0; the search alone changes nothing.
    EXPECT_EQ(test::Values({cluster, data->fc_cursor, fat_on_card(a)}), test::Values({a, 0, 0}));

    data->fc_cursor = n - 1;
    ASSERT_EQ(find_free_fcon_fat_entry(part, data, &cluster), LYFS_OK);
    EXPECT_EQ(cluster, a) << "after the last index comes index 0";

    // Everything taken but the cursor's own cluster: it is never examined.
    for (std::uint32_t i = 0; i < n; ++i) {
        set_fat_on_card(a + i, i == 7 ? 0 : 0x0FFFFFF8);
    }
    data->fc_cursor = 7;
    EXPECT_EQ(find_free_fcon_fat_entry(part, data, &cluster), LYFS_ERR_NO_FREE_CLUSTER);
    EXPECT_EQ(get_next_free_cluster(part, data, a, &cluster), LYFS_ERR_NO_FREE_CLUSTER);
    EXPECT_EQ(data->fc_cursor, 7u);
    data->fc_cursor = kNoSector;
    ASSERT_EQ(find_free_fcon_fat_entry(part, data, &cluster), LYFS_OK);
    EXPECT_EQ(cluster, a + 7);
}

TEST_F(FatTest, GrowingAChainAcrossFatSectorsCostsOneWrite) {
    // The previous cluster's entry and the next free one lie in different
    // FAT sectors.
    const std::uint32_t previous = a;
    const std::uint32_t first_free = (a / 128 + 2) * 128;
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

TEST_F(ChainTest, CompleteChainsChainsWithoutTheirMarkForeignLinksAndOverlongOnes) {
    set_chain_on_card({a});
    ASSERT_EQ(walk(a), LYFS_OK);
    EXPECT_EQ(test::Values({chain.n_clus, chain.end_clus, chain.cur_clus, repaired}),
              test::Values({1, a, a, 0}));

    // Wrapping round the area is a normal chain.
    const std::uint32_t last = a + data->n_fc_clusters - 1;
    set_chain_on_card({last, a + 1, a + 5});
    ASSERT_EQ(walk(last), LYFS_OK);
    EXPECT_EQ(clusters(), (std::vector<std::uint32_t>{last, a + 1, a + 5}));
    EXPECT_EQ(test::Values({chain.end_clus, chain.n_chain_entries, repaired}),
              test::Values({a + 5, 3, 0}));

    // Chains without their mark are ended on the card. Created and never
    // closed: the start cluster's entry is still free.
    ASSERT_EQ(walk(a + 30), LYFS_OK);
    EXPECT_EQ(test::Values({chain.n_clus, repaired, fat_on_card(a + 30)}),
              test::Values({1, 1, 0x0FFFFFF8}));
    set_chain_on_card({a + 10, a + 11, a + 12}, 0x0FFFFFF7);
    ASSERT_EQ(walk(a + 10), LYFS_OK);
    EXPECT_EQ(test::Values({chain.n_clus, chain.end_clus, repaired, fat_on_card(a + 12)}),
              test::Values({3, a + 12, 1, 0x0FFFFFF8}));

    // Links the folder does not own are never followed.
    stFOLDER* event = folder("EVENT");
    const std::uint32_t cases[] = {
        part->total_clusters + 5,   // past the partition
        event->n_fc_start_cluster,  // another folder's content
        data->start_cluster,        // the folder's own file-entry area
        a + 20,                     // itself: a loop
    };
    for (std::uint32_t target : cases) {
        set_fat_on_card(a + 20, a + 21);
        set_fat_on_card(a + 21, target);
        const std::uint32_t target_entry = target < part->total_clusters ? fat_on_card(target) : 0;
        ASSERT_EQ(walk(a + 20), LYFS_OK);
        EXPECT_EQ(clusters(), (std::vector<std::uint32_t>{a + 20, a + 21})) << target;
        EXPECT_EQ(fat_on_card(a + 21), 0x0FFFFFF8u) << "ended at the last good cluster";
        if (target < part->total_clusters && target != a + 20) {
            EXPECT_EQ(fat_on_card(target), target_entry) << "the target is never written";
        }
        EXPECT_EQ(repaired, 1u);
    }
    // A start cluster the folder does not own gives a file without clusters.
    ASSERT_EQ(walk(event->n_fc_start_cluster), LYFS_OK);
    EXPECT_EQ(test::Values({chain.n_clus, chain.cur_clus}), test::Values({0, 0}));

    // Overlong chains are cut at the array's end.
    std::vector<std::uint32_t> long_chain(2050);
    std::iota(long_chain.begin(), long_chain.end(), a + 100);
    set_chain_on_card(long_chain);
    ASSERT_EQ(walk(a + 100), LYFS_OK);
    EXPECT_EQ(test::Values({chain.n_clus, chain.end_clus, repaired, fat_on_card(a + 2147)}),
              test::Values({2048, 0, 1, 0x0FFFFFF8}));
    EXPECT_EQ(fat_on_card(a + 100 + 2048), a + 100 + 2049) << "cut off, not freed";
}

TEST_F(ChainTest, SizingAndFailures) {
    set_chain_on_card({a + 1, a + 200});
    part->fat_cache_sector = kNoSector;
    platform.arm({IoOp::kRead, 2});
    EXPECT_EQ(walk(a + 1), LYFS_ERR_READ);
    EXPECT_EQ(test::Values({fat_on_card(a + 1), fat_on_card(a + 200)}),
              test::Values({a + 200, 0x0FFFFFF8}))
        << "nothing repaired on a guess";

    stCLUS_CHAIN empty{};
    EXPECT_EQ(construct_file_cluster_chain(&empty, part, data, a, nullptr), LYFS_ERR_NO_MEMORY);

    // Chains are sized for the largest file.
    EXPECT_EQ(chain.max_chain_entries, 2048u);
    stPARTITION large{};
    large.n_scts_per_clus = 1025;
    stCLUS_CHAIN other{};
    ASSERT_EQ(alloc_cluster_chain_mem(&large, &other), LYFS_OK);
    EXPECT_EQ(other.max_chain_entries, 511u);
    free_cluster_chain_mem(&other);
    platform::fail_allocation_at(1);
    EXPECT_EQ(alloc_cluster_chain_mem(part, &other), LYFS_ERR_NO_MEMORY);
    EXPECT_EQ(other.p_clus_chain, nullptr);
}

}  // namespace
}  // namespace lyfs
