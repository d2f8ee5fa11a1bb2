// The read commands never change a card, and a crafted card cannot make them write outside
// their destination or drive the terminal.
#include <unistd.h>

#include <filesystem>

#include "card_edit.h"
#include "cli_runner.h"
#include "names.h"

namespace lyfs::cli_test {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kClusterBytes = 128 * 1024;

class ReadOnlyCommands : public CliTest {
protected:
    // DATA: a committed clip, an unclosed recording, and the newest, unclosed with its chain
    // open: a normal mount would repair all but the first on the card.
    void make_crashed_card() {
        formatted_image("card.img");
        put("card.img", "/DATA/good_clip_1.mp4", 200'000, 1);
        put("card.img", "/DATA/QQQQQ_unclosed.mp4", 3 * kClusterBytes, 2);
        put("card.img", "/DATA/WWWWW_newest_1.mp4", 2 * kClusterBytes, 3);
        CardEdit edit(read_file("card.img"));
        edit.unclose("QQQQQ", 3, false);
        edit.unclose("WWWWW", 2, true);
        write_file("card.img", edit.image());
    }
};

TEST_F(ReadOnlyCommands, LookingAtACrashedCardChangesNoByte) {
    make_crashed_card();
    const auto before = read_file("card.img");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"ls", "card.img"},
          {"ls", "card.img", "/DATA"},
          {"info", "card.img"},
          {"get", "card.img", "/DATA/QQQQQ_unclosed.mp4", "unclosed.mp4"},
          {"get", "card.img", "/DATA", "copies"},
          {"check", "card.img"}}) {
        const ToolRun run = lyfs(args);
        EXPECT_NE(run.exit_code, 2) << args[0] << run.err;
        EXPECT_TRUE(read_file("card.img") == before) << args[0] << " changed the card";
    }
    // The unclosed recordings read as their whole clusters.
    EXPECT_EQ(read_file("unclosed.mp4").size(), 3 * kClusterBytes);
    EXPECT_EQ(read_file("copies/WWWWW_newest_1.mp4"), sample_bytes(2 * kClusterBytes, 3));
    EXPECT_TRUE(contains(lyfs({"info", "card.img"}).out, "write-protected:     no"));
}

TEST_F(ReadOnlyCommands, AFolderCopySurvivesHostileNamesAndADamagedFile) {
    formatted_image("card.img");
    put("card.img", "/DATA/good_clip_1.mp4", 300'000, 1);
    put("card.img", "/DATA/SSSSS_slash_1.mp4", 1000, 2);
    put("card.img", "/DATA/EEEEE_escape1.mp4", 1000, 3);
    put("card.img", "/DATA/DDDDD_damaged.mp4", 3 * kClusterBytes, 4);
    put("card.img", "/DATA/good_clip_2.mp4", 5000, 5);
    CardEdit edit(read_file("card.img"));
    edit.rename_first_character("SSSSS", '/');
    edit.rename_first_character("EEEEE", 0x1B);
    edit.damage_chain("DDDDD");
    write_file("card.img", edit.image());

    const ToolRun ls = lyfs({"ls", "card.img", "/DATA"});
    EXPECT_TRUE(contains(ls.out, "\\x1BEEEE_escape1.mp4"));
    EXPECT_EQ(ls.out.find('\x1B'), std::string::npos) << "the terminal is never driven";

    const ToolRun get = expect_run({"get", "card.img", "/DATA", "out"}, 1, "3 files not copied");
    EXPECT_EQ(read_file("out/good_clip_1.mp4"), sample_bytes(300'000, 1));
    EXPECT_EQ(read_file("out/good_clip_2.mp4"), sample_bytes(5000, 5)) << "copied past the others";
    EXPECT_TRUE(contains(get.err,
                         "/DATA//SSSS_slash_1.mp4: its name cannot be a local file name "
                         "(it holds a path separator)"));
    EXPECT_TRUE(contains(get.err, "\\x1BEEEE_escape1.mp4: its name cannot be a local file name"));
    EXPECT_TRUE(contains(get.err, "DDDDD_damaged.mp4 ends after"));
    EXPECT_EQ(get.err.find('\x1B'), std::string::npos);
    EXPECT_FALSE(fs::exists("/SSSS_slash_1.mp4"));
    EXPECT_EQ(shell("find out -type f | wc -l").out, "2\n") << "nothing of a failed copy is left";
}

TEST_F(ReadOnlyCommands, ALockedCardIsReadAndNeverWritten) {
    if (::geteuid() != 0 || !fs::exists("/dev/loop-control")) {
        GTEST_SKIP() << "needs root and loop devices (losetup -r)";
    }
    make_crashed_card();
    const auto before = read_file("card.img");
    const ToolRun attach = shell("losetup -r -f --show card.img");
    if (attach.exit_code != 0) {
        GTEST_SKIP() << "losetup could not attach the image";
    }
    const std::string loop = attach.out.substr(0, attach.out.find('\n'));

    expect_run({"info", loop}, 0, "write-protected:     yes");
    expect_run({"get", loop, "/DATA/WWWWW_newest_1.mp4", "newest.mp4"}, 0);
    EXPECT_EQ(read_file("newest.mp4"), sample_bytes(2 * kClusterBytes, 3));
    EXPECT_TRUE(contains(lyfs({"put", loop, "local.bin", "/DATA/another_clip.mp4"}).err,
                         "write-protected"));
    EXPECT_TRUE(contains(lyfs({"format", loop, "--yes"}).err, "write-protected"));
    EXPECT_EQ(shell("losetup -d " + loop).exit_code, 0);
    EXPECT_TRUE(read_file("card.img") == before);
}

TEST(Names, PrintedEscapedAndUsedLocallyOnlyWhenHarmless) {
    EXPECT_EQ(tool::printable("clip\n\t\x1B[2J.mp4"), "clip\\n\\t\\x1B[2J.mp4");
    EXPECT_EQ(tool::printable("Über_1.mp4"), "Über_1.mp4") << "printable UTF-8 stays";
    EXPECT_EQ(tool::printable("\xC2\x9B"
                              "1m \xFF"),
              "\\xC2\\x9B1m \\xFF")
        << "C1 and bad bytes";
    for (const char* bad : {"", ".", "..", "a/b", "a\\b", "tab\there", "del\x7F"}) {
        EXPECT_NE(tool::unsafe_local_name(bad), "") << bad;
    }
    EXPECT_EQ(tool::unsafe_local_name("..clip_1.mp4"), "");
}

}  // namespace
}  // namespace lyfs::cli_test
