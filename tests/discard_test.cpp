// Discarding a file being written: the card and the folder end as before the
// create, whichever transfer fails on the way.
#include <gtest/gtest.h>

#include "support/mounted_card.h"

namespace lyfs {
namespace {

using test::IoOp;
using test::name_of;

constexpr const char* kNew = "/DATA/NEW_RECORDING_01.MP4";

class DiscardTest : public test::MountedCardTest {
protected:
    void SetUp() override {
        MountedCardTest::SetUp();
        files->place_run("DATA", 0, name_of(0), 1000, 0, 1);
        files->place_run("DATA", 1, name_of(1), 1000, 1, 1);
        start = platform.card("c").clone();
    }
    // Mounts the starting card afresh and opens kNew with `bytes` written.
    std::uint32_t write_new(std::size_t bytes) {
        platform.put_card("c", start->clone());
        EXPECT_EQ(mount(), LYFS_OK);
        free_before = folder("DATA")->free_space;
        ring_before = ring("DATA");
        const std::uint32_t fd = open(kNew, "w");
        EXPECT_NE(fd, LYFS_INVALID_FD);
        write_pieces(fd, test::pattern(bytes, 7), 1 << 20);
        return fd;
    }
    // The card mounts as before the create, and checks clean.
    void expect_as_before() {
        expect_clean_card();
        ASSERT_EQ(mount(), LYFS_OK);
        EXPECT_EQ(listed_slots("DATA"), (std::vector<std::uint32_t>{0, 1}));
        EXPECT_EQ(folder("DATA")->free_space, free_before);
        unmount();
    }

    std::unique_ptr<test::MemoryDevice> start;
    std::uint64_t free_before = 0;
    Ring ring_before{};
};

TEST_F(DiscardTest, AnEmptiedFolderANewFileInTheSameSlotAndFilesThatCannotGo) {
    // The reclaim takes both older files while the new one is written.
    const std::uint32_t fd = write_new(0);
    for (const char* byte : {"x", "y"}) {
        folder("DATA")->free_space = 10 << 20;
        ASSERT_EQ(CL_LyFS_File_Write(&desc, byte, 1, fd), 1);
    }
    ASSERT_EQ(listed_slots("DATA"), std::vector<std::uint32_t>{2});
    ASSERT_EQ(lyfs_file_discard(&desc, fd), LYFS_OK);
    EXPECT_TRUE(log.contains("[RVFS]DISCARD File, Folder:DATA, File:NEW_RECORDING_01.MP4"));
    EXPECT_EQ(ring("DATA"), (Ring{kNoSector, kNoSector, 0}));
    EXPECT_EQ(CL_LyFS_File_Close(&desc, open(kNew, "w")), LYFS_OK);
    EXPECT_EQ(listed_slots("DATA"), std::vector<std::uint32_t>{0});
    unmount();

    // Only the newest file being written can be discarded.
    const std::uint32_t older = write_new(1000);
    const std::uint32_t newer = open("/DATA/NEWER_RECORDING.MP4", "w");
    EXPECT_EQ(lyfs_file_discard(&desc, older), LYFS_FAIL);
    const std::uint32_t reading = open("/DATA/REC_00000_000.MP4", "r");
    EXPECT_EQ(lyfs_file_discard(&desc, reading), LYFS_FAIL);
    EXPECT_EQ(lyfs_file_discard(&desc, 12345), LYFS_FAIL);
    EXPECT_EQ(lyfs_file_discard(nullptr, newer), LYFS_ERR_NO_PARTITION);
    for (std::uint32_t fd : {older, newer, reading}) {
        EXPECT_EQ(CL_LyFS_File_Close(&desc, fd), LYFS_OK);
    }
    unmount();

    ASSERT_EQ(lyfs_device_open_read_only("mem:c", "card", &desc), LYFS_OK);
    mounted = true;
    EXPECT_EQ(lyfs_file_discard(&desc, reading), LYFS_ERR_WRITE_PROTECTED);
}

TEST_F(DiscardTest, EveryTransferFailingInTurnLeavesTheFileToDiscardAgain) {
    const std::size_t bytes = 3 * files->cluster_bytes() + 17;
    std::uint32_t fd = 0;
    const std::size_t faults = fail_each_transfer(
        [&] {
            unmount();
            fd = write_new(bytes);
            folder("DATA")->fe_cache_sector = kNoSector;  // its sector is read too
            part()->fat_cache_sector = kNoSector;
        },
        [&] { return lyfs_file_discard(&desc, fd); },
        [&](int32_t status, IoOp) {
            EXPECT_TRUE(status == LYFS_ERR_READ || status == LYFS_ERR_WRITE) << status;
            FileInfo info{};
            ASSERT_EQ(CL_LyFS_Get_FileInfo(&desc, fd, &info), LYFS_OK) << "still open";
            EXPECT_EQ(+info.file_size, 0u) << "nothing left to commit";
            ASSERT_EQ(lyfs_file_discard(&desc, fd), LYFS_OK);
            EXPECT_EQ(folder("DATA")->free_space, free_before) << "nothing refunded twice";
            unmount();
            expect_as_before();
        });
    EXPECT_GE(faults, 6u);
    unmount();
    fd = write_new(bytes);
    platform.fail_flush = true;
    EXPECT_EQ(lyfs_file_discard(&desc, fd), LYFS_ERR_WRITE);
    platform.fail_flush = false;
    EXPECT_EQ(CL_LyFS_File_Close(&desc, fd), LYFS_FAIL) << "gone all the same";

    // Closed after a failed discard, the file is left unclosed.
    unmount();
    fd = write_new(3 * files->cluster_bytes() + 100);  // 100 bytes held back
    part()->fat_cache_sector = kNoSector;
    platform.arm({IoOp::kWrite, 2});  // its FAT sector is freed, its record stays
    ASSERT_EQ(lyfs_file_discard(&desc, fd), LYFS_ERR_WRITE);
    platform.disarm();
    const auto writes = platform.counters.writes;
    ASSERT_EQ(CL_LyFS_File_Close(&desc, fd), LYFS_OK);
    EXPECT_EQ(platform.counters.writes, writes + 1)
        << "no byte into clusters it gave back, its start's end mark alone";
    unmount();
    expect_clean_card();
    ASSERT_EQ(mount(), LYFS_OK);
    EXPECT_EQ(listed_slots("DATA"), (std::vector<std::uint32_t>{0, 1, 2}));
    EXPECT_EQ(folder("DATA")->file_list_tail->file_size, 0u) << "never committed";
}

// Most cards' rings are not a power of two long (5,000 files take 5,120 records), where a
// tail stepped back the wrong way round would land elsewhere.
class OddRingDiscardTest : public DiscardTest {
protected:
    lyfs_folder_table folder_table() const override { return test::default_folder_table(2100); }
};

TEST_F(OddRingDiscardTest, TheTailStepsBackToTheFileBefore) {
    ASSERT_EQ(lyfs_file_discard(&desc, write_new(1000)), LYFS_OK);
    EXPECT_EQ(ring("DATA"), ring_before);
    EXPECT_EQ(ring_before.count, 2u);
    unmount();
    expect_as_before();
}

}  // namespace
}  // namespace lyfs
