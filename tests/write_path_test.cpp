// The data path of recordings written and read in pieces that do not end on
// sector boundaries: what reaches the card, in how many requests, and that
// nothing is read back that the open file already knows.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "api/handles.h"
#include "entry/file_object.h"
#include "folder/folder.h"
#include "platform/platform.h"
#include "support/card_check.h"
#include "support/mounted_card.h"
#include "support/pattern.h"

namespace lyfs {
namespace {

using test::IoOp;
using test::IoRecord;

using test::pattern;

class WritePathTest : public test::MountedCardTest {
protected:
    std::uint64_t card_mib() const override { return 1024; }
    void SetUp() override {
        MountedCardTest::SetUp();
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
    std::vector<std::uint8_t> read_pieces(std::uint32_t fd, std::size_t size, std::size_t piece) {
        std::vector<std::uint8_t> bytes(size);
        for (std::size_t at = 0; at < size; at += piece) {
            const auto n = static_cast<std::uint32_t>(std::min(piece, size - at));
            EXPECT_EQ(CL_LyFS_File_Read(&desc, bytes.data() + at, n, fd), static_cast<int32_t>(n));
        }
        return bytes;
    }
    // Device byte offset of a cluster's first byte.
    std::uint64_t cluster_offset(std::uint32_t cluster) {
        return std::uint64_t{device_sector(part(), cluster_first_sector(part(), cluster))} * 512;
    }
    std::vector<IoRecord> transfers_since(std::size_t from, IoOp op) {
        std::vector<IoRecord> found;
        std::copy_if(platform.log.begin() + static_cast<std::ptrdiff_t>(from), platform.log.end(),
                     std::back_inserter(found), [&](const IoRecord& r) { return r.op == op; });
        return found;
    }
    // Reads of the file's own clusters (which follow each other from `start`).
    std::size_t data_reads_since(std::size_t from, std::uint32_t start, std::uint32_t clusters) {
        const std::uint64_t first = cluster_offset(start);
        const std::uint64_t end = first + std::uint64_t{clusters} * 131072;
        const auto reads = transfers_since(from, IoOp::kRead);
        return static_cast<std::size_t>(std::count_if(
            reads.begin(), reads.end(),
            [&](const IoRecord& r) { return r.offset + r.bytes > first && r.offset < end; }));
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

TEST_F(WritePathTest, AppendingInOddPiecesReadsNothingBackAndOneRequestPerPiece) {
    constexpr std::uint32_t kSize = 1'000'003;  // 8 clusters, the last one in part
    const auto bytes = pattern(kSize, 1);
    const std::uint32_t fd = open("/EVENT/odd_pieces_recording.ts", "w");
    ASSERT_NE(fd, LYFS_INVALID_FD);
    const std::uint32_t start = newest_start("EVENT");
    const std::size_t from = platform.log.size();
    write_pieces(fd, bytes, 100'000);
    EXPECT_EQ(data_reads_since(from, start, 8), 0u);
    // 11 pieces; 7 of them cross into a new cluster, which takes a FAT
    // link and a second request. A piece's partial sectors go with its
    // whole ones.
    EXPECT_EQ(transfers_since(from, IoOp::kWrite).size(), 11u + 7u + 7u);
    ASSERT_EQ(CL_LyFS_File_Close(&desc, fd), LYFS_OK);

    // The card holds the bytes in the file's clusters, and zeros after its
    // end in the last sector written.
    for (std::uint32_t c = 0; c < 8; ++c) {
        const std::uint32_t n = std::min<std::uint32_t>(131072, kSize - c * 131072);
        ASSERT_EQ(
            card_bytes(cluster_offset(start + c), n),
            std::vector<std::uint8_t>(bytes.begin() + c * 131072, bytes.begin() + c * 131072 + n))
            << c;
    }
    const std::uint32_t rest = 512 - kSize % 512;
    EXPECT_EQ(card_bytes(cluster_offset(start) + kSize, rest), std::vector<std::uint8_t>(rest));
    const auto report = test::check_memory_card(platform.card("c"));
    EXPECT_TRUE(report.clean()) << test::problems_of(report);
}

TEST_F(WritePathTest, ReadingInOddPiecesTakesOneRequestPerPiece) {
    const auto bytes = pattern(2'000'000, 2);
    std::uint32_t fd = open("/DATA/read_in_pieces_file.ts", "w");
    write_pieces(fd, bytes, 131072);
    ASSERT_EQ(CL_LyFS_File_Close(&desc, fd), LYFS_OK);
    fd = open("/DATA/read_in_pieces_file.ts", "r");
    const std::size_t from = platform.log.size();
    EXPECT_EQ(read_pieces(fd, bytes.size(), 100'000), bytes);
    // The clusters follow each other on the card, so a piece that crosses
    // into the next one is still one request; the sector a piece ends in
    // serves the next piece's head.
    const auto reads = transfers_since(from, IoOp::kRead);
    EXPECT_EQ(reads.size(), 20u);
    std::uint64_t read_bytes = 0;
    for (const IoRecord& r : reads) {
        read_bytes += r.bytes;
    }
    EXPECT_EQ(read_bytes, (2'000'000u + 511) / 512 * 512) << "each sector once";
    ASSERT_EQ(CL_LyFS_File_Close(&desc, fd), LYFS_OK);
}

TEST_F(WritePathTest, FilesWhoseClustersInterleaveReadAndWriteRight) {
    // Two recordings written at once take turns at the clusters.
    const auto a = pattern(600'000, 3);
    const auto b = pattern(600'000, 4);
    const std::uint32_t fa = open("/DATA/interleaved_one.ts", "w");
    const std::uint32_t fb = open("/DATA/interleaved_two.ts", "w");
    for (std::size_t at = 0; at < a.size(); at += 77'777) {
        const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(77'777, a.size() - at));
        ASSERT_EQ(CL_LyFS_File_Write(&desc, a.data() + at, n, fa), static_cast<int32_t>(n));
        ASSERT_EQ(CL_LyFS_File_Write(&desc, b.data() + at, n, fb), static_cast<int32_t>(n));
    }
    ASSERT_EQ(CL_LyFS_File_Close(&desc, fa), LYFS_OK);
    ASSERT_EQ(CL_LyFS_File_Close(&desc, fb), LYFS_OK);
    for (const auto& [path, bytes] :
         {std::pair{"/DATA/interleaved_one.ts", a}, std::pair{"/DATA/interleaved_two.ts", b}}) {
        const std::uint32_t fd = open(path, "r");
        EXPECT_EQ(read_pieces(fd, bytes.size(), 100'000), bytes) << path;
        ASSERT_EQ(CL_LyFS_File_Close(&desc, fd), LYFS_OK);
    }
    const auto report = test::check_memory_card(platform.card("c"));
    EXPECT_TRUE(report.clean()) << test::problems_of(report);
}

TEST_F(WritePathTest, OverwritingInsideTheFileKeepsTheBytesAroundThePatch) {
    auto bytes = pattern(300'000, 5);
    const std::uint32_t fd = open("/DATA/patched_in_place.ts", "w");
    write_pieces(fd, bytes, 100'000);
    // A patch inside sectors the node holds no copy of reads them first.
    ASSERT_EQ(CL_LyFS_File_Seek(&desc, fd, LYFS_SEEK_SET, 1000), 1000u);
    const auto patch = pattern(700, 6);
    const std::size_t from = platform.log.size();
    ASSERT_EQ(CL_LyFS_File_Write(&desc, patch.data(), 700, fd), 700);
    EXPECT_EQ(data_reads_since(from, newest_start("DATA"), 3), 2u) << "its head and tail sector";
    std::copy(patch.begin(), patch.end(), bytes.begin() + 1000);
    // Reading back through the same node sees the patch, not an old copy.
    ASSERT_EQ(CL_LyFS_File_Seek(&desc, fd, LYFS_SEEK_SET, 0), 0u);
    EXPECT_EQ(read_pieces(fd, bytes.size(), 1000), bytes);
    ASSERT_EQ(CL_LyFS_File_Close(&desc, fd), LYFS_OK);
    const std::uint32_t rfd = open("/DATA/patched_in_place.ts", "r");
    EXPECT_EQ(read_pieces(rfd, bytes.size(), 4096), bytes);
    ASSERT_EQ(CL_LyFS_File_Close(&desc, rfd), LYFS_OK);
}

TEST_F(WritePathTest, AFailedWriteForgetsWhatTheCardMayNoLongerHold) {
    auto bytes = pattern(250'000, 7);
    const std::uint32_t fd = open("/DATA/failing_piece_file.ts", "w");
    write_pieces(fd, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 100'000), 100'000);
    platform.arm({IoOp::kWrite, 1});
    EXPECT_EQ(CL_LyFS_File_Write(&desc, bytes.data() + 100'000, 100'000, fd), -1);
    platform.disarm();
    // The host writes the piece again from where the file stands.
    const std::size_t from = platform.log.size();
    ASSERT_EQ(CL_LyFS_File_Write(&desc, bytes.data() + 100'000, 150'000, fd), 150'000);
    EXPECT_EQ(data_reads_since(from, newest_start("DATA"), 2), 1u) << "the head sector, again";
    ASSERT_EQ(CL_LyFS_File_Close(&desc, fd), LYFS_OK);
    const std::uint32_t rfd = open("/DATA/failing_piece_file.ts", "r");
    EXPECT_EQ(read_pieces(rfd, bytes.size(), 100'000), bytes);
    ASSERT_EQ(CL_LyFS_File_Close(&desc, rfd), LYFS_OK);
}

TEST_F(WritePathTest, AMountReadsEachFileEntrySectorOnce) {
    for (std::uint32_t slot = 0; slot < 600; ++slot) {
        files->place_run("EVENT", slot, test::name_of(slot), 1000, slot, 1);
    }
    ASSERT_EQ(CL_LyFS_Device_Close(&desc), LYFS_OK);
    mounted = false;
    const std::size_t from = platform.log.size();
    ASSERT_EQ(mount(), LYFS_OK);
    EXPECT_EQ(listed_slots("EVENT").size(), 600u);
    const auto& event = files->folder("EVENT");
    const std::uint64_t first = (std::uint64_t{part()->part_start} + files->data_start() +
                                 (event.start_cluster - 2) * 256) *
                                512;
    const std::uint64_t end = first + std::uint64_t{event.fe_clusters} * 131072;
    std::uint64_t area_bytes = 0;
    for (const IoRecord& r : transfers_since(from, IoOp::kRead)) {
        if (r.offset >= first && r.offset < end) {
            area_bytes += r.bytes;
        }
    }
    EXPECT_EQ(area_bytes, end - first);
}

// An entry area larger than the scan holds at once is read a stretch at a
// time, and a ring that wraps past its end is still listed in ring order.
using ScanTest = test::LibraryTest;

TEST_F(ScanTest, AHugeEntryAreaIsScannedInStretches) {
    platform.add_card("huge", 512ull << 20);
    lyfs_folder_table table{};
    table.count = 1;
    table.folders[0] = test::folder_spec("EVENT", 100, 140'000);  // 35,000 sectors of records
    ASSERT_EQ(test::partition_and_format("mem:huge", table), LYFS_OK);
    ASSERT_EQ(CL_LyFS_Stop(), LYFS_OK);
    ASSERT_EQ(CL_LyFS_Start(), LYFS_OK);
    test::CardFiles files(platform.card("huge"));
    const std::vector<std::uint32_t> slots = {139'990, 139'995, 0, 1, 2};
    for (std::uint32_t i = 0; i < slots.size(); ++i) {
        files.place_run("EVENT", slots[i], test::name_of(static_cast<int>(i)), 1000, i, 1);
    }
    dev_desc desc{};
    ASSERT_EQ(CL_LyFS_Device_Open("mem:huge", "card", 0, &desc), LYFS_OK);
    stPARTITION* part = resolve<stPARTITION>(desc.part_handle, HandleKind::kPartition);
    std::vector<std::uint32_t> listed;
    for (stFILE* f = get_folder_object(part, "EVENT")->file_list_head; f != nullptr; f = f->next) {
        listed.push_back(f->file_entry_index);
    }
    EXPECT_EQ(listed, slots);
    EXPECT_EQ(CL_LyFS_Device_Close(&desc), LYFS_OK);
}

}  // namespace
}  // namespace lyfs
