// Many threads on one card at once: writers filling two folders (and so
// reclaiming), readers, listers, and a thread opening and closing another
// card. Run under ThreadSanitizer in CI. Afterwards every file still on the
// card reads back as written.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "support/card_check.h"
#include "support/mounted_card.h"

namespace lyfs {
namespace {

// A recording's bytes follow from its name, so any reader can check them.
std::vector<std::uint8_t> content_of(const std::string& name, std::size_t size) {
    std::uint32_t x = 2166136261u;
    for (char c : name) {
        x = (x ^ static_cast<std::uint8_t>(c)) * 16777619u;
    }
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return bytes;
}

constexpr std::size_t kRecordingBytes = 3'000'000;

class StressTest : public test::MountedCardTest {
protected:
    std::uint64_t card_mib() const override { return 512; }

    void write_recording(const std::string& folder, const std::string& name) {
        write_file("/" + folder + "/" + name, content_of(name, kRecordingBytes), 100'000);
    }
    void read_back(const std::string& folder, const std::string& name) {
        EXPECT_EQ(read_all("/" + folder + "/" + name), content_of(name, kRecordingBytes)) << name;
    }
    std::vector<std::string> list(const char* folder) {
        std::vector<std::uint8_t> buffer(LYFS_FILE_LIST_BYTES(16));
        auto* page = reinterpret_cast<lyfs_file_list*>(buffer.data());
        std::vector<std::string> names;
        std::uint32_t start = 1;
        for (;;) {
            page->count = 16;
            const int32_t n = CL_LyFS_Get_FileList(&desc, folder, &start, page, 0);
            for (int32_t i = 0; i < n; ++i) {
                names.emplace_back(LYFS_FILE_LIST_RECORD(page, i)->name);
            }
            if (n <= 0) {
                return names;
            }
        }
    }
};

TEST_F(StressTest, WritersReadersListersAndAnotherCard) {
    platform.add_card("other", 64ull << 20);
    ASSERT_EQ(CL_LyFS_Get_Master_Device_Info("mem:other", nullptr), LYFS_OK);
    ASSERT_EQ(test::partition_and_format("mem:other", test::default_folder_table(100)), LYFS_OK);
    ASSERT_EQ(mount(), LYFS_OK);
    // PHOTO holds recordings the readers check throughout.
    for (int i = 0; i < 4; ++i) {
        write_recording("PHOTO", "still_" + std::to_string(i) + "_recording.mp4");
    }

    constexpr int kWritesPerWriter = 24;  // past EVENT's capacity: it reclaims
    std::atomic<bool> writers_done{false};
    std::atomic<int> failures{0};
    std::atomic<long> operations{0};
    auto writer = [&](const std::string& folder) {
        for (int i = 0; i < kWritesPerWriter; ++i) {
            char name[40];
            std::snprintf(name, sizeof name, "%s_%04d_recording.mp4", folder.c_str(), i);
            write_recording(folder, name);
            ++operations;
        }
    };
    auto reader = [&] {
        while (!writers_done) {
            for (int i = 0; i < 4; ++i) {
                read_back("PHOTO", "still_" + std::to_string(i) + "_recording.mp4");
                ++operations;
            }
        }
    };
    auto lister = [&] {
        while (!writers_done) {
            for (const char* folder : {"DATA", "EVENT", "PHOTO"}) {
                list(folder);
                DirInfo info{};
                std::uint64_t total = 0;
                std::uint64_t free = 0;
                CL_LyFS_Get_Dir_Info(&desc, folder, &info, &total, &free);
                ++operations;
            }
        }
    };
    auto other_card = [&] {
        while (!writers_done) {
            dev_desc other{};
            if (CL_LyFS_Device_Open("mem:other", "other", 0, &other) != LYFS_OK ||
                CL_LyFS_Device_Close(&other) != LYFS_OK) {
                ++failures;
            }
            ++operations;
        }
    };
    std::vector<std::thread> threads;
    threads.emplace_back(writer, "DATA");
    threads.emplace_back(writer, "EVENT");
    std::vector<std::thread> others;
    others.emplace_back(reader);
    others.emplace_back(lister);
    others.emplace_back(other_card);
    for (auto& t : threads) {
        t.join();
    }
    writers_done = true;
    for (auto& t : others) {
        t.join();
    }
    EXPECT_EQ(failures.load(), 0);
    std::printf("stress: 7 threads, %ld operations\n", operations.load());

    // Every recording still on the card reads back as written, also after
    // a remount, and the card checks clean.
    remount();
    for (const char* folder : {"DATA", "EVENT", "PHOTO"}) {
        const auto names = list(folder);
        EXPECT_FALSE(names.empty()) << folder;
        for (const auto& name : names) {
            read_back(folder, name);
        }
    }
    expect_clean_card();
}

}  // namespace
}  // namespace lyfs
