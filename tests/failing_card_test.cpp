// Failing cards: each sector read and each sector write of mounting, of
// recovering a recording left unclosed, of deleting (reclaiming) and of
// partitioning fails in turn, once and for good, and so does each allocation of
// a session.
// The export gives its failure status, nothing crashes or leaks, and once
// the fault is gone the card mounts with every committed file intact.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "file/open_files.h"
#include "platform/memory.h"
#include "support/mounted_card.h"

namespace lyfs {
namespace {

using test::IoOp;

using FailingCardTest = test::MountedCardTest;

TEST_F(FailingCardTest, MountingAndRecoveringAnUnclosedRecording) {
    files->place_run("DATA", 0, "committed_recording.ts", 3 * 131072, 0, 3);
    files->place_run("EVENT", 0, "unfinished_recording.ts", 0, 0, 1);
    const auto start = platform.card("c").clone();
    const auto after = [&](int32_t status, IoOp op) {
        if (status == LYFS_OK) {
            unmount();
            EXPECT_EQ(test::le32(test::CardFiles(platform.card("c")).slot_bytes("EVENT", 0), 124),
                      131072u)
                << "an open that succeeds has recovered the recording on the card";
        } else if (status == LYFS_FAIL) {
            EXPECT_TRUE(mounted) << "only the recovering open fails this way";
            EXPECT_EQ(find_open_file_list(part(), folder("EVENT")->file_list_head->handle), nullptr)
                << "a failed open leaves the file closed";
            unmount();
        } else {
            EXPECT_TRUE(status == LYFS_ERR_READ || status == LYFS_ERR_OPEN_DEVICE ||
                        (status == LYFS_ERR_WRITE && op == IoOp::kWrite))
                << status;
            EXPECT_TRUE(nothing_held()) << "a failed open leaves nothing";
        }
        if (!mounted) {
            ASSERT_EQ(mount(), LYFS_OK);
        }
        EXPECT_EQ(folder("DATA")->file_list_head->file_size, 3u * 131072);
        std::uint32_t recovered = 0;
        read_all("/EVENT/unfinished_recording.ts", &recovered);
        EXPECT_EQ(recovered, 131072u) << "recovered now, or by the open after the fault";
    };
    fail_each_transfer(
        [&] {
            unmount();
            platform.put_card("c", start->clone());
        },
        [&] {
            if (const int32_t status = mount(); status != LYFS_OK) {
                return status;
            }
            const std::uint32_t fd = open("/EVENT/unfinished_recording.ts", "r");
            return fd == LYFS_INVALID_FD ? LYFS_FAIL : CL_LyFS_File_Close(&desc, fd);
        },
        after);
}

// Every allocation of a session failing in turn: mounting (a failed one leaves nothing), opening a
// recording left unclosed (its recovery) and a committed one, creating, writing, closing and
// discarding. The call that meets it fails, nothing leaks, and the card mounts afterwards with its
// recording intact.
TEST_F(FailingCardTest, EveryAllocationOfASessionFailingInTurn) {
    files->place_run("DATA", 0, "committed_recording.ts", 3 * 131072, 0, 3);
    files->place_run("DATA", 1, "unfinished_recording.ts", 0, 3, 2);
    ASSERT_EQ(mount(), LYFS_OK);
    const auto committed = read_all("/DATA/committed_recording.ts");
    unmount();
    const auto start = platform.card("c").clone();
    const std::vector<std::uint8_t> bytes(300'001, 0x5A);
    std::vector<std::uint8_t> back(1000);
    const auto session = [&]() -> int32_t {
        if (const int32_t status = mount(); status != LYFS_OK) {
            EXPECT_TRUE(nothing_held()) << "a failed open leaves nothing";
            return status;
        }
        for (const char* path : {"/DATA/unfinished_recording.ts", "/DATA/committed_recording.ts"}) {
            const std::uint32_t fd = open(path, "r");
            CL_LyFS_File_Read(&desc, back.data(), 1000, fd);
            CL_LyFS_File_Close(&desc, fd);
        }
        const std::uint32_t kept = open("/DATA/new_recording.ts", "w");
        CL_LyFS_File_Write(&desc, bytes.data(), 300'001, kept);
        CL_LyFS_File_Close(&desc, kept);
        const std::uint32_t dropped = open("/EVENT/discarded_recording.ts", "w");
        CL_LyFS_File_Write(&desc, bytes.data(), 300'001, dropped);
        lyfs_file_discard(&desc, dropped);
        unmount();
        return LYFS_OK;
    };
    fail_each_allocation([&] { platform.put_card("c", start->clone()); }, session,
                         [&](int32_t) {
                             ASSERT_EQ(mount(), LYFS_OK);
                             EXPECT_EQ(read_all("/DATA/committed_recording.ts"), committed);
                             unmount();
                         });
}

TEST_F(FailingCardTest, DeletingByReclaim) {
    // DATA 4 MiB above its reserve, so a new recording of 5 MiB makes it reclaim the oldest,
    // whose chain crosses from one FAT sector into the next.
    const std::uint32_t cluster = files->cluster_bytes();
    for (std::uint32_t i = 0; i < 7; ++i) {
        files->place_run("DATA", i, "OLD_RECORDING_" + std::to_string(i) + ".MP4", 100 * cluster,
                         30 + 100 * i, 100);
    }
    auto start = platform.card("c").clone();
    const std::vector<std::uint8_t> bytes(5 << 20, 0x5A);
    int round = 0;
    fail_each_transfer(
        [&] {
            unmount();
            platform.put_card("c", start->clone());
            ASSERT_EQ(mount(), LYFS_OK);
        },
        [&]() -> int32_t {
            const std::string path = "/DATA/NEW_RECORDING_" + std::to_string(round++) + ".MP4";
            const std::uint32_t fd = open(path, "w");
            const int32_t written = CL_LyFS_File_Write(&desc, bytes.data(), 5 << 20, fd);
            const int32_t closed = CL_LyFS_File_Close(&desc, fd);
            return written == (5 << 20) && closed == LYFS_OK ? LYFS_OK : LYFS_FAIL;
        },
        [&](int32_t status, IoOp) {
            EXPECT_TRUE(status == LYFS_OK || status == LYFS_FAIL);
            remount();
            // The files the reclaim did not reach are intact; the rest are
            // gone or, if their deletion was cut short, shortened.
            for (stFILE* f = folder("DATA")->file_list_head; f != nullptr; f = f->next) {
                const std::string name = f->file_name;
                if (name.rfind("OLD_RECORDING_", 0) == 0 && name != "OLD_RECORDING_0.MP4") {
                    EXPECT_EQ(f->file_size, 100u * cluster) << name;
                }
            }
        });
    EXPECT_TRUE(log.contains("[RVFS]GarCol, Folder:DATA, File:OLD_RECORDING_0.MP4"));
}

TEST_F(FailingCardTest, Partitioning) {
    platform.add_card("blank", 64ull << 20);
    fail_each_transfer(
        [&] {
            restart();
            mounted = false;
            platform.put_card("blank", std::make_unique<test::MemoryDevice>(64ull << 20));
        },
        [&]() -> int32_t {
            std::uint32_t n = 0;
            int32_t status = CL_LyFS_Create_Partition("mem:blank", LYFS_PART_FAT32, 8, &n, &n, 0);
            status = status
                         ? status
                         : CL_LyFS_Create_Partition("mem:blank", LYFS_PART_LYFS, 1000, &n, &n, 0);
            return status ? status : CL_LyFS_Delete_Partition("mem:blank", LYFS_PART_FAT32);
        },
        [&](int32_t status, IoOp) {
            EXPECT_TRUE(status == LYFS_OK || status == LYFS_ERR_MOUNT || status == LYFS_ERR_READ ||
                        status == LYFS_ERR_WRITE)
                << status;
        });
}

}  // namespace
}  // namespace lyfs
