// A formatted in-memory card (256 MiB unless a test asks for more; DATA
// 40 %, EVENT 30 %, PHOTO 10 %, PARKED the rest, 1024 slots each) that tests
// fill with CardFiles and mount through the export.
#pragma once

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/handles.h"
#include "device/partition.h"
#include "entry/file_object.h"
#include "folder/folder.h"
#include "support/card_check.h"
#include "support/card_files.h"
#include "support/card_maker.h"
#include "support/library_fixture.h"
#include "support/pattern.h"

namespace lyfs::test {

inline std::string name_of(int n) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "REC_%05d_000.MP4", n);
    return buf;
}

class MountedCardTest : public LibraryTest {
protected:
    virtual std::uint64_t card_mib() const { return 256; }
    virtual lyfs_folder_table folder_table() const { return default_folder_table(1000); }
    void SetUp() override {
        LibraryTest::SetUp();
        platform.add_card("c", card_mib() << 20);
        ASSERT_EQ(CL_LyFS_Get_Master_Device_Info("mem:c", nullptr), LYFS_OK);
        ASSERT_EQ(partition_and_format("mem:c", folder_table()), LYFS_OK);
        EXPECT_EQ(log.count("[ERROR]"), 0u) << "preparing a card is no failure";
        restart();  // the mount reads the card afresh
        files = std::make_unique<CardFiles>(platform.card("c"));
    }
    void TearDown() override {
        if (mounted) {
            EXPECT_EQ(CL_LyFS_Device_Close(&desc), LYFS_OK);
        }
        LibraryTest::TearDown();
    }
    int32_t mount() {
        const int32_t status = CL_LyFS_Device_Open("mem:c", "card", 0, &desc);
        mounted = status == LYFS_OK;
        return status;
    }
    void unmount() {
        if (mounted) {
            ASSERT_EQ(CL_LyFS_Device_Close(&desc), LYFS_OK);
            mounted = false;
        }
    }
    void remount() {
        unmount();
        ASSERT_EQ(mount(), LYFS_OK);
    }
    std::uint32_t open(const std::string& path, const char* mode) {
        return CL_LyFS_File_Open(&desc, path.c_str(), mode, 0, 0, 0);
    }
    void write_pieces(std::uint32_t fd, const std::vector<std::uint8_t>& bytes, std::size_t piece) {
        for (std::size_t at = 0; at < bytes.size(); at += piece) {
            const auto n = static_cast<std::uint32_t>(std::min(piece, bytes.size() - at));
            ASSERT_EQ(CL_LyFS_File_Write(&desc, bytes.data() + at, n, fd), static_cast<int32_t>(n));
        }
    }
    // Creates `path`, writes `bytes` in pieces of `piece` bytes and closes.
    void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes,
                    std::size_t piece) {
        const std::uint32_t fd = open(path, "w");
        ASSERT_NE(fd, LYFS_INVALID_FD) << path;
        write_pieces(fd, bytes, piece);
        ASSERT_EQ(CL_LyFS_File_Close(&desc, fd), LYFS_OK);
    }
    std::vector<std::uint8_t> read_pieces(std::uint32_t fd, std::size_t size, std::size_t piece) {
        std::vector<std::uint8_t> bytes(size);
        for (std::size_t at = 0; at < size; at += piece) {
            const auto n = static_cast<std::uint32_t>(std::min(piece, size - at));
            EXPECT_EQ(CL_LyFS_File_Read(&desc, bytes.data() + at, n, fd), static_cast<int32_t>(n));
        }
        return bytes;
    }
    // The whole file, as long as its record says.
    std::vector<std::uint8_t> read_all(const std::string& path, std::uint32_t* size = nullptr) {
        const std::uint32_t fd = open(path, "r");
        EXPECT_NE(fd, LYFS_INVALID_FD) << path;
        FileInfo info{};
        EXPECT_EQ(CL_LyFS_Get_FileInfo(&desc, fd, &info), LYFS_OK);
        if (size != nullptr) {
            *size = info.file_size;
        }
        auto bytes = read_pieces(fd, info.file_size, 77'777);
        EXPECT_EQ(CL_LyFS_File_Close(&desc, fd), LYFS_OK);
        return bytes;
    }
    check::Report expect_clean_card() {
        auto report = check_memory_card(platform.card("c"));
        EXPECT_TRUE(report.clean()) << problems_of(report);
        return report;
    }
    stPARTITION* part() { return resolve<stPARTITION>(desc.part_handle, HandleKind::kPartition); }
    stFOLDER* folder(const char* name) { return get_folder_object(part(), name); }
    std::vector<std::uint32_t> listed_slots(const char* name) {
        std::vector<std::uint32_t> slots;
        for (stFILE* f = folder(name)->file_list_head; f != nullptr; f = f->next) {
            slots.push_back(f->file_entry_index);
        }
        return slots;
    }
    // Each file the folder lists, with its size.
    std::vector<std::string> listing(const std::string& name) {
        std::vector<std::string> out;
        for (stFILE* f = folder(name.c_str())->file_list_head; f != nullptr; f = f->next) {
            out.push_back(std::string(f->file_name) + " " + std::to_string(f->file_size));
        }
        return out;
    }
    struct Ring {
        std::uint32_t header, tail, count;
        bool operator==(const Ring&) const = default;
    };
    Ring ring(const char* name) {
        stFOLDER* f = folder(name);
        return {f->fe_hdr_index, f->fe_tail_index, f->fe_valid_entries};
    }

    std::unique_ptr<CardFiles> files;
    dev_desc desc{};
    bool mounted = false;
};

}  // namespace lyfs::test
