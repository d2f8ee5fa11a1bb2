// One record the mount cannot decode costs that record, not the card: the
// mount lists every other file and leaves the record as it is, and the
// reclaim erases it once it reaches the ring's header.
#include <gtest/gtest.h>

#include "file/reclaim.h"
#include "support/mounted_card.h"

namespace lyfs {
namespace {

using check::ProblemKind;
using test::name_of;

constexpr std::uint32_t kFiles = 5;
constexpr std::uint64_t kDataReserve = 10 << 20;

class SalvageTest : public test::MountedCardTest {
protected:
    // DATA's slots 0 to 4 hold one-cluster files, the file of slot i in
    // content cluster i.
    void SetUp() override {
        MountedCardTest::SetUp();
        for (std::uint32_t i = 0; i < kFiles; ++i) {
            files->place_run("DATA", i, name_of(i), 1000, i, 1);
        }
    }
    void damage(std::uint32_t slot) {
        auto record = files->slot_bytes("DATA", slot);
        record[107] = 0xA0;  // one flipped bit
        files->put_record(files->folder("DATA"), slot, record.data());
    }
    std::uint32_t content(std::uint32_t i) { return files->folder("DATA").content_start + i; }
    // Reclaims DATA as a create would when short of room.
    void reclaim_once() {
        folder("DATA")->free_space = kDataReserve;
        ASSERT_EQ(verify_fold_space_ex(part(), folder("DATA")), LYFS_OK);
    }
};

class BadRecordAt : public SalvageTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(BadRecordAt, CostsOnlyItselfUntilTheReclaimErasesIt) {
    const std::uint32_t bad = GetParam();
    damage(bad);
    const auto before = platform.card("c").clone();

    ASSERT_EQ(mount(), LYFS_OK);
    std::vector<std::uint32_t> listed = {0, 1, 2, 3, 4};
    listed.erase(listed.begin() + bad);
    EXPECT_EQ(listed_slots("DATA"), listed);
    EXPECT_EQ(ring("DATA"), (Ring{0, kFiles - 1, kFiles})) << "it keeps its place in the ring";
    EXPECT_EQ(folder("DATA")->n_bad_entries, 1u);
    EXPECT_TRUE(platform.card("c").same_bytes(*before)) << "nothing written for it";
    EXPECT_EQ(CL_LyFS_File_Close(&desc, open("/DATA/" + name_of(listed[0]), "r")), LYFS_OK);
    EXPECT_EQ(open("/DATA/" + name_of(bad), "r"), LYFS_INVALID_FD);

    // The reclaim deletes the files before it, then erases it and frees its cluster.
    for (std::uint32_t i = 0; i <= bad; ++i) {
        reclaim_once();
    }
    EXPECT_EQ(files->slot_bytes("DATA", bad), std::vector<std::uint8_t>(128, 0));
    EXPECT_EQ(files->fat(content(bad)) + folder("DATA")->n_bad_entries, 0u);
    EXPECT_TRUE(
        log.contains("[RVFS]DEL unreadable entry, Folder:DATA, File Entry:" + std::to_string(bad) +
                     ", Start Clus:" + std::to_string(content(bad)) + ", Clusters:1"));
    listed.erase(listed.begin(), listed.begin() + bad);
    EXPECT_EQ(listed_slots("DATA"), listed);
    expect_clean_card();
}

INSTANTIATE_TEST_SUITE_P(HeaderMiddleTail, BadRecordAt, ::testing::Values(0u, 2u, kFiles - 1));

TEST_F(SalvageTest, AChainThatRunsIntoAnotherFileIsLeftAlone) {
    // The damaged record's chain runs on into the cluster of the newest file.
    files->place("DATA", 0, name_of(0), 1000, {content(9), content(4)});
    damage(0);
    ASSERT_EQ(mount(), LYFS_OK);
    reclaim_once();
    EXPECT_EQ(files->slot_bytes("DATA", 0), std::vector<std::uint8_t>(128, 0));
    EXPECT_TRUE(log.contains("[RVFS]DEL unreadable entry, Folder:DATA, File Entry:0, Start Clus:" +
                             std::to_string(content(9)) + ", Clusters:0"));
    EXPECT_EQ(files->fat(content(4)), 0x0FFFFFF8u) << "the newest file keeps its cluster";
    EXPECT_EQ(listed_slots("DATA"), (std::vector<std::uint32_t>{2, 3, 4})) << "1 made the room";
    test::expect_only_problems(platform.card("c"), {ProblemKind::LostCluster});
}

// A longer chain is freed whole, unless a link from outside it leads into it.
TEST_F(SalvageTest, ALongerChainIsFreedWholeUnlessALinkLeadsIntoIt) {
    files->place("DATA", 0, name_of(0), 3000, {content(7), content(5), content(6)});
    damage(0);
    const auto start = platform.card("c").clone();
    for (const bool linked_into : {false, true}) {
        files = std::make_unique<test::CardFiles>(platform.put_card("c", start->clone()));
        if (linked_into) {
            // From the folder's first cluster, which the count of links must not skip.
            files->set_fat(content(0), content(5));
        }
        ASSERT_EQ(mount(), LYFS_OK);
        reclaim_once();
        EXPECT_TRUE(log.contains("File Entry:0, Start Clus:" + std::to_string(content(7)) +
                                 ", Clusters:" + (linked_into ? "0" : "3")));
        EXPECT_EQ(files->fat(content(5)), linked_into ? content(6) : 0u);
        unmount();
    }
}

TEST_F(SalvageTest, EveryTransferAndAllocationOfTheErasingFailingInTurn) {
    damage(0);
    const auto start = platform.card("c").clone();
    const auto prepare = [&] {
        unmount();
        platform.put_card("c", start->clone());
        ASSERT_EQ(mount(), LYFS_OK);
        folder("DATA")->fe_cache_sector = kNoSector;
        part()->fat_cache_sector = kNoSector;
        folder("DATA")->free_space = kDataReserve;
    };
    fail_each_transfer(
        prepare, [&] { return verify_fold_space_ex(part(), folder("DATA")); },
        [&](int32_t status, test::IoOp) {
            EXPECT_NE(status, LYFS_OK);
            unmount();
            test::expect_only_problems(platform.card("c"),
                                       {ProblemKind::BadAttribute, ProblemKind::LostCluster});
            ASSERT_EQ(mount(), LYFS_OK);
            EXPECT_EQ(listed_slots("DATA"), (std::vector<std::uint32_t>{1, 2, 3, 4}));
        });
    // Out of memory it fails with nothing left behind (the fixture counts the memory).
    fail_each_allocation(
        prepare, [&] { return verify_fold_space_ex(part(), folder("DATA")); },
        [](int32_t status) { EXPECT_EQ(status, LYFS_ERR_NO_MEMORY); });
}

}  // namespace
}  // namespace lyfs
