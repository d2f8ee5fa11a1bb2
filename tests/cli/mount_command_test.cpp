// lyfs mount: card images mounted in scratch folders and used through ordinary programs and
// system calls, as a person's programs would. Needs /dev/fuse and root (as CI has them).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "card_edit.h"
#include "cli_runner.h"

namespace lyfs::cli_test {
namespace {

constexpr std::size_t kMiB = 1024 * 1024;

// Waits, within ten seconds, for `done`; false when it never came.
bool eventually(const std::function<bool()>& done) {
    for (int tries = 0; !done(); ++tries) {
        if (tries == 500) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

class MountCommand : public CliTest {
protected:
    void SetUp() override {
        if (::access("/dev/fuse", R_OK | W_OK) != 0 || ::geteuid() != 0 ||
            std::system("command -v fusermount3 >/dev/null 2>&1") != 0) {
            GTEST_SKIP() << "lyfs mount needs /dev/fuse, root and fusermount3 (package fuse3)";
        }
        CliTest::SetUp();
    }

    void TearDown() override {
        for (const std::string& folder : mounts_) {
            shell("fusermount3 -uz " + folder);
        }
        CliTest::TearDown();
    }

    bool is_mounted(const std::string& folder) {
        std::ifstream mounts("/proc/self/mountinfo");
        const std::string all{std::istreambuf_iterator<char>(mounts), {}};
        return all.find(" " + path(folder) + " ") != std::string::npos;
    }

    // lyfs mount --foreground, logging into LOG, until unmount() ends it; its exit code
    // lands in FOLDER.status.
    void mount(const std::string& image, const std::string& folder, const std::string& options = "",
               const std::string& log = "mount.log") {
        std::filesystem::create_directory(path(folder));
        shell("(" + std::string(LYFS_TOOL_PATH) + " mount --foreground " + image + " " + folder +
              " " + options + " 2>" + log + "; echo $? >" + folder +
              ".status) >/dev/null 2>&1 & true");
        mounts_.push_back(folder);
        ASSERT_TRUE(eventually([&] {
            return is_mounted(folder) || std::filesystem::exists(path(folder + ".status"));
        }));
        ASSERT_TRUE(is_mounted(folder)) << log_of(log);
    }

    // fusermount3 -u, then what the mount's process ended with.
    int unmount(const std::string& folder) {
        EXPECT_EQ(shell("fusermount3 -u " + folder).exit_code, 0);
        std::erase(mounts_, folder);
        if (!eventually([&] { return !read_file(folder + ".status").empty(); })) {
            return -1;
        }
        return std::stoi(log_of(folder + ".status"));
    }

    // Until no program holds the image (a mount in the background lets go as it ends).
    bool released(const std::string& image) {
        return eventually([&] {
            const int fd = ::open(path(image).c_str(), O_RDONLY);
            const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
            ::close(fd);
            return free;
        });
    }

    std::string log_of(const std::string& log = "mount.log") {
        const auto bytes = read_file(log);
        return std::string(bytes.begin(), bytes.end());
    }

    std::vector<std::string> mounts_;  // folders still mounted
};

TEST_F(MountCommand, FoldersAndRecordingsReadAndWriteLikeAnyFiles) {
    formatted_image("card.img", "128M");
    put("card.img", "/DATA/20250614_080000_F.mp4", 3 * kMiB + 17, 1);
    std::filesystem::rename(path("local.bin"), path("first.mp4"));
    put("card.img", "/DATA/20250614_080100_F.mp4", kMiB, 2);
    mount("card.img", "mnt");

    EXPECT_EQ(shell("ls -U mnt").out, "DATA\nEVENT\nPHOTO\nPARKED\n") << "in card order";
    EXPECT_EQ(shell("ls -U mnt/DATA").out, "20250614_080000_F.mp4\n20250614_080100_F.mp4\n")
        << "oldest first";
    // The exact size, the whole clusters it holds (25 of 128 KiB), and when it was put.
    const ToolRun stat = shell("stat -c '%s %b %B %Y' mnt/DATA/20250614_080000_F.mp4");
    std::istringstream fields(stat.out);
    std::uint64_t size = 0, blocks = 0, block_bytes = 0;
    std::int64_t modified = 0;
    fields >> size >> blocks >> block_bytes >> modified;
    EXPECT_EQ(size, 3 * kMiB + 17);
    EXPECT_EQ(blocks * block_bytes, 25u * 131072);
    EXPECT_LE(std::abs(static_cast<std::int64_t>(std::time(nullptr)) - modified), 120);

    write_file("clip.mp4", sample_bytes(5 * kMiB + 3, 7));
    for (const char* works : {
             "cmp first.mp4 mnt/DATA/20250614_080000_F.mp4",
             // A read from the middle.
             "dd if=mnt/DATA/20250614_080000_F.mp4 bs=4096 skip=300 count=20 status=none | "
             "cmp -n 81920 - first.mp4 0 1228800",
             // Two readers at once.
             "cat mnt/DATA/20250614_080000_F.mp4 > one & cat mnt/DATA/20250614_080000_F.mp4 > "
             "two; wait; cmp one first.mp4 && cmp two first.mp4",
             "cp clip.mp4 mnt/DATA/20250614_080200_F.mp4 && "
             "cmp clip.mp4 mnt/DATA/20250614_080200_F.mp4",
         }) {
        EXPECT_EQ(shell(works).exit_code, 0) << works << log_of();
    }
    // df: what the three files hold, 25 + 8 + 41 clusters.
    EXPECT_EQ(shell("df -B1 --output=used mnt | tail -1").out, std::to_string(74 * 131072) + "\n");

    const std::string card_before = fingerprint(path("card.img"));
    expect_run({"put", "card.img", "clip.mp4", "/EVENT/20250614_080300_F.mp4"}, 1,
               "in use by another program");
    EXPECT_TRUE(fingerprint(path("card.img")) == card_before)
        << "the refused writer changed the card";

    EXPECT_EQ(unmount("mnt"), 0) << log_of();
    expect_run({"check", "card.img"}, 0, "clean, 3 files");
    expect_run({"get", "card.img", "/DATA/20250614_080200_F.mp4", "back.mp4"}, 0);
    EXPECT_EQ(read_file("back.mp4"), read_file("clip.mp4"));
}

TEST_F(MountCommand, WhatTheCardCannotDoIsRefusedAndReadOnlyMountsNeverWrite) {
    formatted_image("card.img", "128M");
    put("card.img", "/DATA/20250614_080000_F.mp4", 2 * kMiB, 1);
    std::filesystem::rename(path("local.bin"), path("first.mp4"));
    mount("card.img", "mnt");
    const std::string file = path("mnt/DATA/20250614_080000_F.mp4");
    const auto in_data = [this](const std::string& name) { return path("mnt/DATA/" + name); };
    const auto create = [](const std::string& name) {
        const int fd = ::open(name.c_str(), O_CREAT | O_WRONLY, 0644);
        return fd < 0 ? -1 : ::close(fd);
    };
    const struct {
        const char* what;
        std::function<int()> attempt;
        int error;
    } refusals[] = {
        {"mkdir", [&] { return ::mkdir(in_data("folder").c_str(), 0755); }, EPERM},
        {"rmdir", [&] { return ::rmdir(path("mnt/EVENT").c_str()); }, EPERM},
        {"unlink", [&] { return ::unlink(file.c_str()); }, EPERM},
        {"rename", [&] { return ::rename(file.c_str(), in_data("renamed_clip.mp4").c_str()); },
         EPERM},
        {"link", [&] { return ::link(file.c_str(), in_data("linked_clip.mp4").c_str()); }, EPERM},
        {"symlink", [&] { return ::symlink("elsewhere", in_data("symlink_clip").c_str()); }, EPERM},
        {"chmod", [&] { return ::chmod(file.c_str(), 0600); }, EPERM},
        {"chown", [&] { return ::chown(file.c_str(), 1, 1); }, EPERM},
        {"utimens", [&] { return ::utimensat(AT_FDCWD, file.c_str(), nullptr, 0); }, EPERM},
        {"truncate", [&] { return ::truncate(file.c_str(), 10); }, EPERM},
        {"open for writing", [&] { return ::open(file.c_str(), O_WRONLY); }, EPERM},
        {"a file beside the folders", [&] { return create(path("mnt/loose_clip.mp4")); }, EPERM},
        {"a name of 8", [&] { return create(in_data("clip.mp4")); }, EINVAL},
        {"a name of 40", [&] { return create(in_data(std::string(36, 'c') + ".mp4")); },
         ENAMETOOLONG},
        {"a write past the end",
         [&] {
             const int fd = ::open(in_data("gap_clip.mp4").c_str(), O_CREAT | O_WRONLY, 0644);
             const auto written = ::pwrite(fd, "x", 1, 4096);
             const int error = errno;
             ::close(fd);
             errno = error;
             return static_cast<int>(written);
         },
         ESPIPE},
    };
    for (const auto& refusal : refusals) {
        errno = 0;
        EXPECT_EQ(refusal.attempt(), -1) << refusal.what;
        EXPECT_EQ(errno, refusal.error) << refusal.what << ": " << std::strerror(errno);
    }
    EXPECT_EQ(unmount("mnt"), 0);
    std::istringstream log(log_of());
    std::size_t refused_lines = 0;
    for (std::string line; std::getline(log, line);) {
        refused_lines += line.find("refused ") != std::string::npos;
    }
    EXPECT_EQ(refused_lines, std::size(refusals)) << log_of();
    EXPECT_TRUE(contains(log_of(), "gap_clip.mp4, and the card cannot hold an empty file"));
    expect_run({"check", "card.img"}, 0, "clean, 1 file in");

    // Read-only mounts share the card and never write it.
    const std::string card_before = fingerprint(path("card.img"));
    std::filesystem::create_directory(path("ro"));
    // Without --foreground the command returns once the card is mounted.
    expect_run({"mount", "--read-only", "card.img", "ro"}, 0);
    mounts_.push_back("ro");
    EXPECT_TRUE(is_mounted("ro"));
    mount("card.img", "also", "--read-only");

    EXPECT_EQ(shell("cmp first.mp4 ro/DATA/20250614_080000_F.mp4 && "
                    "cmp first.mp4 also/DATA/20250614_080000_F.mp4")
                  .exit_code,
              0);
    const ToolRun copy = shell("cp first.mp4 ro/DATA/20250614_080100_F.mp4");
    EXPECT_NE(copy.exit_code, 0);
    EXPECT_TRUE(contains(copy.err, "Read-only file system"));
    EXPECT_TRUE(contains(lyfs({"put", "card.img", "first.mp4", "/DATA/20250614_080100_F.mp4"}).err,
                         "in use by another program"));

    shell("fusermount3 -u ro");
    std::erase(mounts_, "ro");
    EXPECT_EQ(unmount("also"), 0);
    ASSERT_TRUE(released("card.img"));
    EXPECT_TRUE(fingerprint(path("card.img")) == card_before)
        << "a read-only mount wrote to the card";
}

TEST_F(MountCommand, ReclaimedRecordingsLeaveTheListingAndAreLogged) {
    // DATA gets about 23 MiB and keeps 10 MiB free, so the fourth clip of 4 MiB needs room.
    formatted_image("card.img", "256M", "DATA:12:100,EVENT:0:100");
    write_file("clip.mp4", sample_bytes(4 * kMiB + 7, 3));
    mount("card.img", "mnt");
    ASSERT_EQ(
        shell("for minute in 0 1 2 3 4 5; do cp clip.mp4 mnt/DATA/20250101_080${minute}00_F.mp4 "
              "|| exit 1; done")
            .exit_code,
        0)
        << log_of();
    const std::string listed = shell("ls -U mnt/DATA").out;
    EXPECT_EQ(listed.find("20250101_080000_F.mp4"), std::string::npos) << listed;
    EXPECT_TRUE(contains(listed, "20250101_080500_F.mp4"));
    EXPECT_TRUE(contains(log_of(), "reclaimed /DATA/20250101_080000_F.mp4"));
    EXPECT_EQ(unmount("mnt"), 0);
    expect_run({"check", "card.img"}, 0, "clean");
}

}  // namespace
}  // namespace lyfs::cli_test
