// Power cuts: every write of a scenario is journalled, and for every prefix
// of the journal (and halfway through every request of several sectors) the
// card as it would be had power failed right there is rebuilt, checked
// independently, mounted and read.
//
// What a cut may leave, and nothing else:
//  - a file being written (not yet committed) is absent, or present with a
//    size of whole clusters whose completed writes read back exactly, but
//    for the bytes its open file still held back (less than a page); so is
//    one being discarded, which is absent once the discard returned;
//  - a file being deleted by the reclaim is intact, absent, or shortened to
//    a prefix of its bytes, and the checker may find its chain shorter than
//    its size or ending on a free entry ("short chain", "invalid link");
//  - a format cut before its last write leaves a volume whose folder record
//    does not yet list the folders ("folder record"), and, before the FAT
//    and root directory are cleared, what the card held before.
// Every file committed before the cut and not being deleted reads back
// with its exact bytes.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "file/open_files.h"
#include "support/card_check.h"
#include "support/mounted_card.h"
#include "support/pattern.h"

namespace lyfs {
namespace {

using check::ProblemKind;

using test::pattern;

// What the scenario did to each file, by journal position.
struct Piece {
    std::size_t journal_end;  // writes on the card when the call returned
    std::size_t confirmed;    // bytes of the file written by then and sent to the card
};
struct File {
    std::vector<std::uint8_t> bytes;
    std::size_t committed_at = SIZE_MAX;  // journal size when its close returned
    std::size_t deleted_by = SIZE_MAX;    // journal size when it was gone
    std::size_t discarded_at = SIZE_MAX;  // journal size when its discard returned
    std::vector<Piece> pieces = {};
};
using History = std::map<std::string, File>;

class PowerCutTest : public test::MountedCardTest {
protected:
    void SetUp() override {
        MountedCardTest::SetUp();
        ASSERT_EQ(mount(), LYFS_OK);
        test::on_deleted([this](std::uint32_t, const std::string& path) {
            history[path].deleted_by = platform.journal.size();
        });
    }

    // Writes `bytes` in pieces; closes unless told not to.
    void record(const std::string& path, const std::vector<std::uint8_t>& bytes, std::size_t piece,
                bool close = true) {
        File& file = history[path];
        file.bytes = bytes;
        const std::uint32_t fd = open(path, "w");
        ASSERT_NE(fd, LYFS_INVALID_FD) << path;
        for (std::size_t at = 0; at < bytes.size(); at += piece) {
            const auto n = static_cast<std::uint32_t>(std::min(piece, bytes.size() - at));
            ASSERT_EQ(CL_LyFS_File_Write(&desc, bytes.data() + at, n, fd), static_cast<int32_t>(n));
            const PageCopy& copy = find_open_file_list(part(), fd)->page_copy;
            const std::size_t held = copy.held ? at + n - copy.file_pos : 0;
            ASSERT_LT(held, platform.page_bytes);
            file.pieces.push_back({platform.journal.size(), at + n - held});
        }
        if (close) {
            ASSERT_EQ(CL_LyFS_File_Close(&desc, fd), LYFS_OK);
            file.committed_at = platform.journal.size();
        }
    }
    // Discards a file that record() left open.
    void discard(const std::string& path) {
        ASSERT_EQ(lyfs_file_discard(&desc, open(path, "r")), LYFS_OK) << path;
        history[path].discarded_at = platform.journal.size();
    }

    // Runs `scenario` with the journal on, then checks every cut point.
    void cut_everywhere(const std::function<void()>& scenario,
                        const std::set<ProblemKind>& tolerated) {
        auto card = platform.card("c").clone();  // as the cut leaves it
        platform.journal.clear();
        platform.journal_writes = true;
        scenario();
        platform.journal_writes = false;
        const auto journal = platform.journal;
        for (std::size_t cut = 0; cut <= journal.size(); ++cut) {
            // After each whole request, and halfway through each request of
            // several sectors: a card may stop inside a transfer.
            const std::size_t sectors = cut < journal.size() ? journal[cut].bytes.size() / 512 : 0;
            for (std::size_t torn : {std::size_t{0}, sectors / 2 * 512}) {
                auto image = card->clone();
                if (torn != 0) {
                    image->write(journal[cut].offset, journal[cut].bytes.data(),
                                 static_cast<std::uint32_t>(torn));
                }
                check_cut(std::move(image), cut, tolerated);
                if (HasFailure()) {
                    ADD_FAILURE() << "at cut " << cut << " (+" << torn << " bytes) of "
                                  << journal.size();
                    return;
                }
                if (sectors < 2) {
                    break;
                }
            }
            if (cut < journal.size()) {
                card->write(journal[cut].offset, journal[cut].bytes.data(),
                            static_cast<std::uint32_t>(journal[cut].bytes.size()));
            }
        }
    }

private:
    // Checks the card as a cut after the first `cut` writes left it.
    void check_cut(std::unique_ptr<test::MemoryDevice> image, std::size_t cut,
                   const std::set<ProblemKind>& tolerated) {
        test::expect_only_problems(*image, tolerated);
        platform.put_card("cut", std::move(image));
        dev_desc cut_desc{};
        ASSERT_EQ(CL_LyFS_Device_Open("mem:cut", "cut", 0, &cut_desc), LYFS_OK);
        for (const auto& [path, file] : history) {
            check_file(&cut_desc, path, file, cut);
        }
        ASSERT_EQ(CL_LyFS_Device_Close(&cut_desc), LYFS_OK);
    }

    void check_file(dev_desc* d, const std::string& path, const File& file, std::size_t cut) {
        const std::uint32_t fd = CL_LyFS_File_Open(d, path.c_str(), "r", 0, 0, 0);
        const bool deleting = file.deleted_by != SIZE_MAX && cut >= file.committed_at;
        if ((deleting && cut >= file.deleted_by) || cut >= file.discarded_at) {
            EXPECT_EQ(fd, LYFS_INVALID_FD) << path << " was deleted";
            return;
        }
        const bool committed = cut >= file.committed_at;
        if (fd == LYFS_INVALID_FD) {
            EXPECT_TRUE(!committed || deleting) << path << " is committed but gone";
            return;
        }
        FileInfo info{};
        ASSERT_EQ(CL_LyFS_Get_FileInfo(d, fd, &info), LYFS_OK);
        const std::uint32_t size = info.file_size;
        std::vector<std::uint8_t> back(size);
        const auto got =
            static_cast<std::uint32_t>(std::max(0, CL_LyFS_File_Read(d, back.data(), size, fd)));
        CL_LyFS_File_Close(d, fd);
        if (committed && !deleting) {
            EXPECT_EQ(size, file.bytes.size()) << path;
            EXPECT_TRUE(back == file.bytes) << path << " changed";
            return;
        }
        if (deleting) {
            EXPECT_TRUE(std::equal(back.begin(), back.begin() + got, file.bytes.begin()))
                << path << " is no prefix of itself";
            return;
        }
        // Being written: recovered as whole clusters, its completed writes
        // intact but for what was held back.
        EXPECT_EQ(size % 131072, 0u) << path;
        std::size_t confirmed = 0;
        for (const auto& piece : file.pieces) {
            if (piece.journal_end <= cut) {
                confirmed = piece.confirmed;
            }
        }
        confirmed = std::min<std::size_t>(confirmed, got);
        EXPECT_TRUE(std::equal(back.begin(), back.begin() + confirmed, file.bytes.begin()))
            << path << " lost written bytes";
    }

protected:
    History history;
};

// An older recording ends two clusters before a FAT sector's end, so the
// discarded one's chain spans two FAT sectors; then recordings in odd
// pieces, closed, and one left open.
TEST_F(PowerCutTest, RecordingsDiscardedClosedAndLeftOpen) {
    unmount();
    const std::uint32_t clusters = 128 - 2 - files->folder("DATA").content_start;
    files->place_run("DATA", 0, "OLD_2023_RECORDING.MP4", clusters * files->cluster_bytes(), 0,
                     clusters);
    history["/DATA/OLD_2023_RECORDING.MP4"] = {
        std::vector<std::uint8_t>(clusters * files->cluster_bytes(), 0), 0};  // committed before
    ASSERT_EQ(mount(), LYFS_OK);
    cut_everywhere(
        [&] {
            record("/DATA/20240101_140000_F.MP4", pattern(650'000, 7), 100'000, false);
            discard("/DATA/20240101_140000_F.MP4");
            record("/DATA/20240101_120000_F.MP4", pattern(700'001, 2), 100'000);
            record("/PHOTO/20240101_120100_F.JPG", pattern(333'333, 3), 99'999);
            record("/DATA/20240101_130000_F.MP4", pattern(650'000, 4), 100'000, false);
        },
        {});
}

TEST_F(PowerCutTest, CreationAndReclaimingInAFullFolder) {
    // DATA holds about 815 clusters and keeps 80 free: seven old recordings
    // of 100 clusters leave it just above its reserve.
    unmount();
    const std::uint32_t cluster = files->cluster_bytes();
    for (std::uint32_t i = 0; i < 7; ++i) {
        const std::string name = "OLD_2023_" + std::to_string(i) + "_RECORDING.MP4";
        files->place_run("DATA", i, name, 100 * cluster, 100 * i, 100);
        history["/DATA/" + name] = {std::vector<std::uint8_t>(100 * cluster, 0), 0};
    }
    ASSERT_EQ(mount(), LYFS_OK);
    cut_everywhere(
        [&] { record("/DATA/NEW_2024_RECORDING_01.MP4", pattern(6'000'000, 5), 1'000'000); },
        {ProblemKind::ShortChain, ProblemKind::InvalidLink});
    EXPECT_NE(history["/DATA/OLD_2023_0_RECORDING.MP4"].deleted_by, SIZE_MAX)
        << "the scenario reclaimed";
}

TEST_F(PowerCutTest, Formatting) {
    record("/DATA/on_the_old_volume.ts", pattern(200'000, 6), 100'000);
    unmount();
    history.clear();  // the format takes them: nothing committed survives it
    const auto table = test::default_folder_table(1000);
    ASSERT_EQ(CL_LyFS_Get_Master_Device_Info("mem:c", nullptr), LYFS_OK);
    cut_everywhere(
        [&] { ASSERT_EQ(CL_LyFS_Format("mem:c", "", LYFS_PART_LYFS, 0, &table), LYFS_OK); },
        {ProblemKind::FolderRecord, ProblemKind::RegionTiling});
}

}  // namespace
}  // namespace lyfs
