// lyfs mount: card images mounted in scratch folders and used through ordinary programs and
// system calls, as a person's programs would. Needs /dev/fuse and root (as CI has them).
#include <unistd.h>

#include <utility>

#include "cli_runner.h"

namespace lyfs::cli_test {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMiB = 1024 * 1024;
constexpr std::uint32_t kCluster = 128 * 1024;
const std::string kTool = LYFS_TOOL_PATH;

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
        shell("for m in mnt ro; do fusermount3 -uz $m; done");
        CliTest::TearDown();
    }

    // Mounts in the foreground, logging into DIR.log, until unmounted; the exit code lands in
    // DIR.status. Returns once the mount can be used and unmounted.
    void mount(const std::string& image, const std::string& dir, const std::string& options = "") {
        fs::create_directory(dir);
        fs::remove(dir + ".status");
        fs::remove(dir + ".out");
        const std::string run = kTool + " mount --foreground " + options + " " + image + " " + dir +
                                " >" + dir + ".out 2>" + dir + ".log; echo $? >" + dir + ".status";
        ASSERT_EQ(shell("(" + run + ") >/dev/null 2>&1 & timeout 10 sh -c 'until grep -q mounted " +
                        dir + ".out || [ -s " + dir + ".status ]; do sleep 0.02; done; " +
                        "mountpoint -q " + dir + "'")
                      .exit_code,
                  0)
            << text_of(dir + ".log");
    }
    // lyfs umount, then the mount's own exit code.
    std::string unmount(const std::string& dir, const std::string& said = "committed, flushed") {
        expect_run({"umount", dir}, 0, said);
        return text_of(dir + ".status");
    }
};

TEST_F(MountCommand, RecordingsReadWriteAndAreReclaimedLikeAnyFilesAndReadOnlyNeverWrites) {
    // DATA gets about 23 MiB and keeps 10 MiB free: the third clip of 4 MiB needs room.
    formatted_image("card.img", "256M", "DATA:12:100,EVENT:0:100");
    put("card.img", "/DATA/20250614_080000_F.mp4", 3 * kMiB + 17, 1);
    fs::rename("local.bin", "first.mp4");
    mount("card.img", "mnt");

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

    // What the card cannot do is refused, and logged. A program that seeks back to patch a
    // header fails, and its copy is taken off the card again.
    const std::string file = "mnt/DATA/20250614_080300_F.mp4";
    for (const auto& [command, error] : std::vector<std::pair<std::string, std::string>>{
             {"rm " + file, "Operation not permitted"},
             {"echo x >>" + file, "Operation not permitted"},
             {"touch mnt/DATA/clip.mp4", "Invalid argument"},  // a name of 8
             {"touch mnt/DATA/" + std::string(36, 'c') + ".mp4", "File name too long"},
             {"dd if=/dev/zero of=mnt/DATA/gap_clip.mp4 bs=1 count=1 seek=4096", "Illegal seek"},
             {"perl -e 'open(F, \">\", \"mnt/DATA/seek_back.mp4\") or die; syswrite(F, \"x\" x "
              "300000); sysseek(F, 0, 0); syswrite(F, \"head\") or die \"$!\\n\"'",
              "Illegal seek"},
         }) {
        EXPECT_TRUE(contains(shell(command).err, error)) << command;
    }
    EXPECT_EQ(unmount("mnt"), "0\n");
    EXPECT_TRUE(contains(text_of("mnt.log"),
                         "removed /DATA/seek_back.mp4 from the card again (300000 bytes"));
    expect_run({"check", "card.img"}, 0, "clean, 3 files");
    expect_run({"get", "card.img", "/DATA/20250614_080300_F.mp4", "back.mp4"}, 0);
    EXPECT_EQ(read_file("back.mp4"), read_file("clip.mp4"));

    // Read-only mounts never write.
    const std::string card_before = fingerprint("card.img");
    fs::create_directory("ro");
    // Without --foreground the command returns once the card is mounted.
    expect_run({"mount", "--read-only", "card.img", "ro"}, 0, "unmount with: lyfs umount");
    EXPECT_EQ(shell("cmp clip.mp4 ro/DATA/20250614_080300_F.mp4").exit_code, 0);
    EXPECT_TRUE(
        contains(shell("cp clip.mp4 ro/DATA/20250614_080400_F.mp4").err, "Read-only file system"));
    expect_run({"put", "card.img", "clip.mp4", "/DATA/20250614_080400_F.mp4"}, 1,
               "in use by another program");
    // fusermount3 -u returns at once; the card is let go a moment later.
    EXPECT_EQ(shell("fusermount3 -u ro && flock -w 10 card.img true").exit_code, 0);
    EXPECT_EQ(fingerprint("card.img"), card_before) << "a read-only mount wrote to the card";
}

// Other users may look but not touch, whatever a card's names, and a broken recording fails
// loudly where it breaks.
TEST_F(MountCommand, OthersOnlyReadAndEveryRecordingIsReachableAndFailsWhereItBreaks) {
    formatted_image("card.img");
    const std::string card = "card.img";
    struct Damage {
        std::string name;
        std::uint64_t readable;  // bytes before the break
    };
    const std::vector<Damage> damaged = {
        {"LLLLL_loop.mp4", kCluster},      {"FFFFF_free.mp4", kCluster},
        {"IIIII_invalid.mp4", kCluster},   {"PPPPP_past.mp4", kCluster},
        {"SSSSS_short.mp4", 3 * kCluster},
    };
    for (std::size_t i = 0; i < damaged.size(); ++i) {
        put(card, "/DATA/" + damaged[i].name, 3 * kCluster, static_cast<unsigned>(i));
    }
    put(card, "/DATA/A_twin_clip.mp4", 1000, 10);
    put(card, "/DATA/B_twin_clip.mp4", 2000, 11);
    fs::rename("local.bin", "twin.bin");
    put(card, "/DATA/SSSSS_slash.mp4", 3000, 12);
    fs::rename("local.bin", "slash.bin");
    put(card, "/DATA/EEEEE_escape.mp4", 4000, 13);
    // A loop, a free link, an invalid link, a link past the partition, a size past the chain;
    // then a repeated name, a slash and a control character.
    const auto first = [&](int slot) { return start_cluster(card, record_at(card, slot)); };
    poke(card, fat_entry(card, first(0)), first(0));
    poke(card, fat_entry(card, first(1)), 0);
    poke(card, fat_entry(card, first(2)), 0x0FFFFFF7);
    poke(card, fat_entry(card, first(3)), 0x00FFFFF0);
    poke(card, record_at(card, 4) + 124, 5 * kCluster);
    poke(card, record_at(card, 6) + 65, 'A', 1);
    poke(card, record_at(card, 7) + 69, '/', 1);
    poke(card, record_at(card, 8) + 65, '\n', 1);
    const std::string names =
        "LLLLL_loop.mp4\nFFFFF_free.mp4\nIIIII_invalid.mp4\nPPPPP_past.mp4\nSSSSS_short.mp4\n"
        "A_twin_clip.mp4\nA_twin_clip~2.mp4\nSS%2FSS_slash.mp4\n%0AEEEE_escape.mp4\n";

    // The read-only mount first: the other one ends broken chains on the card.
    const std::string before = fingerprint(card);
    const std::string nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    shell("chmod 755 .");
    for (const std::string options : {"--read-only -o allow_other", "-o allow_other"}) {
        SCOPED_TRACE(options);
        mount(card, "mnt", options);
        EXPECT_EQ(shell("ls -U mnt/DATA").out, names);
        for (const Damage& d : damaged) {
            const ToolRun cat = shell("cat mnt/DATA/" + d.name + " >got.bin");
            EXPECT_NE(cat.exit_code, 0) << d.name;
            EXPECT_TRUE(contains(cat.err, "Input/output error")) << d.name;
            EXPECT_EQ(read_file("got.bin").size(), d.readable) << d.name;
        }
        // A read-write mount ends a broken chain on the card when it opens the file.
        const bool read_only = options.starts_with("--read-only");
        EXPECT_TRUE(contains(text_of("mnt.log"),
                             "reading /DATA/IIIII_invalid.mp4 failed at byte 131072 of its 393216: "
                             "its cluster chain ends there (" +
                                 std::string(read_only ? "cluster " : "1 clusters for")));
        EXPECT_EQ(shell("cmp mnt/DATA/A_twin_clip~2.mp4 twin.bin").exit_code, 0);
        // Another user lists and reads, and never writes, so never makes the folder reclaim.
        EXPECT_EQ(shell(nobody + "cat mnt/DATA/SS%2FSS_slash.mp4 | cmp - slash.bin && " + nobody +
                        "ls mnt/DATA | wc -l")
                      .out,
                  "9\n");
        EXPECT_TRUE(contains(shell(nobody + "cp slash.bin mnt/DATA/by_nobody.mp4").err,
                             read_only ? "Read-only file system" : "Permission denied"));
        unmount("mnt", "can be removed");
        if (read_only) {
            EXPECT_EQ(fingerprint(card), before) << "the read-only mount wrote to the card";
        }
    }

    // lyfs get of the folder copies every readable recording under the same names.
    expect_run({"get", card, "/DATA", "out"}, 1, "5 files not copied");
    EXPECT_EQ(shell("ls out | LC_ALL=C sort").out,
              "%0AEEEE_escape.mp4\nA_twin_clip.mp4\nA_twin_clip~2.mp4\nSS%2FSS_slash.mp4\n");
    EXPECT_EQ(read_file("out/A_twin_clip.mp4"), sample_bytes(1000, 10));
    EXPECT_EQ(read_file("out/A_twin_clip~2.mp4"), sample_bytes(2000, 11));
    EXPECT_EQ(read_file("out/SS%2FSS_slash.mp4"), sample_bytes(3000, 12));
}

// After lyfs umount the card can be pulled: everything is committed and the card is free.
TEST_F(MountCommand, UmountReturnsOnceTheCardIsCommittedAndClosed) {
    formatted_image("card.img");
    write_file("clip.mp4", sample_bytes(3 * kMiB + 5, 1));
    fs::create_directory("mnt");
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE(round);
        expect_run({"mount", "card.img", "mnt"}, 0);
        const std::string name = "/DATA/round_" + std::to_string(round) + "_clip.mp4";
        EXPECT_EQ(shell("cp clip.mp4 mnt" + name).exit_code, 0);
        expect_run({"umount", "mnt"}, 0,
                   "mnt unmounted: " + fs::absolute("card.img").string() +
                       " committed, flushed and closed; it can be removed");
        const ToolRun ls = expect_run({"ls", "card.img", "/DATA"}, 0, "    3145733     3.0 MiB  ");
        EXPECT_TRUE(contains(ls.out, name.substr(6) + "\n"));
    }
    // A file a program still writes is committed with what reached it; the program's later
    // writes fail.
    mount("card.img", "mnt");
    shell(
        "(exec 3>mnt/DATA/held_open_clip.mp4; head -c 1000000 clip.mp4 >&3; exec sleep 60) "
        ">/dev/null 2>&1 & echo $! >writer.pid; timeout 10 sh -c 'until [ \"$(stat -c %s "
        "mnt/DATA/held_open_clip.mp4)\" = 1000000 ]; do sleep 0.02; done'");
    EXPECT_EQ(unmount("mnt", "files were still open on"), "0\n");
    shell("kill $(cat writer.pid)");
    const ToolRun held = expect_run({"ls", "card.img", "/DATA"}, 0, "    1000000   976.6 KiB  ");
    EXPECT_TRUE(contains(held.out, "held_open_clip.mp4\n"));
    expect_run({"check", "card.img"}, 0, "clean, 4 files");

    // Anything else is left alone.
    expect_run({"umount", "."}, 1, "is not a lyfs mount: nothing was");
    EXPECT_TRUE(fs::exists("clip.mp4"));
}

// Writers in two folders, two at once in one, and readers meanwhile.
TEST_F(MountCommand, CopiesInAndOutAtOnceKeepEveryByte) {
    formatted_image("card.img", "512M");
    put("card.img", "/DATA/old_clip_1.mp4", 2 * kMiB + 3, 1);
    put("card.img", "/EVENT/old_clip_2.mp4", 3 * kMiB + 5, 2);
    for (int k = 3; k <= 5; ++k) {
        write_file("new_" + std::to_string(k) + ".mp4", sample_bytes(5 * kMiB + k, k));
    }
    mount("card.img", "mnt");
    EXPECT_EQ(shell("cp new_3.mp4 mnt/DATA/new_clip_3.mp4 & cp new_4.mp4 mnt/DATA/new_clip_4.mp4 "
                    "& cp new_5.mp4 mnt/EVENT/new_clip_5.mp4 & for r in 1 2 3; do cat "
                    "mnt/DATA/old_clip_1.mp4 >r1; cat mnt/EVENT/old_clip_2.mp4 >r2; done; wait; "
                    "for k in 3 4; do cmp new_$k.mp4 mnt/DATA/new_clip_$k.mp4 || exit 1; done; "
                    "cmp new_5.mp4 mnt/EVENT/new_clip_5.mp4")
                  .exit_code,
              0)
        << text_of("mnt.log");
    EXPECT_EQ(read_file("r2"), sample_bytes(3 * kMiB + 5, 2));
    EXPECT_EQ(unmount("mnt"), "0\n");
    expect_run({"check", "card.img"}, 0, "clean, 5 files");
}

}  // namespace
}  // namespace lyfs::cli_test
