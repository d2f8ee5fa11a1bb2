// A formatted in-memory card (256 MiB unless a test asks for more; DATA
// 40 %, EVENT 30 %, PHOTO 10 %, PARKED the rest, 1024 slots each) that tests
// fill with CardFiles and mount through the export.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/handles.h"
#include "device/partition.h"
#include "entry/file_object.h"
#include "folder/folder.h"
#include "support/card_files.h"
#include "support/card_maker.h"
#include "support/library_fixture.h"

namespace lyfs::test {

inline std::string name_of(int n) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "REC_%05d_000.MP4", n);
    return buf;
}

class MountedCardTest : public LibraryTest {
protected:
    virtual std::uint64_t card_mib() const { return 256; }
    void SetUp() override {
        LibraryTest::SetUp();
        platform.add_card("c", card_mib() << 20);
        ASSERT_EQ(CL_LyFS_Get_Master_Device_Info("mem:c", nullptr), LYFS_OK);
        ASSERT_EQ(partition_and_format("mem:c", default_folder_table(1000)), LYFS_OK);
        ASSERT_EQ(CL_LyFS_Stop(), LYFS_OK);  // the mount reads the card afresh
        ASSERT_EQ(CL_LyFS_Start(), LYFS_OK);
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
    stPARTITION* part() { return resolve<stPARTITION>(desc.part_handle, HandleKind::kPartition); }
    stFOLDER* folder(const char* name) { return get_folder_object(part(), name); }
    std::vector<std::uint32_t> listed_slots(const char* name) {
        std::vector<std::uint32_t> slots;
        for (stFILE* f = folder(name)->file_list_head; f != nullptr; f = f->next) {
            slots.push_back(f->file_entry_index);
        }
        return slots;
    }
    // Files in the given slots of EVENT, one content cluster each; a full
    // ring's worth is more than the folder holds, so they are not committed.
    void place_in_slots(const std::vector<std::uint32_t>& slots) {
        const std::uint32_t size = slots.size() > 100 ? 0 : 1000;
        for (std::uint32_t slot : slots) {
            files->place_run("EVENT", slot, name_of(slot), size, slot % 500, 1);
        }
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
