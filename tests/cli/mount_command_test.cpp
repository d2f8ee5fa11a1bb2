// lyfs mount: card images mounted in scratch folders and used through ordinary programs and
// system calls, as a person's programs would. Needs /dev/fuse and root (as CI has them).
#include <unistd.h>

#include "cli_runner.h"

namespace lyfs::cli_test {
namespace {

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
        shell("fusermount3 -uz mnt");
        CliTest::TearDown();
    }

    // Mounts card.img on mnt in the foreground, logging into mnt.log, until unmounted; the exit
    // code lands in mnt.status. Returns once the mount can be used and unmounted.
    void mount(const std::string& options = "") {
        fs::create_directory("mnt");
        fs::remove("mnt.status");
        const std::string run = kTool + " mount --foreground " + options +
                                " card.img mnt >mnt.out 2>mnt.log; echo $? >mnt.status";
        ASSERT_EQ(shell("(" + run + ") >/dev/null 2>&1 & timeout 10 sh -c 'until grep -q mounted " +
                        "mnt.out || [ -s mnt.status ]; do sleep 0.02; done; mountpoint -q mnt'")
                      .exit_code,
                  0)
            << text_of("mnt.log");
    }
    // lyfs umount, then the mount's own exit code. umount returns once the card is free; the
    // mount's process may take a moment longer to end.
    std::string unmount(const std::string& said = "committed, flushed") {
        expect_run("umount mnt", 0, {said});
        shell("timeout 10 sh -c 'until [ -s mnt.status ]; do sleep 0.02; done'");
        return text_of("mnt.status");
    }
};

TEST_F(MountCommand, RecordingsReadWriteAndAreReclaimedLikeAnyFilesAndReadOnlyNeverWrites) {
    // DATA gets about 23 MiB and keeps 10 MiB free: the third clip of 4 MiB needs room.
    formatted_image("card.img", "256M", "DATA:12:100,EVENT:0:100");
    put("card.img", "/DATA/20250614_080000_F.mp4", 3 * kMiB + 17, 1);
    fs::rename("local.bin", "first.mp4");
    write_file("clip.mp4", sample_bytes(4 * kMiB + 7, 7));
    expect_run("mount card.img clip.mp4", 1, {"clip.mp4 is not a folder to mount the card on"});
    mount();
    // The folders in card order; a recording's exact size and the whole clusters it holds (25
    // of 128 KiB).
    EXPECT_EQ(shell("ls -U mnt && stat -c '%s %b' mnt/DATA/20250614_080000_F.mp4").out,
              "DATA\nEVENT\n3145745 6400\n");
    // df counts the folders' clusters and files: 1532 in all, 25 of them that recording's, and
    // 100 files in each folder.
    EXPECT_EQ(shell("stat -f -c '%S %b %f %c %d' mnt").out, "131072 1532 1507 200 199\n");
    // Two readers at once, then three writers one after the other; oldest first, the first
    // reclaimed.
    EXPECT_EQ(shell("cat mnt/DATA/*0000_F.mp4 >one & cat mnt/DATA/*0000_F.mp4 >two; wait; cmp one "
                    "first.mp4 && cmp two first.mp4 && for m in 1 2 3; do cp clip.mp4 "
                    "mnt/DATA/20250614_080${m}00_F.mp4 || exit 1; done && ls -U mnt/DATA")
                  .out,
              "20250614_080100_F.mp4\n20250614_080200_F.mp4\n20250614_080300_F.mp4\n")
        << text_of("mnt.log");
    EXPECT_TRUE(contains(text_of("mnt.log"), "reclaimed /DATA/20250614_080000_F.mp4"));

    // What the card cannot do is refused. A program that seeks back to patch a header fails,
    // and its copy is taken off the card again.
    const std::string file = "mnt/DATA/20250614_080300_F.mp4";
    for (const auto& [command, error] : std::vector<std::pair<std::string, std::string>>{
             {"rm " + file, "Operation not permitted"},
             {"echo x >>" + file, "Operation not permitted"},
             {"perl -MFcntl -e 'sysopen(F, \"" + file + "\", O_RDONLY | O_TRUNC) or die \"$!\\n\"'",
              "Operation not permitted"},
             {"truncate -s 5 " + file, "Operation not permitted"},
             {"mv " + file + " mnt/DATA/20250614_090000_F.mp4", "Operation not permitted"},
             {"ln " + file + " mnt/DATA/20250614_090000_F.mp4", "Operation not permitted"},
             {"mkfifo mnt/DATA/20250614_090000_F.mp4", "Operation not permitted"},
             {"chmod 666 " + file, "Operation not permitted"},
             {"chown 1 " + file, "Operation not permitted"},
             {"touch -d 2020-01-01 " + file, "Operation not permitted"},
             {"mkdir mnt/PHOTO", "Operation not permitted"},
             {"rmdir mnt/EVENT", "Operation not permitted"},
             {"touch mnt/DATA/clip.mp4", "Invalid argument"},  // a name of 8
             {"touch mnt/DATA/" + std::string(36, 'c') + ".mp4", "File name too long"},
             {"dd if=/dev/zero of=mnt/DATA/gap_clip.mp4 bs=1 count=1 seek=4096", "Illegal seek"},
             {"perl -e 'open(F, \">\", \"mnt/DATA/seek_back.mp4\") or die; syswrite(F, \"x\" x "
              "300000); sysseek(F, 0, 0); syswrite(F, \"head\") or die \"$!\\n\"'",
              "Illegal seek"},
         }) {
        EXPECT_TRUE(contains(shell(command).err, error)) << command;
    }
    EXPECT_EQ(unmount(), "0\n");
    EXPECT_TRUE(contains(text_of("mnt.log"),
                         "removed /DATA/seek_back.mp4 from the card again (300000 bytes"));
    expect_run("check card.img", 0, {"clean, 3 files"});

    // Without --foreground the command returns once the card is mounted; the copy is on the
    // card as it was written. A read-only mount shares the card with readers only; fusermount3
    // -u returns at once, and the card is let go a moment later.
    const std::string before = fingerprint("card.img");
    expect_run("mount --read-only card.img mnt", 0,
               {"mnt read-only; before removing the card, unmount with: lyfs umount "});
    EXPECT_EQ(shell("cmp clip.mp4 mnt/DATA/20250614_080300_F.mp4").exit_code, 0);
    expect_run("put card.img clip.mp4 /DATA/20250614_080400_F.mp4", 1,
               {"in use by another program"});
    EXPECT_EQ(shell("fusermount3 -u mnt && flock -w 10 card.img true").exit_code, 0);
    EXPECT_EQ(fingerprint("card.img"), before) << "a read-only mount wrote to the card";
}

// Other users may look but not touch, whatever a card's names, and a broken recording fails
// loudly where it breaks.
TEST_F(MountCommand, OthersOnlyReadAndEveryRecordingIsReachableAndFailsWhereItBreaks) {
    damaged_card();
    std::string names;
    for (const DamagedCardFile& file : kDamagedCard) {
        names += file.local.empty() ? "" : file.local + "\n";
    }
    // The read-only mount first: the other one ends broken chains on the card.
    const std::string before = fingerprint("card.img");
    const std::string nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    shell("chmod 755 .");
    for (const std::string options : {"--read-only -o allow_other", "-o allow_other"}) {
        SCOPED_TRACE(options);
        const bool read_only = options.starts_with("--read-only");
        mount(options);
        EXPECT_EQ(shell("ls -U mnt/DATA").out, names);
        for (std::size_t slot = 0; slot < kDamagedCard.size(); ++slot) {
            const DamagedCardFile& file = kDamagedCard[slot];
            if (!file.local.empty()) {
                const ToolRun cat = shell("cat 'mnt/DATA/" + file.local + "' >got.bin");
                EXPECT_EQ(read_file("got.bin"), sample_bytes(file.readable, slot)) << file.local;
                EXPECT_EQ(static_cast<bool>(contains(cat.err, "Input/output error")),
                          file.readable < file.bytes)
                    << file.local;
            }
        }
        // A mount that may write ends a broken chain on the card when it opens the file.
        EXPECT_TRUE(contains(text_of("mnt.log"),
                             "reading /DATA/IIIII_invalid.mp4 failed at byte 131072 of its 393216: "
                             "its cluster chain ends there (" +
                                 std::string(read_only ? "cluster " : "1 clusters for")));
        // Another user lists and reads, and never writes, so never makes the folder reclaim.
        EXPECT_EQ(shell(nobody + "cat mnt/DATA/%2FSSSS_slash.mp4 >nobody.bin && " + nobody +
                        "ls mnt/DATA | wc -l")
                      .out,
                  "12\n");
        EXPECT_EQ(read_file("nobody.bin"), sample_bytes(3000, 8));
        EXPECT_TRUE(contains(shell(nobody + "cp nobody.bin mnt/DATA/by_nobody.mp4").err,
                             read_only ? "Read-only file system" : "Permission denied"));
        EXPECT_EQ(unmount(read_only ? "closed (mounted read-only, nothing was written)"
                                    : "committed, flushed"),
                  "0\n");
        if (read_only) {
            EXPECT_EQ(fingerprint("card.img"), before) << "the read-only mount wrote to the card";
        }
    }
}

// Writers in two folders, two at once in one, and readers meanwhile. lyfs umount returns once
// the card can be pulled: all committed and the card free, even of a file a program still
// writes, which is committed with what reached it (the program's later writes fail).
TEST_F(MountCommand, CopiesAtOnceKeepEveryByteAndUmountCommitsThemAll) {
    formatted_image("card.img", "512M");
    put("card.img", "/DATA/old_clip_1.mp4", 2 * kMiB + 3, 1);
    put("card.img", "/EVENT/old_clip_2.mp4", 3 * kMiB + 5, 2);
    for (int k = 3; k <= 5; ++k) {
        write_file("new_" + std::to_string(k) + ".mp4", sample_bytes(5 * kMiB + k, k));
    }
    fs::create_directory("mnt");
    expect_run("mount card.img mnt", 0);
    EXPECT_EQ(shell("cp new_3.mp4 mnt/DATA/new_clip_3.mp4 & cp new_4.mp4 mnt/DATA/new_clip_4.mp4 "
                    "& cp new_5.mp4 mnt/EVENT/new_clip_5.mp4 & for r in 1 2 3; do cat "
                    "mnt/DATA/old_clip_1.mp4 >r1; cat mnt/EVENT/old_clip_2.mp4 >r2; done; wait; "
                    "for k in 3 4; do cmp new_$k.mp4 mnt/DATA/new_clip_$k.mp4 || exit 1; done; "
                    "cmp new_5.mp4 mnt/EVENT/new_clip_5.mp4")
                  .exit_code,
              0);
    EXPECT_EQ(read_file("r2"), sample_bytes(3 * kMiB + 5, 2));
    // A direct write of several requests' worth is handed over in order.
    EXPECT_EQ(shell("dd if=new_3.mp4 of=mnt/EVENT/direct_clip_6.mp4 bs=4M oflag=direct "
                    "iflag=fullblock status=none && cmp new_3.mp4 mnt/EVENT/direct_clip_6.mp4")
                  .exit_code,
              0);
    expect_runs({
        {"umount mnt",
         0,
         {"mnt unmounted: " + fs::absolute("card.img").string() +
          " committed, flushed and closed; it can be removed"}},
        {"ls card.img /EVENT", 0, {"    5242885     5.0 MiB  ", "new_clip_5.mp4\n"}},
    });
    mount();
    shell(
        "(exec 3>mnt/DATA/held_open_clip.mp4; head -c 1000000 new_3.mp4 >&3; exec sleep 60) "
        ">/dev/null 2>&1 & echo $! >writer.pid; timeout 10 sh -c 'until [ \"$(stat -c %s "
        "mnt/DATA/held_open_clip.mp4)\" = 1000000 ]; do sleep 0.02; done'");
    EXPECT_EQ(unmount("files were still open on"), "0\n");
    shell("kill $(cat writer.pid)");
    expect_runs({
        {"ls card.img /DATA", 0, {"    1000000   976.6 KiB  ", "held_open_clip.mp4\n"}},
        {"check card.img", 0, {"clean, 7 files"}},
        {"umount .", 1, {"is not a lyfs mount: nothing was"}},  // and left alone
    });
}

}  // namespace
}  // namespace lyfs::cli_test
