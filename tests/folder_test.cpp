// Root-directory entries and folder objects.
#include <gtest/gtest.h>

#include <cstring>

#include "entry/file_object.h"
#include "folder/dir_entry.h"
#include "folder/folder.h"
#include "support/card_bytes.h"
#include "support/library_fixture.h"

namespace lyfs {
namespace {

class FolderTest : public test::LibraryTest {
protected:
    void SetUp() override {
        test::LibraryTest::SetUp();
        platform.now = {2024, 3, 5, 14, 7, 9};
    }
    std::vector<std::uint8_t> sector = std::vector<std::uint8_t>(512, 0);
};

TEST_F(FolderTest, ShortAndLongFolderEntries) {
    std::uint32_t offset = 0;
    ASSERT_EQ(make_dir_entry("DATA", 0x10, 0x00012345, sector.data(), &offset), LYFS_OK);
    EXPECT_EQ(offset, 32u);
    EXPECT_EQ(std::string(sector.begin(), sector.begin() + 11), "DATA       ");
    // Type, 14:07:09 on 2024-03-05, the cluster in two halves.
    test::expect_fields(sector, {11, 1, 0x10, 12, 2, 0, 14, 2, 0x70E4, 16, 2, 0x5865, 20, 2, 0x0001,
                                 26, 2, 0x2345});

    ASSERT_EQ(make_dir_entry("ABCDEFGH", 0x20, 3, sector.data(), &offset), LYFS_OK);
    EXPECT_EQ(offset, 64u);
    EXPECT_EQ(std::string(sector.begin() + 32, sector.begin() + 43), "ABCDEFGH   ");

    DirEntryInfo info{};
    ASSERT_TRUE(extract_dir_entry(sector.data(), &info));
    EXPECT_EQ(std::string(info.name) + " " + std::to_string(info.attribute) + " " +
                  std::to_string(info.first_cluster),
              "DATA 16 74565");
    ASSERT_TRUE(extract_dir_entry(sector.data() + 32, &info));
    EXPECT_STREQ(info.name, "ABCDEFGH");

    EXPECT_EQ(make_dir_entry("", 0x10, 3, sector.data(), &offset), LYFS_ERR_EMPTY_FOLDER_NAME);
    EXPECT_EQ(offset, 64u);

    // Long names take a group that readers skip.
    sector.assign(512, 0);
    offset = 0;
    ASSERT_EQ(make_dir_entry("RECORDINGS", 0x10, 7, sector.data(), &offset), LYFS_OK);
    EXPECT_EQ(offset, 128u);
    EXPECT_EQ(sector[11], 0x0F) << "the group's first slot says: skip 128 bytes";
    EXPECT_EQ(std::string(sector.begin() + 96, sector.begin() + 107), "RECORD~1   ");
    // The one long-name entry sits right before the alias, with the alias's
    // checksum; the 6th character opens its second run, 0x0000 follows the
    // 10th, then 0xFFFF.
    test::expect_fields(sector, {64, 1, 0x41, 75, 1, 0x0F, 77, 1, 0xCA,   65, 2, 'R',   78, 2, 'D',
                                 86, 2, 'S',  88, 2, 0,    92, 2, 0xFFFF, 94, 2, 0xFFFF});
    EXPECT_FALSE(extract_dir_entry(sector.data(), &info));

    offset = 448;  // a group would run past the sector
    EXPECT_EQ(make_dir_entry("RECORDINGS", 0x10, 7, sector.data(), &offset), LYFS_FAIL);
    EXPECT_EQ(offset, 448u);
}

TEST_F(FolderTest, LayoutReservesAndTheFolderList) {
    stFOLDER folder{};
    folder.start_cluster = 3;
    folder.total_clusters = 100;
    folder.max_file_num = 1000;
    set_folder_layout(&folder, 256);
    EXPECT_EQ(test::Values({folder.n_fe_clusters, folder.fe_totals, folder.n_fc_start_cluster,
                            folder.start_sector_offset}),
              test::Values({1, 1024, 4, 256}));
    EXPECT_EQ(folder.total_space, 99ull * 256 * 512);
    folder.max_file_num = 1025;
    set_folder_layout(&folder, 256);
    EXPECT_EQ(test::Values({folder.n_fe_clusters, folder.fe_totals, file_entry_clusters(0, 256)}),
              test::Values({2, 2048, 0}));

    test::Values reserves;
    for (const char* name : {"DATA", "PARKED", "data"}) {
        std::strcpy(folder.fold_name, name);
        reserves.push_back(get_fold_min_free_space(&folder));
    }
    EXPECT_EQ(reserves, test::Values({10'485'760, 104'857'600, 209'715'200}));

    stPARTITION part{};
    part.h_folder_list_mutex = platform::create_mutex();
    stFOLDER* data = create_folder_object(&part);
    stFOLDER* event = create_folder_object(&part);
    ASSERT_TRUE(data && event);
    std::strcpy(data->fold_name, "DATA");
    std::strcpy(event->fold_name, "EVENT");
    // Only some of a folder's locks exist, as after a scan that failed.
    data->h_fe_mutex = platform::create_mutex();
    event->h_space_mutex = platform::create_mutex();
    EXPECT_TRUE(get_folder_object(&part, "EVENT") == event && !get_folder_object(&part, "data"));
    EXPECT_NE(data->handle, event->handle);

    remove_folder_object(&part, data);
    EXPECT_EQ(part.folder_list, event);
    add_folder_object(&part, data);
    EXPECT_EQ(event->next, data);

    platform::fail_allocation_at(1);
    EXPECT_EQ(create_folder_object(&part), nullptr);
    platform::fail_allocation_at(0);

    release_folder_objects(&part);
    EXPECT_EQ(part.folder_list, nullptr);
    platform::close_mutex(part.h_folder_list_mutex);
}

}  // namespace
}  // namespace lyfs
