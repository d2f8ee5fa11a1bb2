// The mount's view of a card, without the kernel: card images on the test platform, which
// counts what reaches them and fails transfers on demand.
#include <cerrno>
#include <filesystem>
#include <set>
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
using cli_test::kCluster;
using cli_test::kMiB;
using cli_test::poke;
using cli_test::sample_bytes;

// Every escaped name decodes to the card's name (%XX), so no two can meet.
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
        // Windows takes names that differ only in case for one file.
        {NameRules::kWindows,
         {"Clip_one.mp4", "CLIP_ONE.mp4", "caf%c3%a9_clip.mp4", "caf\xC3\xA9_clip.mp4"},
         {"Clip_one.mp4", "CLIP_ONE~2.mp4", "caf%c3%a9_clip.mp4", "caf%C3%A9_clip~2.mp4"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(local_names(c.card, c.rules), c.local);
    }
    // A crafted card can hold thousands of copies of one name: each still gets its own.
    const V copies = local_names(V(20'000, "same_clip.mp4"), NameRules::kPosix);
    EXPECT_EQ(std::set<std::string>(copies.begin(), copies.end()).size(), copies.size());
    EXPECT_EQ(copies.back(), "same_clip~20000.mp4");
}

class CardViewTest : public test::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        const auto table = test::table_of(
            {test::folder_spec("DATA", 30, 100), test::folder_spec("EVENT", 0, 100)});
        ASSERT_EQ(test::partition_and_format(image.path(), table), LYFS_OK);
    }
    void TearDown() override {
        unmount();
        LibraryTest::TearDown();
    }

    void mount(bool read_only = false, std::vector<std::string>* log = nullptr) {
        card = std::make_unique<Card>(image.path(),
                                      read_only ? Card::Access::ReadOnly : Card::Access::ReadWrite);
        view = std::make_unique<CardView>(*card, read_only, [log](const std::string& line) {
            if (log != nullptr) {
                log->push_back(line);
            }
        });
    }
    void unmount() {
        if (view != nullptr) {
            view->close_all();
        }
        view.reset();
        card.reset();
    }
    // A file on the card before the view is made of it.
    void put(const std::string& folder, const std::string& name, std::size_t bytes,
             std::size_t seed) {
        Card writer(image.path(), Card::Access::ReadWrite);
        CardFile file(writer, {folder, name}, CardFile::Mode::Write);
        const auto data = sample_bytes(bytes, seed);
        file.write(data.data(), static_cast<std::uint32_t>(data.size()));
        file.close();
    }
    // A whole file through the view: the bytes it gave, what ended the reads (0 for its end),
    // and whether the view has the kernel serve it uncached.
    struct Read {
        int result = 0;
        std::vector<std::uint8_t> bytes;
        bool uncached = false;
    };
    Read read_all(const std::string& path) {
        Read got;
        CardView::Handle* handle = nullptr;
        if ((got.result = view->open(path, false, &handle, &got.uncached)) != 0) {
            return got;
        }
        std::vector<char> buffer(300'000);
        while ((got.result = view->read(handle, buffer.data(), 300'000, got.bytes.size())) > 0) {
            got.bytes.insert(got.bytes.end(), buffer.begin(), buffer.begin() + got.result);
        }
        view->release(handle);
        return got;
    }
    int write(CardView::Handle* handle, const std::vector<std::uint8_t>& bytes, std::uint64_t at) {
        return view->write(handle, reinterpret_cast<const char*>(bytes.data()), bytes.size(), at);
    }
    // A new file through the view, written in pieces; its handle is not released.
    CardView::Handle* copy_in(const std::string& path, const std::vector<std::uint8_t>& bytes,
                              std::size_t piece = 100'000) {
        CardView::Handle* handle = nullptr;
        EXPECT_EQ(view->create(path, &handle), 0) << path;
        for (std::size_t at = 0; at < bytes.size(); at += piece) {
            const std::vector<std::uint8_t> part(
                bytes.begin() + at, bytes.begin() + std::min(bytes.size(), at + piece));
            EXPECT_EQ(write(handle, part, at), static_cast<int>(part.size()));
        }
        return handle;
    }

    test::ScratchFile image{256ull << 20};
    std::unique_ptr<Card> card;
    std::unique_ptr<CardView> view;
};

// At a program's close the bytes held back reach the card and the device is flushed, before
// the release commits the file. A copy whose write failed fails its close too, and when a newer
// copy was begun meanwhile it cannot be taken back: it stays, committed, and is named.
TEST_F(CardViewTest, ACloseMakesACopyDurableAndAFailedOneIsNamedWhenItStays) {
    put("DATA", "kept_clip_1.mp4", 1000, 1);
    mount();
    CardView::Handle* handle = nullptr;
    EXPECT_EQ(view->create("/DATA/kept_clip_1.mp4", &handle), -EEXIST);
    const auto bytes = sample_bytes(200'000, 5);
    CardView::Handle* copy = copy_in("/DATA/good_copy_1.mp4", bytes);
    const auto before = platform.counters;
    EXPECT_EQ(view->flush(copy), 0);
    EXPECT_EQ(platform.counters.bytes_written - before.bytes_written, 7u * 512);
    EXPECT_EQ(platform.counters.flushes - before.flushes, 1u);
    view->release(copy);

    CardView::Handle* first = copy_in("/DATA/failed_copy_1.mp4", bytes);
    platform.arm({.op = test::IoOp::kWrite});
    EXPECT_EQ(write(first, bytes, 200'000), -ENOSPC);
    EXPECT_EQ(view->flush(first), -EIO);
    CardView::Handle* second = copy_in("/DATA/newer_copy_1.mp4", bytes);
    view->release(first);
    view->release(second);
    // Taken off the card, but the flush after it failed: named, and no longer listed.
    CardView::Handle* third = copy_in("/DATA/unflushed_copy.mp4", bytes);
    platform.arm({.op = test::IoOp::kWrite});
    EXPECT_EQ(write(third, bytes, 200'000), -ENOSPC);
    platform.fail_flush = true;
    view->release(third);
    platform.fail_flush = false;
    ASSERT_EQ(view->failures().size(), 2u);
    EXPECT_TRUE(cli_test::contains(view->failures()[1], "flushing the card failed"));
    EXPECT_TRUE(cli_test::contains(view->failures()[0],
                                   "/DATA/failed_copy_1.mp4 could not be removed from the card"));
    std::vector<std::string> names;
    EXPECT_EQ(view->list("/DATA", &names), 0);
    EXPECT_EQ(names, (std::vector<std::string>{"kept_clip_1.mp4", "good_copy_1.mp4",
                                               "failed_copy_1.mp4", "newer_copy_1.mp4"}));
    unmount();
    check::FileSectorReader reader(image.path());
    const check::Report report = check::check_card(reader);
    EXPECT_TRUE(report.clean());
    EXPECT_EQ(report.committed_files(), 4u);
}

// A damaged recording is served past the kernel's cache, so that the short read before the
// break and the failure at it reach the program. Readers of one recording share one open of
// it, which lasts while any of them does. A read-only view refuses new files itself.
TEST_F(CardViewTest, ADamagedRecordingIsReadUncachedAndReadersShareAnOpen) {
    put("DATA", "damaged_clip.mp4", 3 * kCluster, 6);
    put("DATA", "intact_clip1.mp4", 2 * kCluster, 7);
    const std::string path = image.path();
    poke(path, fat_entry(path, cli_test::start_cluster(path, 0)), 0x0FFFFFF8);
    mount(true);
    const Read damaged = read_all("/DATA/damaged_clip.mp4");
    EXPECT_EQ(damaged.result, -EIO);
    EXPECT_TRUE(damaged.uncached);
    EXPECT_EQ(damaged.bytes, sample_bytes(kCluster, 6));
    CardView::Handle* held = nullptr;
    bool uncached = true;
    ASSERT_EQ(view->open("/DATA/intact_clip1.mp4", false, &held, &uncached), 0);
    EXPECT_FALSE(uncached);
    const Read intact = read_all("/DATA/intact_clip1.mp4");
    EXPECT_EQ(intact.result, 0);
    EXPECT_EQ(intact.bytes, sample_bytes(2 * kCluster, 7));
    char last = 0;
    EXPECT_EQ(view->read(held, &last, 1, 2 * kCluster - 1), 1);
    EXPECT_EQ(static_cast<std::uint8_t>(last), intact.bytes.back());
    view->release(held);
    CardView::Handle* handle = nullptr;
    EXPECT_EQ(view->create("/DATA/refused_clip.mp4", &handle), -EROFS);
}

// A folder's name on the card is any bytes: it is listed escaped, as a file's is, while the
// card is asked by the name it knows. A folder that no path can reach, or whose name would
// reach an earlier folder, is left out and named in the log.
TEST_F(CardViewTest, FoldersGoByLocalNamesAndOnesNoPathReachesAreLeftOut) {
    // A folder of a name the library does not know keeps 200 MiB free.
    std::filesystem::resize_file(image.path(), 1ull << 30);
    ASSERT_EQ(test::partition_and_format(image.path(),
                                         test::table_of({test::folder_spec("DATA", 10, 100),
                                                         test::folder_spec("EVENT", 0, 100)})),
              LYFS_OK);
    put("EVENT", "event_clip_1.mp4", 1000, 1);
    const off_t entry = cli_test::folder_entry(image.path(), 1);  // EVENT's
    cli_test::poke_folder_name(image.path(), entry, "EV\x01NT");
    mount();
    std::vector<std::string> names;
    EXPECT_EQ(view->list("/", &names), 0);
    EXPECT_EQ(names, (std::vector<std::string>{"DATA", "EV%01NT"}));
    EXPECT_EQ(read_all("/EV%01NT/event_clip_1.mp4").bytes, sample_bytes(1000, 1));
    view->release(copy_in("/EV%01NT/event_clip_2.mp4", sample_bytes(2000, 2)));
    CardSpace space;
    EXPECT_EQ(view->space(&space), 0);
    EXPECT_EQ(space.free_file_slots, 198u);
    EXPECT_TRUE(view->failures().empty());
    unmount();
    mount(true);
    EXPECT_EQ(read_all("/EV%01NT/event_clip_2.mp4").bytes, sample_bytes(2000, 2));
    unmount();

    for (const auto& [name, why] : std::vector<std::pair<std::string, std::string>>{
             {"DATA", "folder DATA is on the card but cannot be shown: an earlier folder"},
             {" ", "folder with no name is on the card but cannot be shown"},
             {"EV/NT", "folder EV/NT is on the card but cannot be shown: its name holds a slash"},
         }) {
        cli_test::poke_folder_name(image.path(), entry, name);
        std::vector<std::string> log;
        mount(true, &log);
        names.clear();
        EXPECT_EQ(view->list("/", &names), 0);
        EXPECT_EQ(names, std::vector<std::string>{"DATA"}) << name;
        ASSERT_EQ(log.size(), 1u) << name;
        EXPECT_TRUE(cli_test::contains(log[0], why));
        unmount();
    }
}

// Named for the ThreadSanitizer run: the view's state is shared by the kernel's threads.
TEST_F(CardViewTest, ThreadsCopyingInAndReadingAtOnceKeepEveryByte) {
    const std::size_t old_sizes[] = {3 * kCluster + 5, 2 * kCluster + 7};
    put("DATA", "old_clip_0.mp4", old_sizes[0], 0);
    put("EVENT", "old_clip_1.mp4", old_sizes[1], 1);
    mount();
    const std::string copies[] = {"/DATA/new_clip_0.mp4", "/DATA/new_clip_1.mp4",
                                  "/EVENT/new_clip_2.mp4"};
    const auto copied = [](std::size_t k) { return sample_bytes(2 * kMiB + k, k + 3); };
    std::vector<std::thread> threads;
    for (std::size_t k = 0; k < 3; ++k) {
        threads.emplace_back([&, k] {
            CardView::Handle* handle = copy_in(copies[k], copied(k));
            EXPECT_EQ(view->flush(handle), 0);
            view->release(handle);
        });
    }
    for (const unsigned k : {0u, 1u}) {
        threads.emplace_back([&, k] {
            for (int round = 0; round < 5; ++round) {
                EXPECT_EQ(read_all(k == 0 ? "/DATA/old_clip_0.mp4" : "/EVENT/old_clip_1.mp4").bytes,
                          sample_bytes(old_sizes[k], k));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_TRUE(view->failures().empty());
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(read_all(copies[k]).bytes, copied(k));
    }
}

}  // namespace
}  // namespace lyfs::tool
