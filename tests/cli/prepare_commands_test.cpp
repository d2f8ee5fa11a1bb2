// Commands that look at and prepare cards: info, partition, format, mkimage, check, and the
// command line itself.
#include <sys/stat.h>

#include <algorithm>

#include "card_edit.h"
#include "cli_runner.h"

namespace lyfs::cli_test {
namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

class PrepareCommands : public CliTest {};

TEST_F(PrepareCommands, ACardThatIsNotOursIsDescribedAndRefusedInWords) {
    blank_image("blank.img", 256 * kMiB);
    expect_runs({
        {{"info", "blank.img"}, 0, "524288 sectors (256.0 MiB)"},
        {{"info", "blank.img"}, 0, "sectors per cluster: 256 (128.0 KiB clusters)"},
        {{"info", "blank.img"}, 0, "card file system:    none"},
        {{"format", "blank.img"}, 1, "run lyfs partition first"},
        {{"format", "blank.img"}, 1, "status 48"},
        {{"check", "blank.img"}, 1, "partition table: "},
        {{"check", "blank.img"}, 1, "blank.img: 1 problem"},
        {{"info", "missing.img"}, 1, "missing.img: No such file or directory"},
    });
}

TEST_F(PrepareCommands, MkimageMakesASparseCleanCardWithTheDefaultFolders) {
    const ToolRun made = lyfs({"mkimage", "card.img", "--size", "1G"});
    ASSERT_EQ(made.exit_code, 0) << made.err;
    EXPECT_EQ(made.err, "") << "the library's log only with -v";
    EXPECT_TRUE(contains(made.out, "slot 0 FAT32, 64.0 MiB; slot 1 card file system, 960.0 MiB"));
    EXPECT_TRUE(contains(made.out,
                         "DATA 40 % (5000 files), EVENT 30 % (5000 files), "
                         "PHOTO 10 % (2000 files), PARKED the rest (2000 files)"));
    struct stat info {};
    ASSERT_EQ(::stat(path("card.img").c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 1024 * static_cast<off_t>(kMiB));
    EXPECT_LT(info.st_blocks * 512, 16 * static_cast<off_t>(kMiB)) << "the image is not sparse";

    const ToolRun checked = expect_run({"-v", "check", "card.img"}, 0);
    for (const char* folder : {"DATA", "EVENT", "PHOTO", "PARKED"}) {
        EXPECT_TRUE(contains(checked.out, "folder " + std::string(folder) + ":"));
    }
    EXPECT_TRUE(contains(checked.out, "card.img: clean, 0 files in 4 folders"));

    const ToolRun verbose = expect_run({"mkimage", "-v", "verbose.img", "--size", "128M"}, 0);
    EXPECT_TRUE(contains(verbose.err, "[RVFS]Format, Folder:EVENT"));
    EXPECT_FALSE(contains(verbose.out, "[RVFS]"));
}

TEST_F(PrepareCommands, MkimageRefusesBadSizesAndExistingFiles) {
    for (const char* size : {"10X", "1000", "3T", "0", "G"}) {
        expect_run({"mkimage", "card.img", "--size", size}, 2, "--size");
    }
    // Too small for the card file system behind the FAT32 partition: no image is left behind.
    expect_run({"mkimage", "tiny.img", "--size", "1M"}, 1, "no room on tiny.img");
    EXPECT_FALSE(std::filesystem::exists(path("tiny.img")));

    write_file("taken.img", {1, 2, 3});
    expect_run({"mkimage", "taken.img", "--size", "256M"}, 1, "File exists");
    EXPECT_EQ(read_file("taken.img"), (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST_F(PrepareCommands, PartitionThenFormatWithOwnLayout) {
    write_file("card.img", std::vector<std::uint8_t>(510, 0xFF));  // a sector 0 of no use
    std::filesystem::resize_file(path("card.img"), 256 * kMiB);
    expect_run({"partition", "card.img", "--fat32", "32"}, 0,
               "slot 0 FAT32, 32.0 MiB; slot 1 card file system, 224.0 MiB");
    const auto table = CardEdit(path("card.img")).bytes(0, 512);
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
    const ToolRun checked =
        expect_run({"-v", "check", "card.img"}, 0, "file entries for 100 files");
    EXPECT_TRUE(contains(checked.out, "file entries for 300 files"));
    EXPECT_TRUE(contains(checked.out, "clean, 0 files in 2 folders"));
}

TEST_F(PrepareCommands, FormatRefusesBadLayoutsAndLeavesTheCardAlone) {
    formatted_image("card.img");
    const struct {
        const char* layout;
        const char* message;
    } malformed[] = {
        {"DATA:40", "in \"DATA:40\": expected NAME:PERCENT:MAXFILES"},
        {"DATA:40:5000,,EVENT:0:10", "empty entry"},
        {"DATA:40:5000,event:0:10", "folder name \"event\" may only hold upper-case letters"},
        {"LONGFOLDER:40:10,EVENT:0:10", "longer than 8 characters"},
        {"DATA:101:10,EVENT:0:10", "is not a percentage from 0 to 100"},
        {"DATA:60:10,EVENT:50:10,PHOTO:0:10", "add up to 110 %"},
        {"DATA:40:0,EVENT:0:10", "at least 1"},
        {"DATA:40:10,DATA:0:10", "folder DATA is named twice"},
        {"A:1:1,B:1:1,C:1:1,D:1:1,E:1:1,F:1:1,G:1:1,H:1:1,I:1:1,J:1:1", "at most 9 folders"},
    };
    for (const auto& bad : malformed) {
        expect_run({"format", "card.img", "--layout", bad.layout}, 2, bad.message);
    }
    // Well formed, but 1 % of this card cannot hold the entries of 60000 files.
    const ToolRun unfit = expect_run({"format", "card.img", "--layout", "DATA:99:10,EVENT:1:60000"},
                                     1, "the layout does not fit card.img");
    EXPECT_TRUE(contains(unfit.err, "status 47"));
    EXPECT_TRUE(contains(unfit.err, "nothing was written"));
    expect_run({"check", "card.img"}, 0, "clean, 0 files in 4 folders");
}

TEST_F(PrepareCommands, CommandLineMistakesAreUsageErrors) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"frobnicate", "card.img"},
                                               {"info"},
                                               {"partition", "card.img"},  // --fat32 is required
                                               {"get", "card.img", "DATA/NAME"}}) {
        EXPECT_EQ(lyfs(args).exit_code, 2) << (args.empty() ? "" : args[0]);
    }
    for (const char* command :
         {"info", "ls", "get", "put", "partition", "format", "mkimage", "check", "demo"}) {
        expect_run({command, "--help"}, 0, "Usage: lyfs " + std::string(command));
    }
}

}  // namespace
}  // namespace lyfs::cli_test
