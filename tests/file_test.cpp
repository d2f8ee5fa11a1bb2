// Files end to end through the exports: create, write, close, read, seek,
// list, and what a card holds afterwards.
#include <gtest/gtest.h>

#include "file/open_files.h"
#include "support/mounted_card.h"

namespace lyfs {
namespace {

using test::pattern;

class FileTest : public test::MountedCardTest {
protected:
    std::uint64_t card_mib() const override { return 1024; }
    void SetUp() override {
        MountedCardTest::SetUp();
        ASSERT_EQ(mount(), LYFS_OK);
    }
};

TEST_F(FileTest, AlignedWritesGoStraightToTheCard) {
    const auto bytes = pattern(10 * 131072, 2);
    const std::uint32_t fd = open("/DATA/aligned_recording.ts", "w");
    const auto before = platform.counters;
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(CL_LyFS_File_Write(&desc, bytes.data() + i * 131072, 131072, fd), 131072);
    }
    // One data request per cluster, one FAT sector per new cluster, nothing read back.
    EXPECT_EQ(platform.counters.writes - before.writes, 10u + 9u);
    EXPECT_EQ(platform.counters.bytes_written - before.bytes_written, 10u * 131072 + 9u * 512);
    EXPECT_EQ(platform.counters.reads - before.reads, 0u);
    const auto at_close = platform.counters;
    ASSERT_EQ(CL_LyFS_File_Close(&desc, fd), LYFS_OK);
    EXPECT_EQ(platform.counters.writes - at_close.writes, 2u) << "end mark and entry";
    EXPECT_EQ(platform.counters.flushes - at_close.flushes, 2u) << "data, then the commit";
    EXPECT_EQ(read_all("/DATA/aligned_recording.ts"), bytes);
}

// A file holds at most 256 MiB: the write that would take it further is refused and charged
// nothing, and the file still commits whole.
TEST_F(FileTest, TheLargestFileTakesNoByteMore) {
    const auto piece = pattern(1 << 20, 6);
    const std::uint32_t fd = open("/DATA/largest_recording.ts", "w");
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(CL_LyFS_File_Write(&desc, piece.data(), 1 << 20, fd), 1 << 20) << i;
    }
    const std::uint64_t free = folder("DATA")->free_space;
    EXPECT_EQ(CL_LyFS_File_Write(&desc, piece.data(), 0, fd), 0) << "nothing is no failure";
    EXPECT_EQ(CL_LyFS_File_Write(&desc, piece.data(), 1, fd), -1);
    EXPECT_TRUE(log.contains("[ERROR]write_file, file size is over limit\n"));
    EXPECT_EQ(folder("DATA")->free_space, free);
    ASSERT_EQ(CL_LyFS_File_Close(&desc, fd), LYFS_OK);
    EXPECT_EQ(folder("DATA")->file_list_tail->file_size, 256u << 20);
    expect_clean_card();
}

// Wherever the library makes what was written durable, a flush that fails is reported, and
// what it could not make durable stays uncommitted.
TEST_F(FileTest, FailedFlushesAreReported) {
    const auto bytes = pattern(200'000, 5);
    const auto writer = [&](const std::string& name) {
        const std::uint32_t fd = open("/DATA/" + name, "w");
        EXPECT_EQ(CL_LyFS_File_Write(&desc, bytes.data(), 200'000, fd), 200'000);
        return fd;
    };
    platform.fail_flush = true;
    // The data's flush before the commit writes the record, then the flush behind it.
    EXPECT_EQ(CL_LyFS_File_Close(&desc, writer("data_not_flushed.ts")), LYFS_FAIL);
    platform.flushes_before_failure = 1;
    EXPECT_EQ(CL_LyFS_File_Close(&desc, writer("record_not_flushed.ts")), LYFS_FAIL);
    const std::uint32_t reader = open("/DATA/record_not_flushed.ts", "r");
    EXPECT_EQ(lyfs_file_flush(&desc, reader), LYFS_OK) << "a reader has nothing to flush";
    EXPECT_EQ(CL_LyFS_File_Close(&desc, reader), LYFS_OK);
    const std::uint32_t held = writer("left_open_write.ts");
    EXPECT_EQ(lyfs_file_flush(&desc, held), LYFS_ERR_WRITE);
    ASSERT_EQ(CL_LyFS_File_Write(&desc, bytes.data(), 1000, held), 1000);
    platform.fail_flush = false;
    platform.arm({.op = test::IoOp::kWrite});
    EXPECT_EQ(lyfs_file_flush(&desc, held), LYFS_ERR_WRITE) << "what it holds back stays held";
    // A device closed with bytes a writer holds back that cannot be written, or with a flush
    // that fails after they were, has not kept what the host wrote.
    platform.arm({.op = test::IoOp::kWrite});
    EXPECT_EQ(CL_LyFS_Device_Close(&desc), LYFS_ERR_WRITE) << "the held bytes";
    mounted = false;
    ASSERT_EQ(mount(), LYFS_OK);
    EXPECT_EQ(listing("DATA"),
              (std::vector<std::string>{"data_not_flushed.ts 0", "record_not_flushed.ts 200000",
                                        "left_open_write.ts 0"}))
        << "the record was written, if not flushed";
    expect_clean_card();
    writer("second_open_write.ts");
    platform.fail_flush = true;
    platform.flushes_before_failure = 1;
    EXPECT_EQ(CL_LyFS_Device_Close(&desc), LYFS_ERR_WRITE) << "the last flush";
    mounted = false;
    platform.fail_flush = false;
}

TEST_F(FileTest, SeekTellAndReadsAtTheChainsEnd) {
    write_file("/DATA/hundred_bytes.ts", pattern(100, 4), 100);
    const std::uint32_t fd = open("/DATA/hundred_bytes.ts", "r");
    // In turn: from the end, before the start, a seek to exactly the size
    // refused and the position unchanged, then on from where it stands.
    EXPECT_EQ(test::Values(
                  {CL_LyFS_File_Seek(&desc, fd, LYFS_SEEK_END, -10), CL_LyFS_File_Tell(&desc, fd),
                   CL_LyFS_File_Seek(&desc, fd, LYFS_SEEK_END, -200),
                   CL_LyFS_File_Seek(&desc, fd, LYFS_SEEK_SET, 50),
                   CL_LyFS_File_Seek(&desc, fd, LYFS_SEEK_SET, 100), CL_LyFS_File_Tell(&desc, fd),
                   CL_LyFS_File_Seek(&desc, fd, LYFS_SEEK_CUR, 20)}),
              test::Values({90, 90, 0, 50, 0, 50, 70}));

    // Reads follow the chain, not the size: to the cluster's end, then the
    // end mark, then nothing.
    std::vector<std::uint8_t> buffer(300'000);
    ASSERT_EQ(CL_LyFS_File_Seek(&desc, fd, LYFS_SEEK_SET, 0), 0u);
    EXPECT_EQ(log.count("seek_file failed"), 1u) << "a seek to 0 is no failure";
    EXPECT_EQ(CL_LyFS_File_Read(&desc, buffer.data(), 300'000, fd), 131072);
    EXPECT_TRUE(log.contains("[ERROR]read_file, EOC:0xffffff8, total_bytes:168928\n"));
    EXPECT_EQ(CL_LyFS_File_Read(&desc, buffer.data(), 10, fd), 0);
    EXPECT_EQ(CL_LyFS_File_Read(&desc, buffer.data(), 0, fd), 0);

    // Past the clusters the file holds nothing is read from the card.
    EXPECT_EQ(CL_LyFS_File_Seek(&desc, fd, LYFS_SEEK_CUR, 5'000'000), 5'131'072u);
    const auto reads = platform.counters.reads;
    EXPECT_EQ(CL_LyFS_File_Read(&desc, buffer.data(), 100, fd), 0);
    EXPECT_EQ(platform.counters.reads, reads);
    // A reader may patch the file in place, but its close commits no longer chain.
    EXPECT_EQ(CL_LyFS_File_Seek(&desc, fd, LYFS_SEEK_END, 131072 - 100), 131072u);
    EXPECT_EQ(CL_LyFS_File_Write(&desc, buffer.data(), 1, fd), -1);
    ASSERT_EQ(CL_LyFS_File_Close(&desc, fd), LYFS_OK);
    expect_clean_card();

    const std::uint32_t wfd = open("/DATA/fresh_write_node.ts", "w");
    // Not positioned until it is written to.
    EXPECT_EQ(test::Values({CL_LyFS_File_Tell(&desc, wfd),
                            CL_LyFS_File_Seek(&desc, wfd, LYFS_SEEK_SET, 1234),
                            CL_LyFS_File_Tell(&desc, wfd), CL_LyFS_File_Close(&desc, wfd)}),
              test::Values({-1, 0, 0, LYFS_OK}));
}

TEST_F(FileTest, ListingPagesThroughAFolderAndTellsWhenEachWasCreated) {
    platform.now = {2025, 6, 14, 8, 1, 59};
    for (int i = 0; i < 5; ++i) {
        write_file("/PHOTO/photo_000" + std::to_string(i) + ".jpg", pattern(10, i), 10);
    }
    remount();  // the time comes from the record on the card
    std::vector<std::uint8_t> buffer(LYFS_FILE_LIST_BYTES(3));
    auto* list = reinterpret_cast<lyfs_file_list*>(buffer.data());
    // The names listed from `start`, then where the next page starts.
    auto page = [&](std::uint32_t start, std::uint32_t count, std::uint32_t sort,
                    const char* name = "PHOTO") {
        list->count = count;
        const int32_t n = CL_LyFS_Get_FileList(&desc, name, &start, list, sort);
        std::string names = n < 0 ? "status " + std::to_string(n) + " " : "";
        for (int32_t i = 0; i < n; ++i) {
            names += std::string(LYFS_FILE_LIST_RECORD(list, i)->name) + " ";
        }
        return names + "@" + std::to_string(start);
    };
    EXPECT_EQ(page(1, 3, 0), "photo_0000.jpg photo_0001.jpg photo_0002.jpg @4");
    EXPECT_EQ(page(4, 3, 0), "photo_0003.jpg photo_0004.jpg @6");
    EXPECT_EQ(page(1, 2, 1), "photo_0004.jpg photo_0003.jpg @3");
    EXPECT_EQ(page(6, 3, 0) + page(1, 0, 0) + page(0, 3, 0) + page(1, 3, 0, "DATA"), "@6@1@0@1")
        << "past the end, nothing asked for, before the start, an empty folder";
    EXPECT_EQ(page(1, 3, 0, "photo"), "status -1 @1");
    page(1, 1, 0);
    EXPECT_EQ(+list->files[0].file_size, 10u);
    lyfs_file_time t{};
    ASSERT_EQ(lyfs_get_file_time(&desc, list->files[0].fd, &t), LYFS_OK);
    EXPECT_EQ(test::Values({t.year, t.month, t.day, t.hour, t.minute, t.second}),
              test::Values({2025, 6, 14, 8, 1, 58}))
        << "to two seconds";

    DirInfo info{};
    std::uint64_t total = 0, free = 0;
    ASSERT_EQ(CL_LyFS_Get_Dir_Info(&desc, "PHOTO", &info, &total, &free), LYFS_OK);
    EXPECT_STREQ(info.fold_name, "PHOTO");
    EXPECT_EQ(test::Values({info.max_file_num, static_cast<std::int64_t>(total - info.total_space),
                            static_cast<std::int64_t>(total - free)}),
              test::Values({1000, 0, 5 * 131072}));
    std::uint32_t descriptor = 0;
    EXPECT_EQ(CL_LyFS_Get_Dir_Desciptor(&desc, "EVENT", &descriptor), LYFS_OK);
    EXPECT_EQ(lyfs_get_file_time(&desc, descriptor, &t), LYFS_FAIL) << "a folder's handle";
    dev_desc none{};
    EXPECT_EQ(test::Values({CL_LyFS_Get_Dir_Desciptor(&desc, "NOPE", &descriptor),
                            CL_LyFS_Get_Dir_Desciptor(&none, "EVENT", &descriptor),
                            lyfs_get_file_time(&none, list->files[0].fd, &t)}),
              test::Values({LYFS_ERR_NO_FOLDER, LYFS_ERR_NO_PARTITION, LYFS_ERR_NO_PARTITION}));
}

TEST_F(FileTest, OpeningRules) {
    write_file("/DATA/same_name_file.ts", pattern(10, 7), 10);
    write_file("/PHOTO/same_name_file.ts", pattern(20, 8), 20);
    const std::uint32_t a = open("/DATA/same_name_file.ts", "r");
    EXPECT_EQ(open("/DATA/same_name_file.ts", "r"), a) << "one node, one fd";
    const std::uint32_t b = open("/PHOTO/same_name_file.ts", "r");
    EXPECT_NE(b, a) << "the short cut compares the folder too";
    EXPECT_EQ(CL_LyFS_File_Open(&desc, nullptr, "r", 0, 0, b), b) << "found by fd";
    EXPECT_EQ(CL_LyFS_File_Open(&desc, "", "r", 0, 0, 0x7777), LYFS_INVALID_FD);
    EXPECT_EQ(CL_LyFS_File_Close(&desc, a), LYFS_OK);
    EXPECT_EQ(CL_LyFS_File_Close(&desc, b), LYFS_OK);

    const std::string longest(39, 'L');
    write_file("/DATA/" + longest, pattern(5, 9), 5);
    EXPECT_EQ(read_all("/DATA/" + longest).size(), 5u);
    // A path at the limit is parsed: only its folder is not there.
    EXPECT_EQ(open("/" + std::string(127, 'p'), "r"), LYFS_INVALID_FD);
    EXPECT_FALSE(log.contains("file_path is over limit"));
    // No folder, a path over the limit, the fd form for writing, a file that
    // is not there, no name (bad_input_test has the other names no file has).
    EXPECT_EQ(test::Values({open("/NAME_ONLY_FILE.ts", "w"), open("/" + std::string(128, 'p'), "r"),
                            CL_LyFS_File_Open(&desc, nullptr, "w", 0, 0, a),
                            open("/DATA/not_there_at_all.ts", "r"), open("/DATA/", "w")}),
              test::Values(5, LYFS_INVALID_FD));
    EXPECT_TRUE(log.contains("[ERROR]CL_LyFS_File_Open, file_path is over limit\n"));
    // "rb" reads, but takes neither the short cut nor the fd form.
    const std::uint32_t c = open("/DATA/same_name_file.ts", "rb");
    EXPECT_NE(c, LYFS_INVALID_FD);
    EXPECT_EQ(CL_LyFS_File_Open(&desc, nullptr, "rb", 0, 0, c), LYFS_INVALID_FD);
    EXPECT_EQ(CL_LyFS_File_Close(&desc, c), LYFS_OK);
    EXPECT_EQ(CL_LyFS_File_Tell(nullptr, c), -1);
}

TEST_F(FileTest, AWriteThatWouldDeleteAnOpenFileAndAFailedCreateFail) {
    // The only file of the folder is the one being written.
    const auto bytes = pattern(1 << 20, 11);
    const std::uint32_t fd = open("/PHOTO/only_recording.mp4", "w");
    int32_t result = 0;
    for (int i = 0; i < 200 && result >= 0; ++i) {
        result = CL_LyFS_File_Write(&desc, bytes.data(), 1 << 20, fd);
    }
    EXPECT_EQ(result, -1);
    const std::uint32_t written = folder("PHOTO")->file_list_head->file_size;
    ASSERT_EQ(CL_LyFS_File_Close(&desc, fd), LYFS_OK);
    remount();
    std::uint32_t size = 0;
    read_all("/PHOTO/only_recording.mp4", &size);
    EXPECT_EQ(size, written) << "nothing of it is lost";

    // A failed create gives its slot back.
    write_file("/DATA/first_file_000.ts", pattern(10, 12), 10);
    stFOLDER* data = folder("DATA");
    const std::uint32_t tail = data->fe_tail_index;
    platform.arm({test::IoOp::kWrite, 1});  // the new entry's write
    EXPECT_EQ(open("/DATA/second_file_01.ts", "w"), LYFS_INVALID_FD);
    platform.disarm();
    EXPECT_EQ(test::Values({data->fe_tail_index, data->fe_valid_entries}), test::Values({tail, 1}));
    write_file("/DATA/second_file_01.ts", pattern(10, 13), 10);
    EXPECT_EQ(data->file_list_tail->file_entry_index, 1u);
}

// Files written at once: a search that comes round to a writer's newest cluster, whose FAT entry
// reads free until its chain grows on or it is closed, passes over it.
TEST_F(FileTest, WritersAtOnceNeverShareACluster) {
    const std::int32_t cluster = files->cluster_bytes();
    stFOLDER* data = folder("DATA");
    const auto come_round_to = [&](std::uint32_t c) {
        data->fc_cursor = c - data->n_fc_start_cluster - 1;
    };
    const std::uint32_t first = open("/DATA/first_writer_000.ts", "w");
    const std::uint32_t first_start = data->file_list_tail->start_cluster;
    come_round_to(first_start);
    const std::uint32_t second = open("/DATA/second_writer_01.ts", "w");
    EXPECT_NE(data->file_list_tail->start_cluster, first_start) << "a start not yet written";
    const auto one = pattern(cluster, 1);
    const auto two = pattern(2 * cluster, 2);
    ASSERT_EQ(CL_LyFS_File_Write(&desc, one.data(), cluster, first), cluster);
    ASSERT_EQ(CL_LyFS_File_Write(&desc, two.data(), cluster, second), cluster);
    come_round_to(first_start);
    ASSERT_EQ(CL_LyFS_File_Write(&desc, two.data() + cluster, cluster, second), cluster);
    ASSERT_EQ(CL_LyFS_File_Close(&desc, first), LYFS_OK);
    ASSERT_EQ(CL_LyFS_File_Close(&desc, second), LYFS_OK);
    // Nor does a new file take the start of one closed with nothing written.
    const std::uint64_t free_before = data->free_space;
    const std::uint32_t empty = open("/DATA/closed_empty_file.ts", "w");
    const std::uint32_t empty_start = data->file_list_tail->start_cluster;
    ASSERT_EQ(CL_LyFS_File_Close(&desc, empty), LYFS_OK);
    EXPECT_EQ(data->free_space, free_before - cluster) << "charged, as a remount counts it";
    come_round_to(empty_start);
    write_file("/DATA/third_writer_001.ts", two, cluster);
    remount();
    EXPECT_EQ(read_all("/DATA/first_writer_000.ts"), one);
    EXPECT_EQ(read_all("/DATA/second_writer_01.ts"), two);
    EXPECT_EQ(read_all("/DATA/closed_empty_file.ts").size(), files->cluster_bytes());
    EXPECT_EQ(read_all("/DATA/third_writer_001.ts"), two);
    expect_clean_card();

    // Nor the last cluster of a writer that a device close left unclosed behind a newer one.
    const std::uint32_t older = open("/DATA/older_unclosed_0.ts", "w");
    ASSERT_EQ(CL_LyFS_File_Write(&desc, two.data(), 2 * cluster, older), 2 * cluster);
    const std::uint32_t older_last =
        last_cluster_of(find_open_file_list(part(), older)->clus_chain);
    const std::uint32_t newer = open("/DATA/newer_unclosed_0.ts", "w");
    ASSERT_EQ(CL_LyFS_File_Write(&desc, one.data(), cluster, newer), cluster);
    remount();
    data = folder("DATA");
    come_round_to(older_last);
    write_file("/DATA/fourth_writer_01.ts", two, cluster);
    EXPECT_EQ(read_all("/DATA/older_unclosed_0.ts"), two);
    EXPECT_EQ(read_all("/DATA/fourth_writer_01.ts"), two);
    expect_clean_card();
}

// A chain that turns back on itself, or runs into a bad-cluster mark, where every repair fails so
// the link stays on the card: reads still end there rather than hand out the file's clusters again
// or read the bad one, and a data or FAT sector that cannot be read fails the read.
TEST_F(FileTest, ReadsEndWhereAChainLeftUnmendedTurnsBack) {
    const std::uint32_t cluster = files->cluster_bytes();
    const std::uint32_t start = files->folder("DATA").content_start;
    files->place("DATA", 0, "looping_chain.ts", 3 * cluster, {start, start + 1}, start);
    files->place("DATA", 1, "marked_chain.ts", 2 * cluster, {start + 2}, 0x0FFFFFF7);
    unmount();
    platform.arm({test::IoOp::kWrite, 1, true});
    ASSERT_EQ(mount(), LYFS_OK);
    EXPECT_EQ(log.count("[INFO]setup_folder_fat_entry, file's FAT table has been update"), 2u)
        << "a repair that does not hold is tried three times in all, not forever";
    const std::uint32_t fd = open("/DATA/looping_chain.ts", "r");
    const std::uint32_t marked = open("/DATA/marked_chain.ts", "r");
    std::vector<std::uint8_t> buffer(10 * cluster);
    for (const std::uint64_t failing : {1, 2}) {  // the clusters' data, then the FAT sector
        platform.arm({test::IoOp::kRead, failing});
        EXPECT_EQ(CL_LyFS_File_Read(&desc, buffer.data(), 10 * cluster, fd), -1);
    }
    EXPECT_EQ(CL_LyFS_File_Read(&desc, buffer.data(), 10 * cluster, fd), 0);
    EXPECT_TRUE(log.contains("[ERROR]read_file, invalid cluster:0x"));
    ASSERT_EQ(CL_LyFS_File_Close(&desc, fd), LYFS_OK);
    EXPECT_EQ(CL_LyFS_File_Read(&desc, buffer.data(), 10 * cluster, marked),
              static_cast<int32_t>(cluster));
    EXPECT_TRUE(log.contains("[ERROR]read_file, invalid cluster:0xffffff7"));
    ASSERT_EQ(CL_LyFS_File_Close(&desc, marked), LYFS_OK);
}

}  // namespace
}  // namespace lyfs
