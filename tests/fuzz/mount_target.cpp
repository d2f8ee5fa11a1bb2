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
#include "core/handles.h"
#include "device/partition.h"
#include "folder/folder.h"
#include "lyfs/lyfs.h"
#include "platform/memory.h"
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

std::vector<Range> folder_regions(const dev_desc& desc) {
    std::vector<Range> regions;
    const auto* part = resolve<stPARTITION>(desc.part_handle, HandleKind::kPartition);
    for (const stFOLDER* f = part != nullptr ? part->folder_list : nullptr; f != nullptr;
         f = f->next) {
        regions.push_back({f->start_cluster, std::uint64_t{f->start_cluster} + f->total_clusters});
    }
    return regions;
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

// How the input changes the base card and the run: the input is a run of
// records, each a four-byte head and its data:
//   selector < 0xF0: [selector][offset lo][offset hi][n] then n bytes, which
//     replace bytes offset.. of patchable sector (selector mod count), cut at
//     the sector's end;
//   selector >= 0xF0: [selector][k lo][k hi][unused], no data: the k-th
//     allocation (0xF0), sector read (0xF1) or sector write (0xF2) of the run
//     fails (one transfer fault at a time: the last one counts); with 0xF3
//     every flush fails; with 0xF4, [0xF4][unused][unused][n] then n bytes,
//     the run names its new files so; other selectors are ignored.
// Small records keep mutations local: a changed data byte changes one byte
// of one sector, and the sector stays the base card's everywhere else.
struct RunSetup {
    std::uint64_t failing_allocation = 0;    // 1-based; 0: none
    std::string name = "FUZZ_NEW_0001.MP4";  // of the file the run writes into each folder
    bool intact = true;                      // the card as built, no faults
};

RunSetup apply_input(const std::uint8_t* data, std::size_t size, test::TestPlatform& platform,
                     test::MemoryDevice& card) {
    const std::vector<PatchableSector>& patchable = BaseCard::get().patchable();
    RunSetup setup;
    test::Fault fault;
    fault.nth = 0;
    for (std::size_t at = 0; size - at >= 4;) {
        const std::uint8_t selector = data[at];
        const std::uint32_t value = data[at + 1] | (data[at + 2] << 8);
        const std::uint8_t* bytes = data + at + 4;
        const std::size_t take = selector < 0xF0 || selector == 0xF4
                                     ? std::min<std::size_t>(data[at + 3], size - at - 4)
                                     : 0;
        at += 4 + take;
        setup.intact = setup.intact && selector >= 0xF4;
        if (selector < 0xF0) {
            const std::uint64_t lba = patchable[selector % patchable.size()].lba;
            card.write(lba * 512 + value % 512, bytes,
                       static_cast<std::uint32_t>(std::min<std::size_t>(take, 512 - value % 512)));
        } else if (selector == 0xF0) {
            setup.failing_allocation = value;
        } else if (selector <= 0xF2) {
            fault.op = selector == 0xF2 ? test::IoOp::kWrite : test::IoOp::kRead;
            fault.nth = value;
        } else if (selector == 0xF3) {
            platform.fail_flush = true;
        } else if (selector == 0xF4) {
            setup.name.assign(bytes, bytes + take);
        }
    }
    if (fault.nth != 0) {
        platform.arm(fault);
    }
    return setup;
}

void run(const std::uint8_t* data, std::size_t size) {
    const BaseCard& base = BaseCard::get();  // built first: it brings up a platform of its own
    test::TestPlatform platform;
    test::MemoryDevice& card = platform.add_card("fuzz", BaseCard::kDeviceBytes);
    base.restore(card);
    const RunSetup setup = apply_input(data, size, platform, card);
    WriteGuard guard(card.sector(0).data(), card.size() / 512);

    const std::uint64_t handles_before = live_handle_count();
    platform::fail_allocation_at(setup.failing_allocation);
    if (CL_LyFS_Start() == LYFS_OK) {
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
    CL_LyFS_Stop();
    platform::fail_allocation_at(0);

    require(!guard.first_stray_write(platform.log), "write outside the FAT and the folders");
    require(live_handle_count() == handles_before, "handles left behind");
    require(platform.open_devices() == 0, "devices left open");
}

}  // namespace
}  // namespace lyfs::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    lyfs::fuzz::run(data, size);
    return 0;
}
