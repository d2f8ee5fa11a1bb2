// Commands that prepare cards: partition, format, mkimage, check of what they made, and the
// command line itself.
#include <algorithm>

#include "cli_runner.h"

namespace lyfs::cli_test {
namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

class PrepareCommands : public CliTest {};

TEST_F(PrepareCommands, MkimageMakesASparseCleanCardWithTheDefaultFolders) {
    const ToolRun made = expect_run({"mkimage", "card.img", "--size", "1G"}, 0,
                                    "slot 0 FAT32, 64.0 MiB; slot 1 card file system, 960.0 MiB");
    EXPECT_EQ(made.err, "") << "the library's log only with -v";
    EXPECT_TRUE(contains(made.out,
                         "DATA 40 % (5000 files), EVENT 30 % (5000 files), "
                         "PHOTO 10 % (2000 files), PARKED the rest (2000 files)"));
    EXPECT_EQ(std::filesystem::file_size("card.img"), 1024 * kMiB);
    EXPECT_LT(std::stoull(shell("stat -c %b card.img").out) * 512, 16 * kMiB) << "not sparse";
    const ToolRun checked = expect_run({"-v", "check", "card.img"}, 0, "folder PARKED:");
    EXPECT_TRUE(contains(checked.out, "card.img: clean, 0 files in 4 folders"));

    const ToolRun verbose = expect_run({"mkimage", "-v", "verbose.img", "--size", "128M"}, 0);
    EXPECT_TRUE(contains(verbose.err, "[RVFS]Format, Folder:EVENT"));
    EXPECT_FALSE(contains(verbose.out, "[RVFS]"));
}

TEST_F(PrepareCommands, PartitionThenFormatWithOwnLayout) {
    write_file("card.img", std::vector<std::uint8_t>(510, 0xFF));  // a sector 0 of no use
    std::filesystem::resize_file("card.img", 256 * kMiB);
    expect_run({"partition", "card.img", "--fat32", "32"}, 0,
               "slot 0 FAT32, 32.0 MiB; slot 1 card file system, 224.0 MiB");
    const std::string table = shell("head -c 512 card.img").out;
    EXPECT_EQ(std::count(table.begin(), table.begin() + 0x19E, 0), 0x19E) << "a fresh table";
    EXPECT_EQ(std::count(table.begin() + 0x1CE, table.begin() + 0x1FE, 0), 0x30) << "slots 2, 3";
    // A generic partition-table reader sees the FAT32 partition alone.
    const std::string dump = shell("PATH=$PATH:/usr/sbin sfdisk --dump card.img").out;
    if (!dump.empty()) {
        EXPECT_EQ(std::count(dump.begin(), dump.end(), '='), 3) << dump;  // start, size, type
        EXPECT_TRUE(contains(dump, "start=          32, size=       65536, type=c"));
    }
    expect_run({"format", "card.img", "--layout", "FRONT:50:100,REAR:0:300"}, 0,
               "FRONT 50 % (100 files), REAR the rest (300 files)");
    expect_run({"-v", "check", "card.img"}, 0, "file entries for 300 files");

    // Refused layouts write nothing.
    expect_runs({
        {{"format", "card.img", "--layout", "DATA:40"}, 2, "expected NAME:PERCENT:MAXFILES"},
        {{"format", "card.img", "--layout", "DATA:60:10,EVENT:50:10,PHOTO:0:10"},
         2,
         "add up to 110 %"},
        // Well formed, but 1 % of this card cannot hold the entries of 60000 files.
        {{"format", "card.img", "--layout", "DATA:99:10,EVENT:1:60000"},
         1,
         "the layout does not fit card.img"},
    });
    expect_run({"check", "card.img"}, 0, "clean, 0 files in 2 folders");
}

TEST_F(PrepareCommands, CommandLineMistakesAreRefusedAndLeaveNoFile) {
    write_file("taken.img", {1, 2, 3});
    expect_runs({
        {{}, 2, ""},
        {{"partition", "card.img"}, 2, "--fat32"},
        {{"mkimage", "card.img", "--size", "10X"}, 2, "--size"},
        // Too small for the card file system behind the FAT32 partition.
        {{"mkimage", "tiny.img", "--size", "1M"}, 1, "no room on tiny.img"},
        {{"mkimage", "taken.img", "--size", "256M"}, 1, "File exists"},
        {{"--version"}, 0, "lyfs 0.1.0\n"},
    });
    EXPECT_FALSE(std::filesystem::exists("tiny.img"));
    EXPECT_FALSE(std::filesystem::exists("card.img"));
    EXPECT_EQ(read_file("taken.img"), (std::vector<std::uint8_t>{1, 2, 3}));
    for (const char* command :
         {"info", "ls", "get", "put", "partition", "format", "mkimage", "check", "demo"}) {
        expect_run({command, "--help"}, 0, "Usage: lyfs " + std::string(command));
    }
}

}  // namespace
}  // namespace lyfs::cli_test
