// The data path of recordings written and read in pieces that do not end on
// sector boundaries: what reaches the card, in how many requests, and that
// nothing is read back that the open file already knows.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "core/handles.h"
#include "entry/file_object.h"
#include "folder/folder.h"
#include "platform/memory.h"
#include "platform/platform.h"
#include "support/card_check.h"
#include "support/mounted_card.h"
#include "support/pattern.h"

namespace lyfs {
namespace {

using test::IoOp;
using test::IoRecord;

using test::pattern;

// A mounted card whose transfers are looked at.
class TransferTest : public test::MountedCardTest {
protected:
    // Transfers since log entry `from` that touch device bytes [first, end).
    std::vector<IoRecord> transfers_since(std::size_t from, IoOp op, std::uint64_t first = 0,
                                          std::uint64_t end = ~0ull) {
        std::vector<IoRecord> found;
        std::copy_if(platform.log.begin() + static_cast<std::ptrdiff_t>(from), platform.log.end(),
                     std::back_inserter(found), [&](const IoRecord& r) {
                         return r.op == op && r.offset + r.bytes > first && r.offset < end;
                     });
        return found;
    }
    static std::uint64_t bytes_of(const std::vector<IoRecord>& records) {
        return std::accumulate(records.begin(), records.end(), 0ull,
                               [](std::uint64_t n, const IoRecord& r) { return n + r.bytes; });
    }
};

class WritePathTest : public TransferTest {
protected:
    // Like most cards sold: its FAT of 124 sectors puts every cluster 2 KiB
    // into a 4 KiB page.
    std::uint64_t card_mib() const override { return 1984; }
    void SetUp() override {
        TransferTest::SetUp();
        ASSERT_EQ(mount(), LYFS_OK);
    }
    // Device byte offset of a cluster's first byte.
    std::uint64_t cluster_offset(std::uint32_t cluster) {
        return std::uint64_t{device_sector(part(), cluster_first_sector(part(), cluster))} * 512;
    }
    // Reads of the file's own clusters (which follow each other from `start`).
    std::size_t data_reads_since(std::size_t from, std::uint32_t start, std::uint32_t clusters) {
        return transfers_since(from, IoOp::kRead, cluster_offset(start),
                               cluster_offset(start + clusters))
            .size();
    }
    std::uint32_t newest_start(const char* folder_name) {
        return folder(folder_name)->file_list_tail->start_cluster;
    }
    std::vector<std::uint8_t> card_bytes(std::uint64_t offset, std::uint32_t n) {
        std::vector<std::uint8_t> bytes(n);
        platform.card("c").read(offset, bytes.data(), n);
        return bytes;
    }
};

struct Appending {
    std::uint32_t page_bytes;
    std::uint32_t piece;
};

class AppendingTest : public WritePathTest, public ::testing::WithParamInterface<Appending> {};

// The card's clusters start inside a page (2 KiB into one of 4 KiB, 30 KiB
// into one of 64 KiB), so every cluster ends inside one: the bytes there wait
// for the next piece, and no request but the file's first and last starts or
// ends inside a page.
TEST_P(AppendingTest, RequestsStartAndEndOnPagesAndNothingIsReadBack) {
    const std::uint32_t page = GetParam().page_bytes;
    platform.page_bytes = page;
    constexpr std::uint32_t kSize = 1'000'003;  // 8 clusters, the last one in part
    const auto bytes = pattern(kSize, 1);
    const std::uint32_t fd = open("/EVENT/odd_pieces_recording.ts", "w");
    ASSERT_NE(fd, LYFS_INVALID_FD);
    const std::uint32_t start = newest_start("EVENT");
    ASSERT_EQ(cluster_offset(start) % 4096, 2048u);
    const std::size_t from = platform.log.size();
    write_pieces(fd, bytes, GetParam().piece);
    ASSERT_EQ(CL_LyFS_File_Close(&desc, fd), LYFS_OK);
    EXPECT_EQ(data_reads_since(from, start, 8), 0u);

    const auto data =
        transfers_since(from, IoOp::kWrite, cluster_offset(start), cluster_offset(start + 8));
    ASSERT_FALSE(data.empty());
    for (std::size_t i = 0; i < data.size(); ++i) {
        EXPECT_TRUE(i == 0 || data[i].offset % page == 0) << i;
        EXPECT_TRUE(i + 1 == data.size() || (data[i].offset + data[i].bytes) % page == 0) << i;
    }
    // At most one request per piece, and one more where a piece crosses
    // into a new cluster (after its FAT link) and at close.
    EXPECT_LE(data.size(), (kSize + GetParam().piece - 1) / GetParam().piece + 7 + 1);

    // The card holds the bytes in the file's clusters, and zeros after its
    // end in the last sector written.
    auto expected = bytes;
    expected.resize((kSize + 511) / 512 * 512);
    EXPECT_EQ(card_bytes(cluster_offset(start), expected.size()), expected);
    expect_clean_card();
}

INSTANTIATE_TEST_SUITE_P(PagesAndPieces, AppendingTest,
                         ::testing::Values(Appending{4096, 100'000}, Appending{4096, 131072},
                                           Appending{4096, 1000}, Appending{16384, 99'999},
                                           Appending{65536, 131072}, Appending{512, 100'000}));

// Held bytes wait only for a write that continues them: in turn a seek
// elsewhere, a seek to where the file stands (the one step they wait
// through), a read, close, closing the device, stopping the library.
TEST_F(WritePathTest, HeldBytesReachTheCardWhenNothingContinuesThem) {
    const auto bytes = pattern(100'000, 9);
    std::uint32_t fd = 0;
    std::uint8_t byte = 0;
    const std::function<std::int64_t()> steps[] = {
        [&] { return CL_LyFS_File_Seek(&desc, fd, LYFS_SEEK_SET, 0); },
        [&] { return CL_LyFS_File_Seek(&desc, fd, LYFS_SEEK_CUR, 0); },
        [&] { return CL_LyFS_File_Read(&desc, &byte, 1, fd); },
        [&] { return CL_LyFS_File_Close(&desc, fd); },
        [&] { return CL_LyFS_Device_Close(&desc); },
        [&] { return CL_LyFS_Stop() + CL_LyFS_Start(); }};
    const std::int64_t answers[] = {0, 100'000, 1, LYFS_OK, LYFS_OK, LYFS_OK};
    for (int step = 0; step < 6; ++step) {
        fd = open("/DATA/held_back_" + std::to_string(step) + ".ts", "w");
        ASSERT_EQ(CL_LyFS_File_Write(&desc, bytes.data(), 100'000, fd), 100'000);
        const std::uint64_t at = cluster_offset(newest_start("DATA"));
        EXPECT_NE(card_bytes(at, 100'000), bytes) << "the bytes inside the last page wait";
        const auto flushes = platform.counters.flushes;
        EXPECT_EQ(steps[step](), answers[step]) << step;
        EXPECT_EQ(card_bytes(at, 100'000) == bytes, step != 1) << step;
        // Once written they are not written again: a read after the seek writes nothing.
        const auto writes = platform.counters.writes;
        EXPECT_EQ(step == 0 ? steps[2]() : 1, 1);
        EXPECT_EQ(platform.counters.writes, writes) << step;
        if (step >= 4) {
            EXPECT_GE(platform.counters.flushes - flushes, 1u) << step << ": made durable";
            ASSERT_EQ(mount(), LYFS_OK);
        } else {
            CL_LyFS_File_Close(&desc, fd);
        }
    }
}

TEST_F(WritePathTest, ReadingInOddPiecesTakesOneRequestPerPiece) {
    const auto bytes = pattern(2'000'000, 2);
    write_file("/DATA/read_in_pieces_file.ts", bytes, 131072);
    const std::uint32_t fd = open("/DATA/read_in_pieces_file.ts", "r");
    const std::size_t from = platform.log.size();
    EXPECT_EQ(read_pieces(fd, bytes.size(), 100'000), bytes);
    // The clusters follow each other on the card, so a piece that crosses
    // into the next one is still one request; the sector a piece ends in
    // serves the next piece's head.
    const auto reads = transfers_since(from, IoOp::kRead);
    EXPECT_EQ(reads.size(), 20u);
    EXPECT_EQ(bytes_of(reads), (2'000'000u + 511) / 512 * 512) << "each sector once";
    ASSERT_EQ(CL_LyFS_File_Close(&desc, fd), LYFS_OK);
    EXPECT_TRUE(transfers_since(from, IoOp::kWrite).empty()) << "a reader writes nothing";
    // Pieces inside one sector read it once.
    const std::uint32_t again = open("/DATA/read_in_pieces_file.ts", "r");
    const std::size_t small_from = platform.log.size();
    EXPECT_EQ(read_pieces(again, 500, 100), std::vector(bytes.begin(), bytes.begin() + 500));
    EXPECT_EQ(transfers_since(small_from, IoOp::kRead).size(), 1u);
    ASSERT_EQ(CL_LyFS_File_Close(&desc, again), LYFS_OK);
    // An open without memory for its node, its page copy or its chain array
    // leaves nothing open.
    for (std::uint64_t nth = 1; nth <= 3; ++nth) {
        platform::fail_allocation_at(nth);
        EXPECT_EQ(open("/DATA/read_in_pieces_file.ts", "r"), LYFS_INVALID_FD) << nth;
        platform::fail_allocation_at(0);
        EXPECT_EQ(part()->open_file_list, nullptr) << nth;
    }
    EXPECT_TRUE(log.contains("[ERROR]register_open_file_list, malloc for page copy failed\n"));
    EXPECT_EQ(read_all("/DATA/read_in_pieces_file.ts"), bytes);
}

TEST_F(WritePathTest, InterleavedFilesAndAPatchInPlaceReadAndWriteRight) {
    // Two recordings written at once take turns at the clusters.
    auto a = pattern(600'000, 3);
    const auto b = pattern(600'000, 4);
    const std::uint32_t fa = open("/DATA/interleaved_one.ts", "w");
    const std::uint32_t fb = open("/DATA/interleaved_two.ts", "w");
    for (std::size_t at = 0; at < a.size(); at += 77'777) {
        const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(77'777, a.size() - at));
        ASSERT_EQ(CL_LyFS_File_Write(&desc, a.data() + at, n, fa), static_cast<int32_t>(n));
        ASSERT_EQ(CL_LyFS_File_Write(&desc, b.data() + at, n, fb), static_cast<int32_t>(n));
    }
    // A patch inside sectors the node holds no copy of reads them first.
    ASSERT_EQ(CL_LyFS_File_Seek(&desc, fa, LYFS_SEEK_SET, 1000), 1000u);
    const auto patch = pattern(700, 6);
    const std::size_t from = platform.log.size();
    const std::uint64_t free_before = folder("DATA")->free_space;
    ASSERT_EQ(CL_LyFS_File_Write(&desc, patch.data(), 700, fa), 700);
    EXPECT_EQ(data_reads_since(from, folder("DATA")->file_list_head->start_cluster, 1), 2u)
        << "its head and tail sector";
    EXPECT_EQ(folder("DATA")->free_space, free_before) << "in place: nothing charged";
    std::copy(patch.begin(), patch.end(), a.begin() + 1000);
    // A second patch in the first one's last sector builds it from the node's copy.
    ASSERT_EQ(CL_LyFS_File_Seek(&desc, fa, LYFS_SEEK_SET, 1800), 1800u);
    ASSERT_EQ(CL_LyFS_File_Write(&desc, patch.data(), 50, fa), 50);
    std::copy(patch.begin(), patch.begin() + 50, a.begin() + 1800);
    // One shorter than a sector, at a sector's start, keeps the rest of that sector.
    ASSERT_EQ(CL_LyFS_File_Seek(&desc, fa, LYFS_SEEK_SET, 4096), 4096u);
    ASSERT_EQ(CL_LyFS_File_Write(&desc, patch.data(), 100, fa), 100);
    std::copy(patch.begin(), patch.begin() + 100, a.begin() + 4096);
    // A position beyond the chain would fork it on the card: refused.
    ASSERT_EQ(CL_LyFS_File_Seek(&desc, fa, LYFS_SEEK_END, 400'000), 1'000'000u);
    EXPECT_EQ(CL_LyFS_File_Write(&desc, patch.data(), 500, fa), -1);
    EXPECT_TRUE(log.contains("[ERROR]write_file, position beyond the cluster chain, file_pos:"));
    // Reading back through the same node sees the patch, not an old copy.
    ASSERT_EQ(CL_LyFS_File_Seek(&desc, fa, LYFS_SEEK_SET, 0), 0u);
    EXPECT_EQ(read_pieces(fa, a.size(), 1000), a);
    ASSERT_EQ(CL_LyFS_File_Close(&desc, fa), LYFS_OK);
    ASSERT_EQ(CL_LyFS_File_Close(&desc, fb), LYFS_OK);
    EXPECT_EQ(read_all("/DATA/interleaved_one.ts"), a);
    EXPECT_EQ(read_all("/DATA/interleaved_two.ts"), b);
    expect_clean_card();
}

TEST_F(WritePathTest, AFailedWriteKeepsWhatWasHeldBackForTheNextAttempt) {
    auto bytes = pattern(250'000, 7);
    const std::uint32_t fd = open("/DATA/failing_piece_file.ts", "w");
    write_pieces(fd, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 100'000), 100'000);
    platform.arm({IoOp::kWrite, 1});
    EXPECT_EQ(CL_LyFS_File_Write(&desc, bytes.data() + 100'000, 100'000, fd), -1);
    platform.disarm();
    // The host writes the piece again from where the file stands; what the
    // first piece held back goes with it again, and nothing is read back.
    const std::size_t from = platform.log.size();
    ASSERT_EQ(CL_LyFS_File_Write(&desc, bytes.data() + 100'000, 150'000, fd), 150'000);
    EXPECT_EQ(data_reads_since(from, newest_start("DATA"), 2), 0u);
    ASSERT_EQ(CL_LyFS_File_Close(&desc, fd), LYFS_OK);
    EXPECT_EQ(read_all("/DATA/failing_piece_file.ts"), bytes);
}

// Host sessions with one file, through helpers that note what the host
// was told.
class SessionTest : public WritePathTest, public ::testing::WithParamInterface<int> {
protected:
    struct Outcome {
        bool closed = false;              // the file was closed without an error
        bool close_tried = false;         // the session closed the file or the device
        std::uint32_t size = 0;           // what the file holds by the positions written
        std::vector<std::uint8_t> told;   // the bytes of the writes that succeeded
        std::vector<std::uint8_t> tried;  // and of the one that failed
    };
    // Writes bytes [at, at + n) of `bytes` where the file stands.
    bool put(std::uint32_t fd, std::uint32_t at, std::uint32_t n) {
        const std::uint8_t* src = bytes.data() + at;
        const auto pos =
            static_cast<std::uint32_t>(std::max<int32_t>(0, CL_LyFS_File_Tell(&desc, fd)));
        out.tried.resize(std::max<std::size_t>(out.tried.size(), pos + n));
        std::copy(src, src + n, out.tried.begin() + pos);
        const bool ok = CL_LyFS_File_Write(&desc, src, n, fd) == static_cast<int32_t>(n);
        // A failed write keeps the pieces it wrote before failing.
        out.size = std::max(out.size, static_cast<std::uint32_t>(CL_LyFS_File_Tell(&desc, fd)));
        out.told = ok ? out.tried : out.told;
        return ok;
    }
    bool close(std::uint32_t fd) {
        out.close_tried = true;
        return out.closed = CL_LyFS_File_Close(&desc, fd) == LYFS_OK;
    }
    bool close_device() {
        out.close_tried = true;
        mounted = false;
        return CL_LyFS_Device_Close(&desc) == LYFS_OK;
    }
    // Runs a session on a new file; where a step failed, closes the file.
    int32_t run(const std::string& path, const std::function<bool(std::uint32_t)>& session) {
        out = {};
        const std::uint32_t fd = open(path, "w");
        const bool clean = fd != LYFS_INVALID_FD && session(fd);
        if (!out.close_tried && fd != LYFS_INVALID_FD) {
            close(fd);
        }
        return clean ? LYFS_OK : LYFS_FAIL;
    }
    Outcome out;
    std::vector<std::uint8_t> bytes = pattern(400'000, 21);
};

// Every transfer of each session failing in turn, once and for good.
// Whatever the calls report, a close that succeeds commits what the file
// holds: the bytes the writes were told written (where a write failed,
// each of its bytes as it was or as it was to be), and the file committed
// before stays intact.
TEST_P(SessionTest, EveryTransferFailingInTurn) {
    // The file committed before takes the last cluster but one of a FAT sector and the last slot
    // of a record sector, so each session's file starts on that FAT sector's last cluster and
    // grows across into the next, and its record goes into the next record sector.
    const std::uint32_t content = files->folder("DATA").content_start;
    const std::uint32_t before_crossing = (content / 128 + 1) * 128 - 2;
    const auto committed = pattern(512, 20);
    files->place_run("DATA", 3, "committed_before.ts", 512, before_crossing - content, 1);
    files->set_rel(files->data_start() + (before_crossing - 2) * 256, committed);
    unmount();
    const auto start = platform.card("c").clone();
    std::uint8_t scratch[10];
    const std::function<bool(std::uint32_t)> sessions[] = {
        [&](std::uint32_t fd) {
            return put(fd, 0, 150'001) && put(fd, 150'001, 249'999) && close(fd);
        },
        [&](std::uint32_t fd) {
            return put(fd, 0, 150'001) &&
                   CL_LyFS_File_Seek(&desc, fd, LYFS_SEEK_SET, 1000) == 1000 &&
                   put(fd, 300'000, 700) && close(fd);
        },
        [&](std::uint32_t fd) {
            return put(fd, 0, 150'001) && CL_LyFS_File_Read(&desc, scratch, 10, fd) == 10 &&
                   close(fd);
        },
        [&](std::uint32_t fd) { return put(fd, 0, 150'001) && close_device(); }};
    const std::string path = "/DATA/session.ts";
    fail_each_transfer(
        [&] {
            unmount();
            platform.put_card("c", start->clone());
            ASSERT_EQ(mount(), LYFS_OK);
        },
        [&] { return run(path, sessions[GetParam()]); },
        [&](int32_t, IoOp) {
            remount();
            EXPECT_EQ(read_all("/DATA/committed_before.ts"), committed);
            if (!out.closed || out.size == 0) {
                return;  // nothing committed
            }
            std::uint32_t size = 0;
            const auto back = read_all(path, &size);
            EXPECT_EQ(size, out.size) << path;
            for (std::size_t i = 0; i < back.size(); ++i) {
                if (back[i] != out.tried[i] && (i >= out.told.size() || back[i] != out.told[i])) {
                    ADD_FAILURE() << path << " differs at " << i;
                    break;
                }
            }
        });
}

INSTANTIATE_TEST_SUITE_P(HostSessions, SessionTest, ::testing::Range(0, 4));

// An entry area larger than the scan holds at once is read a stretch at a
// time, and a ring that wraps past its end is still listed in ring order.
class ScanTest : public TransferTest {
protected:
    std::uint64_t card_mib() const override { return 512; }
    lyfs_folder_table folder_table() const override {
        lyfs_folder_table table{};
        table.count = 1;
        table.folders[0] = test::folder_spec("EVENT", 100, 140'000);  // 35,000 sectors of records
        return table;
    }
};

TEST_F(ScanTest, AHugeEntryAreaIsScannedInStretches) {
    const std::vector<std::uint32_t> slots = {139'990, 139'995, 0, 1, 2};
    for (std::uint32_t i = 0; i < slots.size(); ++i) {
        files->place_run("EVENT", slots[i], test::name_of(static_cast<int>(i)), 1000, i, 1);
    }
    const std::size_t from = platform.log.size();
    ASSERT_EQ(mount(), LYFS_OK);
    EXPECT_EQ(listed_slots("EVENT"), slots);
    // Once to find the ring's ends, once to list it.
    EXPECT_LT(bytes_of(transfers_since(from, IoOp::kRead)), 2 * 36'000u * 512)
        << "each stretch read at most twice";
}

TEST_F(WritePathTest, AMountReadsEachFileEntrySectorOnce) {
    for (std::uint32_t slot = 0; slot < 600; ++slot) {
        files->place_run("EVENT", slot, test::name_of(slot), 1000, slot, 1);
    }
    unmount();
    const std::size_t from = platform.log.size();
    ASSERT_EQ(mount(), LYFS_OK);
    EXPECT_EQ(listed_slots("EVENT").size(), 600u);
    const auto& event = files->folder("EVENT");
    const std::uint64_t first = (std::uint64_t{part()->part_start} + files->data_start() +
                                 (event.start_cluster - 2) * 256) *
                                512;
    const std::uint64_t end = first + std::uint64_t{event.fe_clusters} * 131072;
    EXPECT_EQ(bytes_of(transfers_since(from, IoOp::kRead, first, end)), end - first);
}

}  // namespace
}  // namespace lyfs
