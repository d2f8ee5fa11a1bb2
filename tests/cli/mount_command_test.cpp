// lyfs mount: card images mounted in scratch folders and used through ordinary programs and
// system calls, as a person's programs would. Needs /dev/fuse and root (as CI has them).
#include <unistd.h>

#include <utility>

#include "cli_runner.h"

namespace lyfs::cli_test {
namespace {

constexpr std::size_t kMiB = 1024 * 1024;

class MountCommand : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        if (::access("/dev/fuse", R_OK | W_OK) != 0 || ::geteuid() != 0 ||
            std::system("command -v fusermount3 >/dev/null 2>&1") != 0) {
            GTEST_SKIP() << "lyfs mount needs /dev/fuse, root and fusermount3 (package fuse3)";
        }
    }
    void TearDown() override {
        shell("fusermount3 -uz mnt; fusermount3 -uz ro");
        CliTest::TearDown();
    }
};

TEST_F(MountCommand, RecordingsReadWriteAndAreReclaimedLikeAnyFilesAndReadOnlyNeverWrites) {
    // DATA gets about 23 MiB and keeps 10 MiB free: the third clip of 4 MiB needs room.
    formatted_image("card.img", "256M", "DATA:12:100,EVENT:0:100");
    put("card.img", "/DATA/20250614_080000_F.mp4", 3 * kMiB + 17, 1);
    std::filesystem::rename("local.bin", "first.mp4");
    // In the foreground, logging into mnt.log, until unmounted; its exit code lands in mnt.status.
    std::filesystem::create_directory("mnt");
    ASSERT_EQ(shell("(" + std::string(LYFS_TOOL_PATH) +
                    " mount --foreground card.img mnt 2>mnt.log; echo $? >mnt.status) >/dev/null "
                    "2>&1 & timeout 10 sh -c 'until mountpoint -q mnt || [ -s mnt.status ]; do "
                    "sleep 0.02; done; mountpoint -q mnt'")
                  .exit_code,
              0)
        << text_of("mnt.log");

    EXPECT_EQ(shell("ls -U mnt").out, "DATA\nEVENT\n") << "in card order";
    // The exact size and the whole clusters it holds (25 of 128 KiB).
    EXPECT_EQ(shell("stat -c '%s %b' mnt/DATA/20250614_080000_F.mp4").out,
              std::to_string(3 * kMiB + 17) + " " + std::to_string(25 * 256) + "\n");
    write_file("clip.mp4", sample_bytes(4 * kMiB + 7, 7));
    // Two readers at once, then three writers one after the other.
    EXPECT_EQ(shell("cat mnt/DATA/*0000_F.mp4 >one & cat mnt/DATA/*0000_F.mp4 >two; wait; cmp one "
                    "first.mp4 && cmp two first.mp4 && for m in 1 2 3; do cp clip.mp4 "
                    "mnt/DATA/20250614_080${m}00_F.mp4 || exit 1; done")
                  .exit_code,
              0)
        << text_of("mnt.log");
    EXPECT_EQ(shell("ls -U mnt/DATA").out,
              "20250614_080100_F.mp4\n20250614_080200_F.mp4\n20250614_080300_F.mp4\n")
        << "oldest first, the first reclaimed";
    EXPECT_TRUE(contains(text_of("mnt.log"), "reclaimed /DATA/20250614_080000_F.mp4"));

    // What the card cannot do is refused, and logged.
    const std::string file = "mnt/DATA/20250614_080300_F.mp4";
    for (const auto& [command, error] : std::vector<std::pair<std::string, std::string>>{
             {"rm " + file, "Operation not permitted"},
             {"echo x >>" + file, "Operation not permitted"},
             {"touch mnt/DATA/clip.mp4", "Invalid argument"},  // a name of 8
             {"touch mnt/DATA/" + std::string(36, 'c') + ".mp4", "File name too long"},
             {"dd if=/dev/zero of=mnt/DATA/gap_clip.mp4 bs=1 count=1 seek=4096", "Illegal seek"},
         }) {
        EXPECT_TRUE(contains(shell(command).err, error)) << command;
    }
    EXPECT_EQ(shell("fusermount3 -u mnt && timeout 10 sh -c 'until [ -s mnt.status ]; do sleep "
                    "0.02; done; cat mnt.status'")
                  .out,
              "0\n");
    EXPECT_TRUE(
        contains(text_of("mnt.log"), "gap_clip.mp4, and the card cannot hold an empty file"));
    expect_run({"check", "card.img"}, 0, "clean, 3 files");
    expect_run({"get", "card.img", "/DATA/20250614_080300_F.mp4", "back.mp4"}, 0);
    EXPECT_EQ(read_file("back.mp4"), read_file("clip.mp4"));

    // Read-only mounts never write.
    const std::string card_before = fingerprint("card.img");
    std::filesystem::create_directory("ro");
    // Without --foreground the command returns once the card is mounted.
    expect_run({"mount", "--read-only", "card.img", "ro"}, 0);
    EXPECT_EQ(shell("cmp clip.mp4 ro/DATA/20250614_080300_F.mp4").exit_code, 0);
    EXPECT_TRUE(
        contains(shell("cp clip.mp4 ro/DATA/20250614_080400_F.mp4").err, "Read-only file system"));
    expect_run({"put", "card.img", "clip.mp4", "/DATA/20250614_080400_F.mp4"}, 1,
               "in use by another program");
    // Once the mount in the background has let go of the image.
    EXPECT_EQ(shell("fusermount3 -u ro && flock -w 10 card.img true").exit_code, 0);
    EXPECT_EQ(fingerprint("card.img"), card_before) << "a read-only mount wrote to the card";
}

}  // namespace
}  // namespace lyfs::cli_test
