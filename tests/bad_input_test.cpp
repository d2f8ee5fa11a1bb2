// Bad input at the interface: every export meets random and stale handles,
// null and over-long paths and names, and empty or huge
// buffers with a clear status and an error line, and the card is unchanged.
#include <gtest/gtest.h>

#include <random>

#include "device/disk.h"
#include "support/mounted_card.h"

namespace lyfs {
namespace {

using BadInputTest = test::MountedCardTest;

TEST_F(BadInputTest, EveryExportRefusesItAndTheCardIsUnchanged) {
    ASSERT_EQ(mount(), LYFS_OK);
    write_file("/DATA/existing_file.ts", test::pattern(10, 1), 10);
    const auto before = platform.card("c").clone();
    const auto writes = platform.counters.writes;

    // A closed file's fd, a closed device's record, and random numbers.
    const std::uint32_t stale_fd = open("/DATA/existing_file.ts", "r");
    ASSERT_EQ(CL_LyFS_File_Close(&desc, stale_fd), LYFS_OK);
    dev_desc other{};
    ASSERT_EQ(CL_LyFS_Device_Open("mem:c", "again", 0, &other), LYFS_OK);
    std::mt19937 random(7);
    std::vector<std::uint32_t> fds = {stale_fd, 0, 0xFFFFFFFF, desc.part_handle};
    std::vector<dev_desc> records(52);
    records[1].part_handle = 0xDEADBEEF;
    for (std::size_t i = 2; i < records.size(); ++i) {
        fds.push_back(random());
        records[i].part_handle = random();
    }
    std::vector<std::uint8_t> buffer(131072);
    FileInfo info{};
    for (std::uint32_t fd : fds) {
        // Read, write, seek, tell, close, info.
        EXPECT_EQ(test::Values({CL_LyFS_File_Read(&desc, buffer.data(), 100, fd),
                                CL_LyFS_File_Write(&desc, buffer.data(), 100, fd),
                                CL_LyFS_File_Seek(&desc, fd, LYFS_SEEK_SET, 1),
                                CL_LyFS_File_Tell(&desc, fd), CL_LyFS_File_Close(&desc, fd),
                                CL_LyFS_Get_FileInfo(&desc, fd, &info)}),
                  test::Values({-1, -1, 0, -1, -1, -1}))
            << fd;
        if (fd != stale_fd) {  // a closed file still exists: its fd opens it again
            EXPECT_EQ(CL_LyFS_File_Open(&desc, nullptr, "r", 0, 0, fd), LYFS_INVALID_FD);
        }
    }
    EXPECT_TRUE(log.contains("[ERROR]get_file_open_file_list, find_open_file_list failed, fd:0x"));
    lyfs_dir_list dirs{};
    std::uint32_t start = 1;
    std::vector<std::uint8_t> page(LYFS_FILE_LIST_BYTES(4));
    auto* list = reinterpret_cast<lyfs_file_list*>(page.data());
    list->count = 4;
    for (dev_desc& r : records) {
        EXPECT_EQ(test::Values({CL_LyFS_File_Open(&r, "/DATA/existing_file.ts", "r", 0, 0, 0),
                                CL_LyFS_Get_Dir_Info(&r, "DATA", nullptr, nullptr, nullptr),
                                CL_LyFS_Get_Dir_List(&r, &dirs),
                                CL_LyFS_Get_FileList(&r, "DATA", &start, list, 0),
                                CL_LyFS_Get_Device_Info(&r, nullptr), CL_LyFS_Device_Close(&r)}),
                  test::Values({LYFS_INVALID_FD, LYFS_ERR_NO_PARTITION, -1, -1,
                                LYFS_ERR_NO_PARTITION, LYFS_ERR_CLOSE_NO_PARTITION}));
    }
    EXPECT_TRUE(log.contains("[ERROR]CL_LyFS_File_Open, doesn't find part object\n"));
    EXPECT_EQ(CL_LyFS_Device_Close(nullptr), LYFS_ERR_CLOSE_NO_PARTITION);
    EXPECT_EQ(CL_LyFS_Device_Open("mem:c", "x", 0, nullptr), LYFS_ERR_BAD_ARGUMENT);

    // Paths and names that name no file ("short.ts" has 8 characters).
    const std::string too_long = "/DATA/" + std::string(40, 'x');
    const std::string long_folder = "/" + std::string(40, 'a') + "/name_of_file.ts";
    for (const char* path : {"", "/", "//", "/DATA", "/DATA/", "/NOFOLDER/some_file_name.ts",
                             "/DATA/short.ts", too_long.c_str(), long_folder.c_str(),
                             "/DATA/existing_file.ts/more", "/data/existing_file.ts"}) {
        for (const char* mode : {"r", "w", "rb", ""}) {
            EXPECT_EQ(open(path, mode), LYFS_INVALID_FD) << path << " " << mode;
        }
    }
    EXPECT_TRUE(log.contains("[ERROR]CL_LyFS_File_Open, get_folder_object failed\n"));
    EXPECT_EQ(CL_LyFS_File_Open(&desc, nullptr, "w", 0, 0, 0), LYFS_INVALID_FD);
    EXPECT_NE(open("/DATA/existing_file.ts", nullptr), LYFS_INVALID_FD) << "a null mode reads";
    EXPECT_EQ(open("/DATA/existing_file.ts", "w"), LYFS_INVALID_FD);
    // A device path with no room left for its terminator is refused before it is kept.
    for (const std::size_t length : {std::size_t{kDeviceNameBytes}, std::size_t{300}}) {
        EXPECT_EQ(CL_LyFS_Get_Master_Device_Info(std::string(length, 'd').c_str(), nullptr),
                  LYFS_ERR_OPEN_DEVICE);
    }
    EXPECT_EQ(log.count("[ERROR]setup_disk_info, invalid dev_name, length:"), 2u);
    EXPECT_EQ(CL_LyFS_Get_Master_Device_Info(nullptr, nullptr), LYFS_ERR_OPEN_DEVICE);
    EXPECT_EQ(CL_LyFS_Check_LyFS_partition(nullptr), 0);
    EXPECT_EQ(CL_LyFS_Get_Dir_Info(&desc, nullptr, nullptr, nullptr, nullptr), LYFS_ERR_NO_FOLDER);
    start = 1;
    EXPECT_EQ(CL_LyFS_Get_FileList(&desc, "DATA", &start, nullptr, 0), -1);
    EXPECT_EQ(CL_LyFS_Get_FileList(&desc, "DATA", nullptr, nullptr, 0), -1);
    EXPECT_EQ(platform.counters.writes, writes);
    EXPECT_TRUE(platform.card("c").same_bytes(*before));

    // Empty and huge buffers; a huge read ends where the file's chain ends. Outputs left null on
    // a good mount are not filled, and the call works.
    const std::uint32_t fd = open("/DATA/existing_file.ts", "r");
    EXPECT_EQ(test::Values({CL_LyFS_File_Read(&desc, nullptr, 0, fd),
                            CL_LyFS_File_Read(&desc, nullptr, 10, fd),
                            CL_LyFS_File_Read(&desc, buffer.data(), 0xFFFFFFFF, fd),
                            CL_LyFS_File_Tell(&desc, fd), CL_LyFS_Get_FileInfo(&desc, fd, nullptr),
                            lyfs_get_file_time(&desc, fd, nullptr), CL_LyFS_File_Close(&desc, fd),
                            CL_LyFS_Get_Dir_Info(&desc, "DATA", nullptr, nullptr, nullptr),
                            CL_LyFS_Get_Dir_Desciptor(&desc, "DATA", nullptr),
                            CL_LyFS_Get_Device_Info(&desc, nullptr)}),
              test::Values(
                  {0, -1, 131072, 131072, LYFS_OK, LYFS_OK, LYFS_OK, LYFS_OK, LYFS_OK, LYFS_OK}));
    const std::uint32_t wfd = open("/DATA/second_file_name.ts", "w");
    const auto writes_after_create = platform.counters.writes;
    EXPECT_EQ(test::Values({CL_LyFS_File_Write(&desc, nullptr, 0, wfd),
                            CL_LyFS_File_Write(&desc, nullptr, 100, wfd),
                            CL_LyFS_File_Write(&desc, buffer.data(), 0x80000000u, wfd)}),
              test::Values({0, -1, -1}));
    EXPECT_EQ(platform.counters.writes, writes_after_create);
    EXPECT_EQ(CL_LyFS_File_Close(&desc, wfd), LYFS_OK);

    // A file of another card is not found through this one.
    platform.add_card("d", 64ull << 20);
    dev_desc d{};
    ASSERT_EQ(test::partition_and_format("mem:d", test::default_folder_table(100)), LYFS_OK);
    ASSERT_EQ(CL_LyFS_Device_Open("mem:d", "d", 0, &d), LYFS_OK);
    const std::uint32_t on_d = CL_LyFS_File_Open(&d, "/DATA/other_card_file.ts", "w", 0, 0, 0);
    EXPECT_EQ(CL_LyFS_File_Open(&desc, nullptr, "r", 0, 0, on_d), LYFS_INVALID_FD);
    EXPECT_EQ(CL_LyFS_Device_Close(&d), LYFS_OK);
}

}  // namespace
}  // namespace lyfs
