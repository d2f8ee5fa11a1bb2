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
    // DATA holds, in this order: a committed clip; names no host can use (a path separator,
    // an escape); a chain that ends at a bad cluster; a record no reader can decode; a link
    // with one bit flipped behind its 13th cluster; another committed clip; and, as a crash
    // leaves them, an unclosed recording and the newest, unclosed with its chain open: a
    // normal mount would repair those two on the card.
    void make_damaged_card() {
        formatted_image("card.img");
        put("card.img", "/DATA/good_clip_1.mp4", 300'000, 1);
        put("card.img", "/DATA/SSSSS_slash_1.mp4", 1000, 2);
        put("card.img", "/DATA/EEEEE_escape1.mp4", 1000, 3);
        put("card.img", "/DATA/DDDDD_damaged.mp4", 3 * kClusterBytes, 4);
        put("card.img", "/DATA/BBBBB_unreadable.mp4", 1000, 5);
        put("card.img", "/DATA/LLLLL_link_bit.mp4", 3'200'000, 6);
        put("card.img", "/DATA/good_clip_2.mp4", 5000, 7);
        put("card.img", "/PHOTO/PPPPP_photo.jpg", 1000, 8);
        put("card.img", "/DATA/QQQQQ_unclosed.mp4", 3 * kClusterBytes, 9);
        put("card.img", "/DATA/WWWWW_newest_1.mp4", 2 * kClusterBytes, 10);
        CardEdit edit(path("card.img"));
        edit.rename_first_character("SSSSS", '/');
        edit.rename_first_character("EEEEE", 0x1B);
        edit.damage_chain("DDDDD");
        edit.flip_attribute("BBBBB");
        edit.flip_link_bit("LLLLL", 12);
        edit.unclose("QQQQQ", 3, false);
        edit.unclose("WWWWW", 2, true);
    }
};

TEST_F(ReadOnlyCommands, ADamagedCardGivesUpAllItHoldsAndLookingChangesNoByte) {
    make_damaged_card();
    const std::string before = fingerprint(path("card.img"));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"ls", "card.img"},
          {"ls", "card.img", "/DATA"},
          {"info", "card.img"},
          {"get", "card.img", "/DATA/QQQQQ_unclosed.mp4", "unclosed.mp4"},
          {"get", "card.img", "/DATA", "copies"},
          {"get", "card.img", "/PHOTO/PPPPP_photo.jpg", "photo.jpg"},
          {"check", "card.img"}}) {
        const ToolRun run = lyfs(args);
        EXPECT_NE(run.exit_code, 2) << args[0] << run.err;
        EXPECT_TRUE(fingerprint(path("card.img")) == before) << args[0] << " changed the card";
    }
    // The unclosed recordings read as their whole clusters.
    EXPECT_EQ(read_file("unclosed.mp4").size(), 3 * kClusterBytes);
    EXPECT_EQ(read_file("copies/WWWWW_newest_1.mp4"), sample_bytes(2 * kClusterBytes, 10));
    EXPECT_EQ(read_file("photo.jpg"), sample_bytes(1000, 8));
    EXPECT_TRUE(contains(lyfs({"info", "card.img"}).out, "write-protected:     no"));

    // The unreadable record costs only itself, and names never drive the terminal.
    const ToolRun ls = expect_run({"ls", "card.img", "/DATA"}, 0, "\\x1BEEEE_escape1.mp4");
    EXPECT_TRUE(contains(ls.out, "8 files"));
    EXPECT_FALSE(contains(ls.out, "BBBBB"));
    EXPECT_EQ(ls.out.find('\x1B'), std::string::npos);
    expect_run({"check", "card.img"}, 1,
               "bad attribute: folder DATA slot 4 is in use with attribute");

    const ToolRun get = expect_run({"get", "card.img", "/DATA", "out"}, 1, "4 files not copied");
    EXPECT_EQ(read_file("out/good_clip_1.mp4"), sample_bytes(300'000, 1));
    EXPECT_EQ(read_file("out/good_clip_2.mp4"), sample_bytes(5000, 7)) << "copied past the others";
    EXPECT_TRUE(contains(get.err,
                         "/DATA//SSSS_slash_1.mp4: its name cannot be a local file name "
                         "(it holds a path separator)"));
    EXPECT_TRUE(contains(get.err, "\\x1BEEEE_escape1.mp4: its name cannot be a local file name"));
    EXPECT_TRUE(contains(get.err, "DDDDD_damaged.mp4 ends after"));
    EXPECT_EQ(get.err.find('\x1B'), std::string::npos);
    EXPECT_FALSE(fs::exists("/SSSS_slash_1.mp4"));
    // Nothing of a failed copy is left.
    EXPECT_EQ(shell("find out -type f | wc -l").out, "4\n");

    // A damaged link costs only what lies behind it.
    const std::string readable = std::to_string(13 * kClusterBytes);
    const ToolRun lost = expect_run({"get", "card.img", "/DATA/LLLLL_link_bit.mp4", "copy.mp4"}, 1,
                                    "ends after " + readable + " of its 3200000");
    EXPECT_TRUE(contains(lost.err, "--keep-partial keeps the " + readable));
    EXPECT_FALSE(fs::exists(path("copy.mp4")));
    // The copy is still not whole.
    expect_run({"get", "card.img", "/DATA/LLLLL_link_bit.mp4", "copy.mp4", "--keep-partial"}, 1,
               "kept its first " + readable + " bytes");
    const auto all = sample_bytes(3'200'000, 6);
    EXPECT_EQ(read_file("copy.mp4"),
              std::vector<std::uint8_t>(all.begin(), all.begin() + 13 * kClusterBytes));
    EXPECT_EQ(shell("find . -name '*.lyfs-*'").out, "");
    // The record is left on the card as it is, and the folder still takes files.
    EXPECT_TRUE(fingerprint(path("card.img")) == before);
    put("card.img", "/DATA/XXXXX_after.mp4", 1000, 11);
}

TEST_F(ReadOnlyCommands, ALockedCardIsReadAndNeverWritten) {
    if (::geteuid() != 0 || !fs::exists("/dev/loop-control")) {
        GTEST_SKIP() << "needs root and loop devices (losetup -r)";
    }
    make_damaged_card();
    const std::string before = fingerprint(path("card.img"));
    const ToolRun attach = shell("losetup -r -f --show card.img");
    if (attach.exit_code != 0) {
        GTEST_SKIP() << "losetup could not attach the image";
    }
    const std::string loop = attach.out.substr(0, attach.out.find('\n'));

    expect_run({"info", loop}, 0, "write-protected:     yes");
    expect_run({"get", loop, "/DATA/WWWWW_newest_1.mp4", "newest.mp4"}, 0);
    EXPECT_EQ(read_file("newest.mp4"), sample_bytes(2 * kClusterBytes, 10));
    EXPECT_TRUE(contains(lyfs({"put", loop, "local.bin", "/DATA/another_clip.mp4"}).err,
                         "write-protected"));
    EXPECT_TRUE(contains(lyfs({"format", loop, "--yes"}).err, "write-protected"));
    EXPECT_EQ(shell("losetup -d " + loop).exit_code, 0);
    EXPECT_TRUE(fingerprint(path("card.img")) == before);
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
