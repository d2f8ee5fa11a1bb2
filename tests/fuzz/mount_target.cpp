// Mounts the base card with sectors changed by the input, lists and reads
// every file, writes a new file into each folder, and unmounts. Whatever the
// card holds, the library must not crash, hang, leak, leave handles or
// devices behind, or write anywhere the write guard forbids; on the intact
// card, the new files must be found again by the next mount, whatever their
// names.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base_card.h"
#include "lyfs/lyfs.h"
#include "run_input.h"
#include "support/pattern.h"
#include "write_guard.h"

namespace lyfs::fuzz {
namespace {

constexpr const char* kPath = "mem:fuzz";
constexpr std::uint32_t kPageRecords = 4;
constexpr std::uint32_t kMaxPages = 16;
constexpr std::uint32_t kReadChunk = 48 * 1024;
constexpr std::uint32_t kMaxReadBytes = 3 * kReadChunk;  // past the first cluster, no further
constexpr std::uint32_t kLargeWrite = 140000;            // more than one cluster
constexpr std::uint32_t kSmallWrite = 3000;
constexpr const char* kBaseNames[] = {"REC_0001_DATA.MP4", "EVT_0002_000.MP4", "PIC_0001_000.JPG"};

void check_deleted_path(std::uint32_t, std::uint32_t length, char* path) {
    require(path != nullptr && path[0] == '/' && std::strlen(path) == length,
            "delete callback got a broken path");
}

// A text field of a host record must end inside the record.
std::string text_of(const char* field, std::size_t bytes) {
    require(std::memchr(field, 0, bytes) != nullptr, "unterminated text in a host record");
    return field;
}

void read_through(dev_desc* desc, const std::string& path, std::vector<std::uint8_t>& buffer) {
    const std::uint32_t fd = CL_LyFS_File_Open(desc, path.c_str(), "r", 0, 0, 0);
    if (fd == LYFS_INVALID_FD) {
        return;
    }
    FileInfo info{};
    if (CL_LyFS_Get_FileInfo(desc, fd, &info) == LYFS_OK) {
        text_of(info.name, sizeof info.name);
    }
    for (std::uint32_t total = 0; total < kMaxReadBytes;) {
        const int32_t n = CL_LyFS_File_Read(desc, buffer.data(), kReadChunk, fd);
        require(n <= static_cast<int32_t>(kReadChunk), "read returned more than asked");
        if (n <= 0) {
            break;
        }
        total += static_cast<std::uint32_t>(n);
    }
    CL_LyFS_File_Seek(desc, fd, LYFS_SEEK_SET, 100);
    CL_LyFS_File_Seek(desc, fd, LYFS_SEEK_CUR, 70000);
    CL_LyFS_File_Read(desc, buffer.data(), 1000, fd);
    CL_LyFS_File_Seek(desc, fd, LYFS_SEEK_END, -10);
    CL_LyFS_File_Tell(desc, fd);
    CL_LyFS_File_Read(desc, buffer.data(), 1000, fd);
    for (const char* again_path : {path.c_str(), static_cast<const char*>(nullptr)}) {
        const std::uint32_t again = CL_LyFS_File_Open(desc, again_path, "r", 0, 0, fd);
        require(again == fd || again == LYFS_INVALID_FD,
                "opening an open file again gave another fd");
    }
    CL_LyFS_File_Close(desc, fd);
}

// Pages through the folder's list in both orders; the paths of the files listed.
std::vector<std::string> list_files(dev_desc* desc, const std::string& folder) {
    std::vector<std::string> paths;
    std::vector<std::uint8_t> raw(LYFS_FILE_LIST_BYTES(kPageRecords));
    auto* list = reinterpret_cast<lyfs_file_list*>(raw.data());
    for (std::uint32_t sort : {1u, 0u}) {
        std::uint32_t start = 1;
        for (std::uint32_t page = 0; page < kMaxPages; ++page) {
            list->count = kPageRecords;
            const int32_t n = CL_LyFS_Get_FileList(desc, folder.c_str(), &start, list, sort);
            require(n <= static_cast<int32_t>(kPageRecords),
                    "file list wrote more records than asked");
            for (int32_t i = 0; i < n && sort == 0; ++i) {
                const FileInfo& info = *LYFS_FILE_LIST_RECORD(list, i);
                paths.push_back("/" + folder + "/" + text_of(info.name, sizeof info.name));
            }
            if (n <= 0) {
                break;
            }
        }
    }
    return paths;
}

// Writes a file in two parts and reads it back: what was committed must come
// back, even on a card that was corrupt before. True when it was committed.
bool write_new_file(dev_desc* desc, const std::string& path, std::uint32_t size,
                    std::vector<std::uint8_t>& buffer) {
    static const std::vector<std::uint8_t> pattern = test::pattern(kLargeWrite, 7);
    const std::uint32_t fd = CL_LyFS_File_Open(desc, path.c_str(), "w", 0, 0, 0);
    if (fd == LYFS_INVALID_FD) {
        return false;
    }
    const std::uint32_t half = size / 2;
    const bool written =
        CL_LyFS_File_Write(desc, pattern.data(), half, fd) == static_cast<int32_t>(half) &&
        CL_LyFS_File_Write(desc, &pattern[half], size - half, fd) ==
            static_cast<int32_t>(size - half);
    const bool committed = CL_LyFS_File_Close(desc, fd) == LYFS_OK && written;
    const std::uint32_t rd = CL_LyFS_File_Open(desc, path.c_str(), "r", 0, 0, 0);
    if (rd != LYFS_INVALID_FD) {
        const bool whole =
            CL_LyFS_File_Read(desc, buffer.data(), size, rd) == static_cast<int32_t>(size);
        require(!committed || !whole || std::memcmp(buffer.data(), pattern.data(), size) == 0,
                "a committed file reads back other bytes");
        CL_LyFS_File_Close(desc, rd);
    }
    return committed;
}

// The paths of the new files committed.
std::vector<std::string> exercise_mount(dev_desc* desc, const std::string& new_name) {
    lyfs_dir_list dirs{};
    if (CL_LyFS_Get_Dir_List(desc, &dirs) != LYFS_OK) {
        return {};
    }
    require(dirs.count <= 9, "directory list of more than nine folders");
    // Sized as asked, so that a read past the request meets a redzone.
    static std::vector<std::uint8_t> chunk(kReadChunk);
    static std::vector<std::uint8_t> whole(kLargeWrite);
    std::vector<std::string> committed;
    for (std::uint32_t k = 0; k < dirs.count; ++k) {
        const std::string folder = text_of(dirs.dirs[k].fold_name, sizeof dirs.dirs[k].fold_name);
        DirInfo info{};
        std::uint64_t total = 0, free = 0;
        CL_LyFS_Get_Dir_Info(desc, folder.c_str(), &info, &total, &free);
        std::uint32_t descriptor = 0;
        CL_LyFS_Get_Dir_Desciptor(desc, folder.c_str(), &descriptor);
        std::vector<std::string> paths = list_files(desc, folder);
        // Names the list may lack are looked up in the folder's records.
        for (const char* name : kBaseNames) {
            paths.push_back("/" + folder + "/" + name);
        }
        for (const std::string& path : paths) {
            read_through(desc, path, chunk);
        }
        const std::string path = "/" + folder + "/" + new_name;
        if (write_new_file(desc, path, k == 0 ? kLargeWrite : kSmallWrite, whole)) {
            committed.push_back(path);
        }
    }
    return committed;
}

void find_again(const std::vector<std::string>& paths) {
    dev_desc desc{};
    require(CL_LyFS_Device_Open(kPath, "fuzz", 0, &desc) == LYFS_OK,
            "the intact card does not mount again");
    for (const std::string& path : paths) {
        const std::uint32_t fd = CL_LyFS_File_Open(&desc, path.c_str(), "r", 0, 0, 0);
        require(fd != LYFS_INVALID_FD, "a committed file is gone at the next mount");
        CL_LyFS_File_Close(&desc, fd);
    }
    CL_LyFS_Device_Close(&desc);
}

void run(test::TestPlatform&, const RunSetup& setup, WriteGuard& guard) {
    CL_LyFS_File_Delete_Callback_Register(&check_deleted_path);
    dev_desc desc{};
    const bool mounted = CL_LyFS_Device_Open(kPath, "fuzz", 0, &desc) == LYFS_OK;
    require(mounted || !setup.intact, "the intact card does not mount");
    if (mounted) {
        guard.restrict_to_folders(folder_regions(desc));
        const std::vector<std::string> committed = exercise_mount(&desc, setup.name);
        CL_LyFS_Device_Close(&desc);
        if (setup.intact) {
            find_again(committed);
        }
    }
}

}  // namespace
}  // namespace lyfs::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    lyfs::fuzz::run_input(data, size, nullptr, lyfs::fuzz::run);
    return 0;
}
