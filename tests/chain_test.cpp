// Cluster chains: sizing, walking, and the repairs the walk makes.
#include <gtest/gtest.h>

#include <numeric>

#include "fat/fat.h"
#include "file/cluster_chain.h"
#include "support/folder_bench.h"

namespace lyfs {
namespace {

class ChainTest : public test::FolderBench {
protected:
    std::uint64_t card_mib() const override { return 2048; }  // DATA holds the longest chain
    void SetUp() override {
        FolderBench::SetUp();
        data = folder("DATA");
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
    stFOLDER* data = nullptr;
    std::uint32_t a = 0;
    stCLUS_CHAIN chain{};
    std::uint32_t repaired = 7;
};

TEST_F(ChainTest, CompleteChainsChainsWithoutTheirMarkAndOverlongOnes) {
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
}

TEST_F(ChainTest, LinksTheFolderDoesNotOwnAreNeverFollowed) {
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
    platform.arm({test::IoOp::kRead, 2});
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
