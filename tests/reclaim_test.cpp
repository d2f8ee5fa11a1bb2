// Reclaiming: deleting a folder's oldest files, group by group, to keep its
// reserve of free space and free entries, and telling the host.
#include <gtest/gtest.h>

#include "entry/ring.h"
#include "file/reclaim.h"
#include "support/mounted_card.h"

namespace lyfs {
namespace {

using test::name_of;

class ReclaimTest : public test::MountedCardTest {
protected:
    void SetUp() override {
        MountedCardTest::SetUp();
        test::on_deleted([this](std::uint32_t fd, const std::string& path) {
            told.push_back(std::to_string(fd) + " " + path);
        });
    }
    // Files named `names` in DATA's first slots, one cluster each.
    void place_data(const std::vector<std::string>& names) {
        for (std::uint32_t i = 0; i < names.size(); ++i) {
            files->place_run("DATA", i, names[i], 1000, i, 1);
        }
    }
    std::vector<std::string> told;  // what the host is told of each deleted file: fd and path
};

TEST_F(ReclaimTest, TheOldestGroupGoesAtTheReserveUnlessTheRingSaysNo) {
    place_data({name_of(1), name_of(2)});
    ASSERT_EQ(mount(), LYFS_OK);
    stFOLDER* data = folder("DATA");
    const std::uint32_t oldest = data->file_list_head->handle;
    data->free_space = 0;
    data->fe_hdr_index = 1;  // a list that disagrees with the ring
    EXPECT_EQ(verify_fold_space_ex(part(), data), LYFS_ERR_NOT_RING_HEADER);
    data->fe_hdr_index = 0;
    EXPECT_EQ(listed_slots("DATA").size(), 2u);
    EXPECT_TRUE(told.empty());

    data->free_space = 10 * 1024 * 1024 + 1;
    ASSERT_EQ(verify_fold_space_ex(part(), data), LYFS_OK);
    EXPECT_EQ(listed_slots("DATA").size(), 2u);
    data->free_space = 10 * 1024 * 1024;  // at the reserve: the oldest group goes
    ASSERT_EQ(verify_fold_space_ex(part(), data), LYFS_OK);
    EXPECT_EQ(listed_slots("DATA"), std::vector<std::uint32_t>{1});
    EXPECT_EQ(data->free_space, 10 * 1024 * 1024 + 131072u);
    EXPECT_EQ(told, std::vector<std::string>{std::to_string(oldest) + " /DATA/" + name_of(1)});
    EXPECT_TRUE(log.contains("[RVFS]GarCol, Folder:DATA, File:" + name_of(1) +
                             ", free_space:10485760, hdr:0, tail:1, free:1022\n"));

    data->free_space = 0;  // every file goes, still short of the reserve
    ASSERT_EQ(verify_fold_space_ex(part(), data), LYFS_ERR_NO_FREE_CLUSTER);
    EXPECT_TRUE(listed_slots("DATA").empty());
}

TEST_F(ReclaimTest, ShortOfEntriesTheOldestGroupGoes) {
    // A group is the files that agree in their first 15 characters: the
    // first three here differ from each other only after them, and from the
    // rest only in the 15th.
    for (std::uint32_t i = 0; i < 6; ++i) {
        files->place_run(
            "EVENT", i, (i < 3 ? "EVT_20240101_AA" : "EVT_20240101_AB") + std::to_string(i) + ".ts",
            1000, i, 1);
    }
    ASSERT_EQ(mount(), LYFS_OK);
    stFOLDER* event = folder("EVENT");
    event->free_space = 1ull << 40;  // ample space, but only 10 slots free
    event->fe_tail_index = 1013;
    event->fe_valid_entries = 1014;
    ASSERT_EQ(verify_fold_space_ex(part(), event), LYFS_OK);
    EXPECT_EQ(told.size(), 3u) << "the whole first group, then the space suffices";
    EXPECT_EQ(listed_slots("EVENT").front(), 3u) << "the first file of the second group";
}

TEST_F(ReclaimTest, AContiguousFileIsFreedInFatSectorBatches) {
    const std::string longest(39, 'n');  // its path reaches the host whole
    files->place_run("DATA", 0, longest, 300 * 131072, 0, 300);
    files->place_run("DATA", 1, name_of(1), 1000, 300, 1);
    ASSERT_EQ(mount(), LYFS_OK);
    stFOLDER* data = folder("DATA");
    const std::uint32_t fd = data->file_list_head->handle;
    const auto before = platform.counters;
    std::uint64_t freed = 0;
    ASSERT_EQ(delete_file(part(), data, data->file_list_head, &freed), LYFS_OK);
    EXPECT_EQ(freed, 300u * 131072);
    // Each of the three FAT sectors its 300 clusters span is written once, then the record's
    // sector: no write more, and no read more than the chain walk, the batch and the record's
    // sector need.
    EXPECT_EQ(test::Values({static_cast<std::int64_t>(platform.counters.writes - before.writes),
                            static_cast<std::int64_t>(platform.counters.reads - before.reads)}),
              test::Values({3 + 1, 5}));
    for (std::uint32_t i = 0; i < 300; ++i) {
        ASSERT_EQ(files->fat(files->folder("DATA").content_start + i), 0u) << i;
    }
    EXPECT_EQ(told, std::vector<std::string>{std::to_string(fd) + " /DATA/" + longest});
    EXPECT_EQ(resolve<stFILE>(fd, HandleKind::kFile), nullptr) << "the fd is stale now";
    expect_clean_card();
}

TEST_F(ReclaimTest, FailuresStopTheReclaimWithTheirStatus) {
    place_data({name_of(1), name_of(2), name_of(3)});
    ASSERT_EQ(mount(), LYFS_OK);
    stFOLDER* data = folder("DATA");
    data->free_space = 0;
    part()->fat_cache_sector = kNoSector;
    platform.arm({test::IoOp::kWrite, 1});
    EXPECT_EQ(verify_fold_space_ex(part(), data), LYFS_ERR_WRITE);
    EXPECT_EQ(listed_slots("DATA").size(), 3u) << "the entry stays when its FAT was not freed";
    platform.disarm();
    expect_clean_card();
}

}  // namespace
}  // namespace lyfs
