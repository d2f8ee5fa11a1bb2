// Every command but mount, card state by card state: a table of command lines with the exit
// status and the words each gives, then what the commands left behind. No command costs a user
// a file: a failed get leaves its destination alone, a put that cannot finish takes back what
// it wrote, and the read commands never change a card, however crafted.
#include <unistd.h>

#include <algorithm>

#include "cli_runner.h"

namespace lyfs::cli_test {
namespace {

using NoCard = CliTest;
using BlankImage = CliTest;
using UnusableCard = CliTest;
using CardWithFiles = CliTest;
using DamagedCard = CliTest;

std::string clip_name(int minute) {
    return "20250101_08" + std::to_string(100 + minute).substr(1) + "00_F.mp4";
}

TEST_F(NoCard, MkimageMakesASparseCleanCardAndMistakesLeaveNoFile) {
    write_file("taken.img", {1, 2, 3});
    const ToolRun made = expect_run("mkimage card.img --size 1G", 0,
                                    {"slot 0 FAT32, 64.0 MiB; slot 1 card file system, 960.0 MiB",
                                     "DATA 40 % (5000 files), EVENT 30 % (5000 files), "
                                     "PHOTO 10 % (2000 files), PARKED the rest (2000 files)"});
    EXPECT_EQ(made.err, "") << "the library's log only with -v";
    const ToolRun verbose = expect_run("mkimage -v verbose.img --size 128M", 0);
    EXPECT_TRUE(contains(verbose.err, "[RVFS]Format, Folder:EVENT"));
    EXPECT_FALSE(contains(verbose.out, "[RVFS]"));
    expect_runs({
        {"-v check card.img", 0, {"folder PARKED:", "card.img: clean, 0 files in 4 folders"}},
        {"", 2},
        {"partition new.img", 2, {"--fat32"}},
        {"mkimage new.img --size 10X", 2, {"--size"}},
        // Too small for the card file system behind the FAT32 partition.
        {"mkimage new.img --size 1M", 1, {"no room on new.img"}},
        {"mkimage taken.img --size 256M", 1, {"File exists"}},
        {"--version", 0, {"lyfs 0.1.0\n"}},
    });
    EXPECT_EQ(fs::file_size("card.img"), 1024 * kMiB);
    EXPECT_LT(std::stoull(shell("stat -c %b card.img").out) * 512, 16 * kMiB) << "not sparse";
    EXPECT_FALSE(fs::exists("new.img"));
    EXPECT_EQ(read_file("taken.img"), (std::vector<std::uint8_t>{1, 2, 3}));
    // Every command has its help, its section of the manual page and its place in the
    // completion, which also completes options and the card's folders.
    const std::string manual = expect_run("--manual-page", 0, {".TH LYFS 1"}).out;
    const std::string completion = expect_run("--bash-completion", 0).out;
    for (const std::string command : {"info", "ls", "get", "put", "partition", "format", "mkimage",
                                      "check", "hash", "demo", "mount", "umount"}) {
        expect_run(command + " --help", 0, {"Usage: lyfs " + command});
        EXPECT_TRUE(contains(manual, ".SS \"\\fBlyfs " + command + "\\fR")) << command;
        EXPECT_TRUE(contains(completion, "\n    \"" + command + "\")")) << command;
    }
    write_file("lyfs-completion.bash", {completion.begin(), completion.end()});
    const auto complete = [&](const std::string& words) {
        return shell("bash -c 'source lyfs-completion.bash; COMP_WORDS=(" + kTool + " " + words +
                     "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _lyfs; echo \"${COMPREPLY[*]}\"'")
            .out;
    };
    EXPECT_EQ(complete("get card.img /DATA dest --m"), "--manifest\n");
    EXPECT_EQ(complete("ls card.img /E"), "/EVENT\n");

    // On a terminal a long read shows how far it is, and clears that before its answer.
    const std::string on_terminal =
        shell("script -qec '" + kTool + " hash verbose.img' /dev/null").out;
    const std::string hash = shell("sha256sum verbose.img").out.substr(0, 64);
    EXPECT_TRUE(contains(on_terminal, "] 100%  128.0 MiB of 128.0 MiB\x1B[K\r\x1B[K" + hash))
        << on_terminal;
}

TEST_F(BlankImage, PartitionAndFormatMakeACleanCardOfTheGivenLayout) {
    write_file("card.img", std::vector<std::uint8_t>(510, 0xFF));  // a sector 0 of no use
    fs::resize_file("card.img", 256 * kMiB);
    expect_runs({
        {"format card.img", 1, {"run lyfs partition first"}},
        {"check card.img", 1, {"card.img: 1 problem"}},
        {"partition card.img --fat32 32",
         0,
         {"slot 0 FAT32, 32.0 MiB; slot 1 card file system, 224.0 MiB"}},
        {"ls card.img", 1, {"partitioned but not formatted: lyfs format card.img"}},
        {"format card.img --layout FRONT:50:100,REAR:0:300",
         0,
         {"FRONT 50 % (100 files), REAR the rest (300 files)"}},
        // Refused layouts write nothing; 1 % of this card cannot hold the entries of 60000 files.
        {"format card.img --layout DATA:40", 2, {"expected NAME:PERCENT:MAXFILES"}},
        {"format card.img --layout DATA:60:10,EVENT:50:10,PHOTO:0:10", 2, {"add up to 110 %"}},
        {"format card.img --layout DATA:99:10,EVENT:1:60000", 1, {"the layout does not fit"}},
        {"-v check card.img", 0, {"file entries for 300 files", "clean, 0 files in 2 folders"}},
    });
    const std::string table = shell("head -c 512 card.img").out;
    EXPECT_EQ(std::count(table.begin(), table.begin() + 0x19E, 0), 0x19E) << "a fresh table";
    EXPECT_EQ(std::count(table.begin() + 0x1CE, table.begin() + 0x1FE, 0), 0x30) << "slots 2, 3";
    // A generic partition-table reader sees the FAT32 partition alone: start, size, type.
    const std::string dump = shell("PATH=$PATH:/usr/sbin sfdisk --dump card.img").out;
    if (!dump.empty()) {
        EXPECT_EQ(std::count(dump.begin(), dump.end(), '='), 3) << dump;
        EXPECT_TRUE(contains(dump, "start=          32, size=       65536, type=c"));
    }
}

TEST_F(UnusableCard, WhatItCannotTakeIsRefusedInWordsThatSayWhatToDo) {
    formatted_image("short.img");
    fs::resize_file("short.img", 100 * kMiB);
    formatted_image("region.img");
    // The folder record gives EVENT more clusters than there are.
    poke("region.img", (off_t{peek("region.img", 0x1AE + 8)} + 1) * 512 + 12, 0x7FFFFFFF);
    put("region.img", "/DATA/kept_clip.mp4", 1000, 1);
    put("region.img", "/DATA/SHA256SUMS", 1000, 2);
    write_file("empty.mp4", {});
    expect_runs({
        {"put region.img local.bin '/DATA/new\nline\tclip.mp4'",
         2,
         {"\"new\\nline\\tclip.mp4\" holds a control character (0x0A)"}},
        {"put region.img local.bin /MOVIES/long_enough.mp4", 1, {"no folder MOVIES"}},
        {"put region.img local.bin /DATA/kept_clip.mp4", 1, {"already exists"}},
        {"put region.img empty.mp4 /DATA/empty_clip.mp4", 1, {"cannot tell an empty"}},
        {"ls short.img", 1, {"the table needs 524288 sectors (256.0 MiB), short.img has"}},
        {"ls region.img /EVENT", 1, {"folder EVENT is on region.img but cannot be used: "}},
        {"get region.img / all", 1, {"1 folder not copied:\n  folder EVENT is on the"}},
        // A card's file never takes the place of the manifest that vouches for the copies.
        {"get region.img /DATA data --manifest", 1, {"its name is the manifest's"}},
        // A folder smaller than the space it keeps free is named everywhere.
        {"mkimage small.img --size 100M", 0, {"keeps 100.0 MiB of a folder of that name"}},
    });
    const std::string before = fingerprint("small.img");
    expect_run("put small.img local.bin /EVENT/AAAAA_clip.mp4", 1,
               {"/EVENT cannot take files on this card: it has 10.0 MiB"});
    EXPECT_EQ(fingerprint("small.img"), before);
}

TEST_F(CardWithFiles, PutGetLsInfoJsonAndTimelineAgreeOnMoreFilesThanOnePage) {
    formatted_image("card.img");
    // One byte, exactly one cluster, several pieces of the copy ending inside a sector, and
    // more files than ls fetches in one call (16); a minute apart, but six minutes between the
    // fourth and the fifth.
    std::vector<std::size_t> sizes = {1, kCluster, 3 * kMiB + 17};
    sizes.resize(20, 1000);
    std::string names, body;
    for (int k = 0; k < 20; ++k) {
        const int minute = k < 4 ? k : k + 5;
        put("card.img", "/DATA/" + clip_name(k), sizes[k], k);
        stamp("card.img", record_at("card.img", k), minute);
        const std::string time = std::to_string(1735718400 + 60 * minute);  // in UTC
        names += clip_name(k) + "\n";
        body += "0|/DATA/" + clip_name(k) + "|" + std::to_string(k) + "|r/rr--r--r--|0|0|" +
                std::to_string(sizes[k]) + "|0|" + time + "|0|" + time + "\n";
    }
    write_file("notes.txt", {'n', 'o', 't', 'e', 's'});
    write_file("linked.txt", {'o', 'l', 'd'});
    fs::create_symlink("linked.txt", "link.txt");
    const std::string get = "get card.img /DATA/" + clip_name(2);
    const std::string gap = "DATA     2025-01-01 08:03:00 to 2025-01-01 08:09:00  6m\n";
    expect_runs({
        {"get card.img /DATA out", 0, {"copied 20 files"}},
        {"ls card.img /DATA", 0, {"    3145745     3.0 MiB  2025-01-01 08:02:00", "20 files, "}},
        {"ls card.img", 0, {"10.0 MiB   5120     20\n"}},  // DATA's reserve, slots, files
        {"check card.img", 0, {"clean, 20 files in 4 folders"}},
        {"info card.img",
         0,
         {"card file system:    slot 1, from sector 131104, 393184 sectors (192.0 MiB)",
          "100.0 MiB   5120      0\n",
          "DATA     [###................................|.....] reserve 10.0 MiB\n"}},
        {"get card.img /EVENT/" + clip_name(2) + " notes.txt", 1, {"no file"}},
        // A link stays a link, and what it names becomes the copy; a folder given as one is
        // made.
        {get + " link.txt", 0},
        {get + " newdir/", 0},
        // A copy that cannot finish, or a file that cannot be put, says why.
        {get + " /dev/full", 1, {"writing /dev/full: No space left on device; 0 bytes of it"}},
        {"put card.img missing.bin /DATA/" + clip_name(30), 1, {"missing.bin: No such file"}},
        {"put card.img out /DATA/" + clip_name(30), 2, {"out is a folder: put copies one file"}},
        {"ls card.img DATA", 2, {"\"DATA\" is not a card path like /EVENT or /EVENT/NAME"}},
        {"get card.img /DATA/a/b.mp4 x", 2, {"is not a card path"}},
        // 25 seconds a column: the first four recordings last until the next one starts, the
        // fourth not across the gap.
        {"ls card.img --timeline",
         0,
         {"DATA     |" + std::string(8, '#') + std::string(13, '.') + std::string(37, '#') +
              "  | 2025-01-01 08:00:00 to 2025-01-01 08:24:00, 20 recordings\n",
          gap}},
        {"ls card.img --timeline --gap 6m", 0, {"no gaps longer than 6m\n"}},
        {"ls card.img --timeline --gap 5m59s", 0, {gap}},
        {"ls card.img --timeline --gap '5 minutes'", 2, {"not a length of time"}},
        {"ls card.img --json --bodyfile", 2, {"excludes"}},
    });
    for (int k = 0; k < 20; ++k) {
        EXPECT_EQ(read_file("out/" + clip_name(k)), sample_bytes(sizes[k], k));
    }
    EXPECT_EQ(text_of("notes.txt"), "notes");
    EXPECT_TRUE(fs::is_symlink("link.txt"));
    EXPECT_EQ(read_file("linked.txt"), sample_bytes(sizes[2], 2));
    EXPECT_EQ(read_file("newdir/" + clip_name(2)), sample_bytes(sizes[2], 2));
    EXPECT_EQ(shell(kTool + " " + get + " -").out.size(), sizes[2]);
    // A disk that fills within a piece keeps a part of exactly the bytes it says it kept.
    EXPECT_TRUE(contains(shell("bash -c \"trap '' XFSZ; ulimit -f 1536; " + kTool + " " + get +
                               " part.mp4 --keep-partial\"")
                             .err,
                         "kept its first 1048576 bytes"));
    EXPECT_EQ(read_file("part.mp4"), sample_bytes(kMiB, 2));
    // A longer file of its own under /dev is replaced, not written over.
    if (const std::string shm = "/dev/shm/lyfs-cli-" + std::to_string(::getpid());
        fs::is_directory("/dev/shm")) {
        write_file(shm, sample_bytes(4 * kMiB, 0));
        expect_run(get + " " + shm, 0);
        EXPECT_EQ(read_file(shm), sample_bytes(sizes[2], 2));
        fs::remove(shm);
    }
    const std::string ls = kTool + " ls card.img ";
    EXPECT_EQ(shell(ls + "/DATA | awk 'NF == 6 {print $6}'").out, names);
    EXPECT_EQ(shell(ls + "/DATA --newest-first | awk 'NF == 6 {print $6}' | tac").out, names);
    EXPECT_EQ(shell("TZ=UTC " + ls + "--bodyfile").out, body);
    // The JSON documents hold what the text shows.
    EXPECT_EQ(
        read_json("ls card.img /DATA", 0, R"(rows(d["files"], "size_bytes", "recorded", "name"))"),
        shell(ls + "/DATA | awk 'NF == 6 {print $1, $4 \"T\" $5, $6}'").out);
    EXPECT_EQ(read_json("ls card.img", 0, R"(rows(d["folders"], "name", "slots", "files"))"),
              shell(ls + "| awk 'NR > 1 {print $1, $(NF - 1), $NF}'").out);
    EXPECT_EQ(read_json("info card.img", 0, R"(rows([d["partition"]], "first_sector", "sectors"))"),
              "131104 393184\n");
    EXPECT_EQ(read_json("check card.img", 0,
                        R"(d["device"] + ": clean, " + rows([d], "file_count") + " files in " + )"
                        R"(rows([d], "folder_count") + " folders")"),
              shell(kTool + " check card.img").out);
}

TEST_F(CardWithFiles, PutAndDemoReportEachReclaimedFileOldestFirstAndKeepTheRest) {
    // DATA gets about 23 MiB and keeps 10 MiB free, so the fourth clip of 4 MiB needs room.
    formatted_image("card.img", "256M", "DATA:12:100,EVENT:0:100");
    for (int k = 0; k < 7; ++k) {
        write_file(clip_name(k), sample_bytes(4 * kMiB + 7, k));
        expect_run("put card.img " + clip_name(k) + " /DATA", 0,
                   {k < 3 ? "" : "reclaimed /DATA/" + clip_name(k - 3) + "\n" + clip_name(k)});
    }
    expect_runs({
        {"get card.img /DATA out", 0, {"copied 3 files"}},
        {"check card.img", 0, {"clean"}},
        // The demo does the same on a card of its own and reads everything back.
        {"demo",
         0,
         {"reclaimed /EVENT/20250614_080000_F.mp4", "every byte as written",
          "independent check: clean"}},
    });
}

TEST_F(CardWithFiles, APutThatCannotFitOrFinishLeavesNoTrace) {
    // DATA (38.1 MiB) has 195 clusters (24.4 MiB) fewer free than its size says: a file that
    // fits its size runs out of room.
    formatted_image("card.img", "256M", "DATA:20:100,EVENT:0:100");
    for (std::uint32_t cluster = 100; cluster < 295; ++cluster) {
        poke("card.img", fat_entry("card.img", cluster), 0x0FFFFFF7);
    }
    put("card.img", "/DATA/AAAAA_clip.mp4", 1 * kMiB, 1);
    // Too big for the folder ever: nothing is reclaimed for it.
    const std::string before = fingerprint("card.img");
    write_file("big.bin", sample_bytes(30 * kMiB, 2));
    expect_run("put card.img big.bin /DATA/BBBBB_clip.mp4", 1, {"ever hold is 28.1 MiB"});
    EXPECT_EQ(fingerprint("card.img"), before);
    write_file("clip.bin", sample_bytes(20 * kMiB, 2));
    expect_runs({
        {"put card.img clip.bin /DATA/BBBBB_clip.mp4", 1, {"removed /DATA/BBBBB_clip.mp4 from"}},
        {"ls card.img /DATA", 0, {"0 files"}},
    });

    // Stopped once it has written 4 MiB of 250.
    shell("truncate -s 250M long.bin");
    formatted_image("large.img", "1G", "DATA:80:100,EVENT:0:100");
    put("large.img", "/DATA/AAAAA_clip.mp4", 1000, 1);
    const ToolRun run = shell(
        kTool + " put large.img long.bin /DATA/BBBBB_clip.mp4 & pid=$!; " +
        "while kill -0 $pid 2>/dev/null && [ \"$(awk '/^wchar/ {print $2}' /proc/$pid/io)\" " +
        "-lt 4194304 ] 2>/dev/null; do sleep 0.01; done; kill -TERM $pid; wait $pid; echo $?");
    EXPECT_EQ(run.out, "143\n") << run.err;
    EXPECT_TRUE(contains(run.err, "stopped by SIGTERM while /DATA/BBBBB_clip.mp4 was written"));
    expect_runs({{"ls large.img /DATA", 0, {"1 file, "}}, {"check large.img", 0}});
}

TEST_F(DamagedCard, GivesUpAllItHoldsAndLookingChangesNoByte) {
    damaged_card();
    const std::string before = fingerprint("card.img");
    const std::string hash = shell("sha256sum card.img").out.substr(0, 64);
    const std::string damage = "only its first 131072 of 393216 bytes can be read (cluster ";
    expect_runs({
        {"info card.img", 0, {"write-protected:     no", "/DATA/IIIII_invalid.mp4: " + damage}},
        // The unreadable record costs only itself.
        {"ls card.img /DATA",
         0,
         {"\\x1B\\xE9EEE_escape.mp4", "IIIII_invalid.mp4  [damaged: " + damage,
          "12 files, 2.4 MiB, 5 damaged"}},
        {"check card.img", 1, {"bad attribute: folder DATA slot 10 is in use with attribute"}},
        // The whole card: every file that can be read, hashed as it came off the card.
        {"get card.img / out --manifest",
         1,
         {"5 files not copied", "/DATA/IIIII_invalid.mp4 ends"}},
        {"hash card.img", 0, {hash + "  card.img\n"}},
        // One file by the name it is copied under, which is what a copy takes by default.
        {"get card.img /DATA/%2FSSSS_slash.mp4", 0},
        // A damaged chain costs only what lies behind it.
        {"get card.img /DATA/IIIII_invalid.mp4 lost.mp4",
         1,
         {"ends after 131072 of its 393216", "--keep-partial keeps the 131072"}},
        {"get card.img /DATA/IIIII_invalid.mp4 part.mp4 --keep-partial",
         1,
         {"kept its first 131072"}},
    });
    // Nor do names break what scripts read: the card's bytes come back from the JSON.
    EXPECT_EQ(read_json("ls card.img /DATA", 0,
                        R"(*(f["name"].encode("utf-8", "surrogateescape") for f in d["files"] )"
                        R"(if f["local_name"][0] == "%"))"),
              "b'/SSSS_slash.mp4' b'\\x1b\\xe9EEE_escape.mp4'\n");
    EXPECT_EQ(read_json("info card.img", 0, R"(rows(d["damaged"], "slot", "readable_bytes"))"),
              "1 131072\n2 131072\n3 131072\n4 131072\n5 393216\n");
    EXPECT_EQ(read_json("check card.img", 1, R"(d["clean"])"), "False\n");
    const std::string body = shell(kTool + " ls card.img --bodyfile").out;
    EXPECT_EQ(std::count(body.begin(), body.end(), '\n'), 12);
    EXPECT_TRUE(contains(body, "|/DATA/%1B\\xE9EEE_escape.mp4|9|"));

    for (std::size_t slot = 0; slot < kDamagedCard.size(); ++slot) {
        const DamagedCardFile& file = kDamagedCard[slot];
        if (file.readable == file.bytes && !file.local.empty()) {
            EXPECT_EQ(read_file("out/DATA/" + file.local), sample_bytes(file.bytes, slot));
        }
    }
    EXPECT_FALSE(fs::exists("/SSSS_slash.mp4"));
    EXPECT_EQ(read_file("%2FSSSS_slash.mp4"), sample_bytes(3000, 8));
    EXPECT_FALSE(fs::exists("lost.mp4"));
    EXPECT_EQ(read_file("part.mp4"), sample_bytes(kCluster, 3));
    EXPECT_EQ(shell("find . -name '*.lyfs-*'; find out -type f | wc -l").out, "9\n")
        << "nothing of a failed copy stays";
    EXPECT_EQ(shell("cd out && sha256sum -c --quiet SHA256SUMS && wc -l <SHA256SUMS").out, "7\n");
    expect_in(
        text_of("out/lyfs-report.txt"),
        {"device SHA-256:      " + hash + "\n", "WWWWW_newest.mp4\n    recovered whole-cluster",
         "IIIII_invalid.mp4\n    damaged: " + damage, "  bad attribute: folder DATA slot 10"});
    // The records are left on the card as they are, and the folder still takes files.
    EXPECT_EQ(fingerprint("card.img"), before);
    put("card.img", "/DATA/XXXXX_after.mp4", 1000, 11);
}

TEST_F(DamagedCard, LockedOrUnconfirmedIsNeverWritten) {
    if (::geteuid() != 0 || !fs::exists("/dev/loop-control")) {
        GTEST_SKIP() << "needs root and loop devices (losetup)";
    }
    damaged_card();
    const std::string before = fingerprint("card.img");
    const ToolRun attach = shell("losetup -r -f --show card.img");
    ASSERT_EQ(attach.exit_code, 0) << attach.err;
    const std::string loop = attach.out.substr(0, attach.out.find('\n'));
    expect_runs({
        {"info " + loop, 0, {"write-protected:     yes"}},
        {"get " + loop + " /DATA/WWWWW_newest.mp4 newest.mp4", 0},
        {"put " + loop + " local.bin /DATA/another_clip.mp4", 1, {"write-protected"}},
        {"format " + loop + " --yes", 1, {"write-protected"}},
    });
    EXPECT_EQ(read_file("newest.mp4"), sample_bytes(2 * kCluster, 12));
    EXPECT_EQ(shell("losetup -d " + loop).exit_code, 0);
    // A writable card is prepared only when the question is answered yes; the question ends
    // its line when a pipe answers.
    const ToolRun asked = shell("loop=$(losetup -f --show card.img) && echo n | " + kTool +
                                " format $loop; losetup -d $loop");
    EXPECT_TRUE(contains(asked.out, "Continue? [y/N] n\n"));
    EXPECT_TRUE(contains(asked.err, "not confirmed"));
    EXPECT_EQ(fingerprint("card.img"), before);
}

}  // namespace
}  // namespace lyfs::cli_test
