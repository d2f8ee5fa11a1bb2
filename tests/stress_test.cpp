// Many threads on one card at once: writers filling two folders (and so
// reclaiming), readers, listers, and a thread opening and closing another
// card. Run under ThreadSanitizer in CI. Afterwards every file still on the
// card reads back as written.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/card_check.h"
#include "support/mounted_card.h"

namespace lyfs {
namespace {

class StressTest : public test::MountedCardTest {
protected:
    std::uint64_t card_mib() const override { return 512; }

    // A recording's bytes follow from its name, so any reader can check them.
    static std::vector<std::uint8_t> content_of(const std::string& path) {
        return test::pattern(3'000'000, static_cast<std::uint32_t>(std::hash<std::string>{}(path)));
    }
    // Every file of the folder (it holds fewer than 1024).
    std::vector<std::string> list(const char* folder) {
        std::vector<std::uint8_t> buffer(LYFS_FILE_LIST_BYTES(1024));
        auto* page = reinterpret_cast<lyfs_file_list*>(buffer.data());
        page->count = 1024;
        std::uint32_t start = 1;
        std::vector<std::string> paths(
            std::max(0, CL_LyFS_Get_FileList(&desc, folder, &start, page, 0)));
        for (std::size_t i = 0; i < paths.size(); ++i) {
            paths[i] = std::string("/") + folder + "/" + LYFS_FILE_LIST_RECORD(page, i)->name;
        }
        return paths;
    }
};

TEST_F(StressTest, WritersReadersListersAndAnotherCard) {
    platform.add_card("other", 64ull << 20);
    ASSERT_EQ(CL_LyFS_Get_Master_Device_Info("mem:other", nullptr), LYFS_OK);
    ASSERT_EQ(test::partition_and_format("mem:other", test::default_folder_table(100)), LYFS_OK);
    ASSERT_EQ(mount(), LYFS_OK);
    // PHOTO holds recordings the readers check throughout.
    const auto still = [](int i) { return "/PHOTO/still_" + std::to_string(i) + "_recording.mp4"; };
    for (int i = 0; i < 4; ++i) {
        write_file(still(i), content_of(still(i)), 100'000);
    }
    std::atomic<bool> writers_done{false};
    std::atomic<int> failures{0};
    std::atomic<long> operations{0};
    auto writer = [&](const std::string& folder) {
        for (int i = 0; i < 24; ++i) {  // past EVENT's capacity: it reclaims
            const std::string path =
                "/" + folder + "/" + folder + "_" + std::to_string(1000 + i) + "_recording.mp4";
            write_file(path, content_of(path), 100'000);
            ++operations;
        }
    };
    // Until the writers are done: read PHOTO back, list and measure the
    // folders, mount and unmount the other card.
    const std::function<void()> loops[] = {
        [&] {
            for (int i = 0; i < 4; ++i) {
                EXPECT_EQ(read_all(still(i)), content_of(still(i)));
            }
        },
        [&] {
            for (const char* folder : {"DATA", "EVENT", "PHOTO"}) {
                list(folder);
                DirInfo info{};
                std::uint64_t total = 0, free = 0;
                CL_LyFS_Get_Dir_Info(&desc, folder, &info, &total, &free);
            }
        },
        [&] {
            dev_desc other{};
            failures += CL_LyFS_Device_Open("mem:other", "other", 0, &other) != LYFS_OK ||
                        CL_LyFS_Device_Close(&other) != LYFS_OK;
        }};
    std::vector<std::thread> writers, others;
    writers.emplace_back(writer, "DATA");
    writers.emplace_back(writer, "EVENT");
    for (const auto& loop : loops) {
        others.emplace_back([&] {
            for (; !writers_done; ++operations) {
                loop();
            }
        });
    }
    for (auto& t : writers) {
        t.join();
    }
    writers_done = true;
    for (auto& t : others) {
        t.join();
    }
    EXPECT_EQ(failures.load(), 0);
    std::printf("stress: 5 threads, %ld operations\n", operations.load());

    // Every recording still on the card reads back as written, also after
    // a remount, and the card checks clean.
    remount();
    for (const char* folder : {"DATA", "EVENT", "PHOTO"}) {
        const auto paths = list(folder);
        EXPECT_FALSE(paths.empty()) << folder;
        for (const auto& path : paths) {
            EXPECT_EQ(read_all(path), content_of(path)) << path;
        }
    }
    expect_clean_card();
}

}  // namespace
}  // namespace lyfs
