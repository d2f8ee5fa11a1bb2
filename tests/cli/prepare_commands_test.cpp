// Commands that look at and prepare cards: info, partition, format, mkimage, check, and the
// command line itself.
#include <sys/stat.h>

#include "cli_runner.h"

namespace lyfs::cli_test {
namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

class PrepareCommands : public CliTest {};

TEST_F(PrepareCommands, InfoOnBlankImageShowsTheDeviceAndNoCardFileSystem) {
    blank_image("blank.img", 256 * kMiB);
    const ToolRun run = lyfs({"info", "blank.img"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_TRUE(contains(run.out, "524288 sectors (256.0 MiB)"));
    EXPECT_TRUE(contains(run.out, "sectors per cluster: 256 (128.0 KiB clusters)"));
    EXPECT_TRUE(contains(run.out, "card file system:    none"));
}

TEST_F(PrepareCommands, MkimageMakesASparseCleanCardWithTheDefaultFolders) {
    const ToolRun made = lyfs({"mkimage", "card.img", "--size", "1G"});
    ASSERT_EQ(made.exit_code, 0) << made.err;
    EXPECT_TRUE(contains(made.out, "slot 0 FAT32, 64.0 MiB; slot 1 card file system, 960.0 MiB"));
    EXPECT_TRUE(contains(made.out,
                         "DATA 40 % (5000 files), EVENT 30 % (5000 files), "
                         "PHOTO 10 % (2000 files), PARKED the rest (2000 files)"));
    struct stat info {};
    ASSERT_EQ(::stat(path("card.img").c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 1024 * static_cast<off_t>(kMiB));
    EXPECT_LT(info.st_blocks * 512, 16 * static_cast<off_t>(kMiB)) << "the image is not sparse";

    const ToolRun checked = lyfs({"-v", "check", "card.img"});
    EXPECT_EQ(checked.exit_code, 0) << checked.out;
    for (const char* folder : {"DATA", "EVENT", "PHOTO", "PARKED"}) {
        EXPECT_TRUE(contains(checked.out, "folder " + std::string(folder) + ":"));
    }
    EXPECT_TRUE(contains(checked.out, "card.img: clean, 0 files in 4 folders"));
}

TEST_F(PrepareCommands, MkimageRefusesBadSizesAndExistingFiles) {
    for (const char* size : {"10X", "1000", "3T", "0", "G"}) {
        const ToolRun run = lyfs({"mkimage", "card.img", "--size", size});
        EXPECT_EQ(run.exit_code, 2) << size;
        EXPECT_TRUE(contains(run.err, "--size")) << size;
    }
    // Too small for the card file system behind the FAT32 partition: no image is left behind.
    const ToolRun tiny = lyfs({"mkimage", "tiny.img", "--size", "1M"});
    EXPECT_EQ(tiny.exit_code, 1);
    EXPECT_TRUE(contains(tiny.err, "no room on tiny.img"));
    EXPECT_FALSE(std::filesystem::exists(path("tiny.img")));

    write_file("taken.img", {1, 2, 3});
    const ToolRun taken = lyfs({"mkimage", "taken.img", "--size", "256M"});
    EXPECT_EQ(taken.exit_code, 1);
    EXPECT_TRUE(contains(taken.err, "File exists"));
    EXPECT_EQ(read_file("taken.img"), (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST_F(PrepareCommands, PartitionThenFormatWithOwnLayout) {
    blank_image("card.img", 256 * kMiB);
    const ToolRun partitioned = lyfs({"partition", "card.img", "--fat32", "32"});
    ASSERT_EQ(partitioned.exit_code, 0) << partitioned.err;
    EXPECT_TRUE(contains(partitioned.out,
                         "slot 0 FAT32, 32.0 MiB; slot 1 card file system, "
                         "224.0 MiB"));

    const ToolRun formatted = lyfs({"format", "card.img", "--layout", "FRONT:50:100,REAR:0:300"});
    ASSERT_EQ(formatted.exit_code, 0) << formatted.err;
    EXPECT_TRUE(contains(formatted.out, "FRONT 50 % (100 files), REAR the rest (300 files)"));

    const ToolRun checked = lyfs({"-v", "check", "card.img"});
    EXPECT_EQ(checked.exit_code, 0) << checked.out;
    EXPECT_TRUE(contains(checked.out, "file entries for 100 files"));
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
        const ToolRun run = lyfs({"format", "card.img", "--layout", bad.layout});
        EXPECT_EQ(run.exit_code, 2) << bad.layout;
        EXPECT_TRUE(contains(run.err, bad.message)) << bad.layout;
    }
    // Well formed, but 1 % of this card cannot hold the entries of 60000 files.
    const ToolRun unfit = lyfs({"format", "card.img", "--layout", "DATA:99:10,EVENT:1:60000"});
    EXPECT_EQ(unfit.exit_code, 1);
    EXPECT_TRUE(contains(unfit.err, "the layout does not fit card.img"));
    EXPECT_TRUE(contains(unfit.err, "status 47"));
    EXPECT_TRUE(contains(unfit.err, "nothing was written"));

    const ToolRun checked = lyfs({"check", "card.img"});
    EXPECT_EQ(checked.exit_code, 0) << checked.out;
    EXPECT_TRUE(contains(checked.out, "clean, 0 files in 4 folders"));
}

TEST_F(PrepareCommands, FormatWithoutPartitionSaysWhatToDo) {
    blank_image("blank.img", 64 * kMiB);
    const ToolRun run = lyfs({"format", "blank.img"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(contains(run.err, "run lyfs partition first"));
    EXPECT_TRUE(contains(run.err, "status 48"));
}

TEST_F(PrepareCommands, CheckListsTheProblemsOfACardThatIsNotOurs) {
    blank_image("blank.img", 64 * kMiB);
    const ToolRun run = lyfs({"check", "blank.img"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(contains(run.out, "partition table: "));
    EXPECT_TRUE(contains(run.out, "blank.img: 1 problem"));
}

TEST_F(PrepareCommands, VerboseShowsTheLibraryLogOnStderr) {
    const ToolRun quiet = lyfs({"mkimage", "quiet.img", "--size", "1G"});
    EXPECT_EQ(quiet.exit_code, 0);
    EXPECT_EQ(quiet.err, "");
    const ToolRun verbose = lyfs({"mkimage", "-v", "verbose.img", "--size", "128M"});
    EXPECT_EQ(verbose.exit_code, 0);
    EXPECT_TRUE(contains(verbose.err, "[RVFS]Format, Folder:EVENT"));
    EXPECT_FALSE(contains(verbose.out, "[RVFS]"));
}

TEST_F(PrepareCommands, CommandLineMistakesAreUsageErrors) {
    EXPECT_EQ(lyfs({}).exit_code, 2);
    EXPECT_EQ(lyfs({"frobnicate", "card.img"}).exit_code, 2);
    EXPECT_EQ(lyfs({"info"}).exit_code, 2);
    EXPECT_EQ(lyfs({"partition", "card.img"}).exit_code, 2) << "--fat32 is required";
    EXPECT_EQ(lyfs({"get", "card.img", "DATA/NAME"}).exit_code, 2);
    for (const char* command :
         {"info", "ls", "get", "put", "partition", "format", "mkimage", "check", "demo"}) {
        const ToolRun help = lyfs({command, "--help"});
        EXPECT_EQ(help.exit_code, 0) << command;
        EXPECT_TRUE(contains(help.out, "Usage: lyfs " + std::string(command))) << command;
    }
}

TEST_F(PrepareCommands, MissingDeviceIsAFailureInWords) {
    const ToolRun run = lyfs({"info", "missing.img"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(contains(run.err, "missing.img: No such file or directory"));
}

}  // namespace
}  // namespace lyfs::cli_test
