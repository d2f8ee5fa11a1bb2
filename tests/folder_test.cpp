// Root-directory entries and folder objects.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "folder/dir_entry.h"
#include "folder/folder.h"
#include "support/card_bytes.h"
#include "support/library_fixture.h"
#include "volume/dir_entry_codec.h"

namespace lyfs {
namespace {

using test::le16;
using test::le32;

class FolderTest : public test::LibraryTest {
protected:
    void SetUp() override {
        test::LibraryTest::SetUp();
        platform.now = {2024, 3, 5, 14, 7, 9};
    }
    std::vector<std::uint8_t> sector = std::vector<std::uint8_t>(512, 0);
};

TEST_F(FolderTest, ShortFolderEntries) {
    std::uint32_t offset = 0;
    ASSERT_EQ(make_dir_entry("DATA", 0x10, 0x00012345, sector.data(), &offset), LYFS_OK);
    EXPECT_EQ(offset, 32u);
    EXPECT_EQ(std::string(sector.begin(), sector.begin() + 11), "DATA       ");
    EXPECT_EQ(sector[11], 0x10);
    EXPECT_EQ(sector[12], 0);
    EXPECT_EQ(sector[13], 0);
    EXPECT_EQ(le16(sector, 14), 0x70E4);
    EXPECT_EQ(le16(sector, 16), 0x5865);
    EXPECT_EQ(le16(sector, 20), 0x0001);
    EXPECT_EQ(le16(sector, 26), 0x2345);

    ASSERT_EQ(make_dir_entry("ABCDEFGH", 0x20, 3, sector.data(), &offset), LYFS_OK);
    EXPECT_EQ(offset, 64u);
    EXPECT_EQ(std::string(sector.begin() + 32, sector.begin() + 43), "ABCDEFGH   ");

    DirEntryInfo info{};
    ASSERT_TRUE(extract_dir_entry(sector.data(), &info));
    EXPECT_STREQ(info.name, "DATA");
    EXPECT_EQ(info.attribute, 0x10);
    EXPECT_EQ(info.first_cluster, 0x00012345u);
    ASSERT_TRUE(extract_dir_entry(sector.data() + 32, &info));
    EXPECT_STREQ(info.name, "ABCDEFGH");

    EXPECT_EQ(make_dir_entry("", 0x10, 3, sector.data(), &offset), LYFS_ERR_EMPTY_FOLDER_NAME);
    EXPECT_TRUE(log.contains("[ERROR]make_dir_entry, invalid dir_name_len\n"));
    EXPECT_EQ(offset, 64u);
}

TEST_F(FolderTest, LongFolderNamesTakeAGroupThatReadersSkip) {
    std::uint32_t offset = 0;
    ASSERT_EQ(make_dir_entry("RECORDINGS", 0x10, 7, sector.data(), &offset), LYFS_OK);
    EXPECT_EQ(offset, 128u);
    EXPECT_EQ(sector[11], 0x0F) << "the group's first slot says: skip 128 bytes";
    EXPECT_EQ(std::string(sector.begin() + 96, sector.begin() + 107), "RECORD~1   ");
    // The one long-name entry sits right before the alias.
    EXPECT_EQ(sector[64], 0x41);
    EXPECT_EQ(sector[64 + 11], 0x0F);
    EXPECT_EQ(sector[64 + 13], short_name_checksum(sector.data() + 96));
    EXPECT_EQ(le16(sector, 64 + 1), 'R');
    EXPECT_EQ(le16(sector, 64 + 14), 'D') << "6th character, second run";
    EXPECT_EQ(le16(sector, 64 + 22), 'S') << "10th character";
    EXPECT_EQ(le16(sector, 64 + 24), 0x0000) << "right after the name";
    EXPECT_EQ(le16(sector, 64 + 28), 0xFFFF);
    EXPECT_EQ(le16(sector, 64 + 30), 0xFFFF);
    DirEntryInfo info{};
    EXPECT_FALSE(extract_dir_entry(sector.data(), &info));
    EXPECT_TRUE(log.contains("[ERROR]extract_dir_entry, doesn't support LFN directory\n"));

    offset = 448;  // a group would run past the sector
    EXPECT_EQ(make_dir_entry("RECORDINGS", 0x10, 7, sector.data(), &offset), LYFS_FAIL);
    EXPECT_EQ(offset, 448u);
}

TEST(DirEntryCodec, TimeStampsAndChecksum) {
    platform::LocalTime t{2024, 3, 5, 14, 7, 9};
    EXPECT_EQ(fat_time(t), 0x70E4);
    EXPECT_EQ(fat_date(t), 0x5865);
    // The published long-file-name checksum of "FOO     BAR".
    const std::uint8_t name[11] = {'F', 'O', 'O', ' ', ' ', ' ', ' ', ' ', 'B', 'A', 'R'};
    std::uint8_t sum = 0;
    for (std::uint8_t b : name) {
        sum = static_cast<std::uint8_t>(((sum & 1) ? 0x80 : 0) + (sum >> 1) + b);
    }
    EXPECT_EQ(short_name_checksum(name), sum);
}

TEST_F(FolderTest, LayoutAndReserves) {
    stFOLDER folder{};
    folder.start_cluster = 3;
    folder.total_clusters = 100;
    folder.max_file_num = 1000;
    set_folder_layout(&folder, 256);
    EXPECT_EQ(folder.n_fe_clusters, 1u);
    EXPECT_EQ(folder.fe_totals, 1024u);
    EXPECT_EQ(folder.n_fc_start_cluster, 4u);
    EXPECT_EQ(folder.total_space, 99ull * 256 * 512);
    EXPECT_EQ(folder.start_sector_offset, 256u);
    folder.max_file_num = 1025;
    set_folder_layout(&folder, 256);
    EXPECT_EQ(folder.n_fe_clusters, 2u);
    EXPECT_EQ(folder.fe_totals, 2048u);
    EXPECT_EQ(file_entry_clusters(0, 256), 0u);

    std::strcpy(folder.fold_name, "DATA");
    EXPECT_EQ(get_fold_min_free_space(&folder), 10'485'760u);
    std::strcpy(folder.fold_name, "PARKED");
    EXPECT_EQ(get_fold_min_free_space(&folder), 104'857'600u);
    std::strcpy(folder.fold_name, "data");
    EXPECT_EQ(get_fold_min_free_space(&folder), 209'715'200u);
}

TEST_F(FolderTest, FolderListLookupsAndRelease) {
    stPARTITION part{};
    part.h_folder_list_mutex = platform::create_mutex();
    stFOLDER* data = create_folder_object(&part);
    stFOLDER* event = create_folder_object(&part);
    ASSERT_NE(data, nullptr);
    ASSERT_NE(event, nullptr);
    std::strcpy(data->fold_name, "DATA");
    std::strcpy(event->fold_name, "EVENT");
    // Only some of a folder's locks exist, as after a scan that failed.
    data->h_fe_mutex = platform::create_mutex();
    event->h_space_mutex = platform::create_mutex();
    EXPECT_EQ(get_folder_object(&part, "EVENT"), event);
    EXPECT_EQ(get_folder_object(&part, "data"), nullptr);
    EXPECT_NE(data->handle, event->handle);

    remove_folder_object(&part, data);
    EXPECT_EQ(part.folder_list, event);
    add_folder_object(&part, data);
    EXPECT_EQ(event->next, data);

    platform::fail_allocation_at(1);
    EXPECT_EQ(create_folder_object(&part), nullptr);
    EXPECT_TRUE(log.contains("[ERROR]create_folder_object, malloc for p_fold failed\n"));
    platform::fail_allocation_at(0);

    release_folder_objects(&part);
    EXPECT_EQ(part.folder_list, nullptr);
    platform::close_mutex(part.h_folder_list_mutex);
}

}  // namespace
}  // namespace lyfs
