// The mount's view of a card, without the kernel: card images on the test platform, which
// counts what reaches them and fails transfers on demand.
#include <cerrno>
#include <cstring>
#include <thread>

#include "card.h"
#include "card_checker.h"
#include "card_view.h"
#include "image_edits.h"
#include "local_names.h"
#include "support/card_maker.h"
#include "support/library_fixture.h"
#include "support/scratch_file.h"

namespace lyfs::tool {
namespace {

using cli_test::fat_entry;
using cli_test::poke;
using cli_test::record_at;
using cli_test::sample_bytes;

constexpr std::uint32_t kCluster = 128 * 1024;

// Decodes %XX, for the rule's promise that escaping is reversible.
std::string decoded(const std::string& local) {
    std::string card;
    for (std::size_t i = 0; i < local.size(); ++i) {
        if (local[i] == '%' && i + 2 < local.size()) {
            card += static_cast<char>(std::stoi(local.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else if (local != "%") {
            card += local[i];
        }
    }
    return card;
}

TEST(LocalNames, AreValidDistinctAndGiveTheCardNameBack) {
    using V = std::vector<std::string>;
    const struct {
        NameRules rules;
        V card;
        V local;
    } cases[] = {
        {NameRules::kPosix,
         {"plain_clip.mp4", "a/b_clip.mp4", "a%2Fb_clip.mp4", "100%_clip.mp4", "100%/clip.mp4",
          "\x1B[2Jclip.mp4", ".", "..", ""},
         {"plain_clip.mp4", "a%2Fb_clip~2.mp4", "a%2Fb_clip.mp4", "100%_clip.mp4",
          "100%25%2Fclip.mp4", "%1B[2Jclip.mp4", "%2E", "%2E%2E", "%"}},
        // The oldest keeps the name; a real name is never taken by a numbered one.
        {NameRules::kPosix,
         {"same_clip.mp4", "same_clip.mp4", "same_clip.mp4", "same_clip~2.mp4", "noext", "noext"},
         {"same_clip.mp4", "same_clip~3.mp4", "same_clip~4.mp4", "same_clip~2.mp4", "noext",
          "noext~2"}},
        {NameRules::kWindows,
         {"a:b*c?.mp4", "CON.mp4", "com1", "trailing.", "caf\xC3\xA9_clip.mp4", "back\\slash"},
         {"a%3Ab%2Ac%3F.mp4", "%43ON.mp4", "%63om1", "trailing%2E", "caf%C3%A9_clip.mp4",
          "back%5Cslash"}},
    };
    for (const auto& c : cases) {
        const V local = local_names(c.card, c.rules);
        EXPECT_EQ(local, c.local);
        for (std::size_t i = 0; i < local.size(); ++i) {
            if (local[i] != c.card[i] && local[i].find('~') == std::string::npos) {
                EXPECT_EQ(decoded(local[i]), c.card[i]) << local[i];
            }
        }
    }
}

class CardViewTest : public test::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        lyfs_folder_table table{};
        table.count = 2;
        table.folders[0] = test::folder_spec("DATA", 30, 100);
        table.folders[1] = test::folder_spec("EVENT", 0, 100);
        ASSERT_EQ(test::partition_and_format(image.path(), table), LYFS_OK);
    }
    void TearDown() override {
        unmount();
        LibraryTest::TearDown();
    }

    void mount(bool read_only = false) {
        card = std::make_unique<Card>(image.path(),
                                      read_only ? Card::Access::ReadOnly : Card::Access::ReadWrite);
        view = std::make_unique<CardView>(
            *card, read_only, [this](const std::string& line) { logged += line + "\n"; });
    }
    void unmount() {
        if (view != nullptr) {
            view->close_all();
        }
        view.reset();
        card.reset();
    }
    void put(const std::string& path, std::size_t bytes, unsigned seed) {
        const std::size_t slash = path.find('/', 1);
        CardFile file(*card, {path.substr(1, slash - 1), path.substr(slash + 1)},
                      CardFile::Mode::Write);
        const auto data = sample_bytes(bytes, seed);
        file.write(data.data(), static_cast<std::uint32_t>(data.size()));
        file.close();
    }
    std::vector<std::string> listing(const std::string& folder) {
        std::vector<std::string> names;
        EXPECT_EQ(view->list(folder, &names), 0);
        return names;
    }
    // The whole file through the view, or the error that ended it after `got` bytes.
    int read_all(const std::string& path, std::vector<std::uint8_t>* got,
                 bool* uncached = nullptr) {
        CardView::Handle* handle = nullptr;
        bool direct = false;
        if (const int error = view->open(path, false, &handle, &direct)) {
            return error;
        }
        if (uncached != nullptr) {
            *uncached = direct;
        }
        got->clear();
        std::vector<char> piece(300'000);
        int result = 0;
        for (;;) {
            result = view->read(handle, piece.data(), piece.size(), got->size());
            if (result <= 0) {
                break;
            }
            got->insert(got->end(), piece.begin(), piece.begin() + result);
        }
        view->release(handle);
        return result;
    }
    CardView::Handle* create(const std::string& path) {
        CardView::Handle* handle = nullptr;
        EXPECT_EQ(view->create(path, &handle), 0) << path;
        return handle;
    }
    int write(CardView::Handle* handle, const std::vector<std::uint8_t>& bytes, std::uint64_t at) {
        return view->write(handle, reinterpret_cast<const char*>(bytes.data()), bytes.size(), at);
    }

    test::ScratchFile image{256ull << 20};
    std::unique_ptr<Card> card;
    std::unique_ptr<CardView> view;
    std::string logged;
};

TEST_F(CardViewTest, EveryRecordingIsListedOnceAndReadsBackWhateverItsName) {
    mount();
    put("/DATA/A_dup_clip.mp4", 300'000, 1);
    put("/DATA/B_dup_clip.mp4", 5000, 2);
    put("/DATA/SSSS_slash.mp4", kCluster + 1, 3);
    put("/DATA/EEEE_escape.mp4", 700, 4);
    unmount();
    const std::string path = image.path();
    poke(path, record_at(path, 1) + 65, 'A', 1);
    poke(path, record_at(path, 2) + 69, '/', 1);
    poke(path, record_at(path, 3) + 65, 0x1B, 1);

    mount();
    EXPECT_EQ(listing("/DATA"),
              (std::vector<std::string>{"A_dup_clip.mp4", "A_dup_clip~2.mp4", "SS%2FS_slash.mp4",
                                        "%1BEEE_escape.mp4"}));
    const std::pair<std::string, std::vector<std::uint8_t>> files[] = {
        {"/DATA/A_dup_clip.mp4", sample_bytes(300'000, 1)},
        {"/DATA/A_dup_clip~2.mp4", sample_bytes(5000, 2)},
        {"/DATA/SS%2FS_slash.mp4", sample_bytes(kCluster + 1, 3)},
        {"/DATA/%1BEEE_escape.mp4", sample_bytes(700, 4)},
    };
    for (const auto& [name, bytes] : files) {
        std::vector<std::uint8_t> got;
        EXPECT_EQ(read_all(name, &got), 0) << name;
        EXPECT_EQ(got, bytes) << name;
    }
    // The card would refuse a second file of a name it lists under another.
    CardView::Handle* handle = nullptr;
    EXPECT_EQ(view->create("/DATA/A_dup_clip.mp4", &handle), -EEXIST);
    EXPECT_EQ(view->create("/DATA/new\tline_clip.mp4", &handle), -EINVAL);
}

TEST_F(CardViewTest, ACloseMakesACopyDurableAndAFailedOneIsTakenBack) {
    mount();
    put("/DATA/kept_clip_1.mp4", 1000, 1);
    unmount();
    mount();
    const auto bytes = sample_bytes(200'000, 5);
    CardView::Handle* copy = create("/DATA/good_copy_1.mp4");
    ASSERT_EQ(write(copy, bytes, 0), 200'000);
    // At the program's close the bytes held back reach the card and the device is flushed,
    // before the release commits the file.
    const auto before = platform.counters;
    EXPECT_EQ(view->flush(copy), 0);
    EXPECT_EQ(platform.counters.bytes_written - before.bytes_written, 7u * 512);
    EXPECT_EQ(platform.counters.flushes - before.flushes, 1u);
    view->release(copy);

    // Seeking back to patch a header spoils a copy: it goes at its release.
    CardView::Handle* patched = create("/DATA/seek_back_1.mp4");
    ASSERT_EQ(write(patched, bytes, 0), 200'000);
    EXPECT_EQ(write(patched, {1, 2, 3, 4}, 0), -ESPIPE);
    EXPECT_EQ(view->flush(patched), -EIO);
    view->release(patched);
    EXPECT_TRUE(cli_test::contains(
        logged,
        "removed /DATA/seek_back_1.mp4 from the card again (200000 bytes had been written "
        "when a write failed)"));

    // One that failed while a newer copy was begun stays, committed, and is named as a failure.
    CardView::Handle* first = create("/DATA/failed_copy_1.mp4");
    ASSERT_EQ(write(first, bytes, 0), 200'000);
    platform.arm({.op = test::IoOp::kWrite});
    EXPECT_EQ(write(first, bytes, 200'000), -ENOSPC);
    CardView::Handle* second = create("/DATA/newer_copy_1.mp4");
    ASSERT_EQ(write(second, bytes, 0), 200'000);
    view->release(first);
    view->release(second);
    EXPECT_EQ(view->failures().size(), 1u);
    EXPECT_TRUE(cli_test::contains(view->failures()[0],
                                   "/DATA/failed_copy_1.mp4 could not be removed from the card"));
    EXPECT_EQ(listing("/DATA"),
              (std::vector<std::string>{"kept_clip_1.mp4", "good_copy_1.mp4", "failed_copy_1.mp4",
                                        "newer_copy_1.mp4"}));
    unmount();
    const check::Report report = [&] {
        check::FileSectorReader reader(image.path());
        return check::check_card(reader);
    }();
    EXPECT_TRUE(report.clean());
    EXPECT_EQ(report.committed_files(), 4u);
    mount();
    std::vector<std::uint8_t> got;
    EXPECT_EQ(read_all("/DATA/good_copy_1.mp4", &got), 0);
    EXPECT_EQ(got, bytes);
}

TEST_F(CardViewTest, ADamagedRecordingFailsWhereItsChainEndsAndNothingIsWritten) {
    mount();
    put("/DATA/damaged_clip.mp4", 3 * kCluster, 6);
    put("/DATA/intact_clip1.mp4", 2 * kCluster, 7);
    unmount();
    const std::string path = image.path();
    poke(path, fat_entry(path, cli_test::start_cluster(path, record_at(path, 0))),
         0x0FFFFFF8);  // the chain ends after its first cluster

    for (bool read_only : {true, false}) {
        SCOPED_TRACE(read_only ? "read-only" : "read-write");
        logged.clear();
        mount(read_only);
        const auto before = platform.counters;
        std::vector<std::uint8_t> got;
        bool uncached = false;
        EXPECT_EQ(read_all("/DATA/damaged_clip.mp4", &got, &uncached), -EIO);
        EXPECT_TRUE(uncached);
        const auto all = sample_bytes(3 * kCluster, 6);
        EXPECT_EQ(got, std::vector<std::uint8_t>(all.begin(), all.begin() + kCluster));
        EXPECT_TRUE(cli_test::contains(
            logged,
            "reading /DATA/damaged_clip.mp4 failed at byte 131072 of its 393216: its "
            "cluster chain ends there (1 clusters for 393216 bytes, needs 3)"));
        EXPECT_EQ(read_all("/DATA/intact_clip1.mp4", &got, &uncached), 0);
        EXPECT_FALSE(uncached);
        EXPECT_EQ(got, sample_bytes(2 * kCluster, 7));
        if (read_only) {
            CardView::Handle* handle = nullptr;
            EXPECT_EQ(view->create("/DATA/refused_clip.mp4", &handle), -EROFS);
            EXPECT_EQ(platform.counters.writes, before.writes);
        }
        unmount();
    }
}

// Named for the ThreadSanitizer run: the view's state is shared by the kernel's threads.
TEST_F(CardViewTest, ThreadsCopyingInAndReadingAtOnceKeepEveryByte) {
    mount();
    put("/DATA/old_clip_1.mp4", 3 * kCluster + 5, 1);
    put("/EVENT/old_clip_2.mp4", 2 * kCluster + 7, 2);
    unmount();
    mount();
    const std::vector<std::string> copies = {"/DATA/new_clip_3.mp4", "/DATA/new_clip_4.mp4",
                                             "/EVENT/new_clip_5.mp4"};
    std::vector<std::thread> threads;
    for (std::size_t k = 0; k < copies.size(); ++k) {
        threads.emplace_back([&, k] {
            const auto bytes = sample_bytes(2 * 1024 * 1024 + k, static_cast<unsigned>(k + 3));
            CardView::Handle* handle = create(copies[k]);
            for (std::size_t at = 0; at < bytes.size(); at += 100'000) {
                const std::vector<std::uint8_t> piece(
                    bytes.begin() + at, bytes.begin() + std::min(bytes.size(), at + 100'000));
                EXPECT_EQ(write(handle, piece, at), static_cast<int>(piece.size()));
            }
            EXPECT_EQ(view->flush(handle), 0);
            view->release(handle);
        });
    }
    for (const std::string path : {"/DATA/old_clip_1.mp4", "/EVENT/old_clip_2.mp4"}) {
        threads.emplace_back([&, path] {
            for (int round = 0; round < 5; ++round) {
                std::vector<std::uint8_t> got;
                EXPECT_EQ(read_all(path, &got), 0);
                EXPECT_EQ(got.size(),
                          path.starts_with("/DATA") ? 3 * kCluster + 5 : 2 * kCluster + 7);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_TRUE(view->failures().empty());
    for (std::size_t k = 0; k < copies.size(); ++k) {
        std::vector<std::uint8_t> got;
        EXPECT_EQ(read_all(copies[k], &got), 0);
        EXPECT_EQ(got, sample_bytes(2 * 1024 * 1024 + k, static_cast<unsigned>(k + 3)));
    }
}

}  // namespace
}  // namespace lyfs::tool
