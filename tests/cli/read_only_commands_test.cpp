// The read commands never change a card, and a crafted card cannot make them write outside
// their destination or drive the terminal.
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "cli_runner.h"

namespace lyfs::cli_test {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kClusterBytes = 128 * 1024;

class ReadOnlyCommands : public CliTest {
protected:
    // DATA holds, in this order: a committed clip; names no host can use (a path separator,
    // an escape and a byte that is not UTF-8); a chain that ends at a bad cluster after its
    // first cluster; a record no reader can decode; another committed clip; and the newest,
    // unclosed with its chain open as a crash leaves it: a normal mount would repair that one on
    // the card.
    void make_damaged_card() {
        formatted_image("card.img");
        put("card.img", "/DATA/good_clip_1.mp4", 300'000, 1);
        put("card.img", "/DATA/SSSSS_slash_1.mp4", 1000, 2);
        put("card.img", "/DATA/EEEEE_escape1.mp4", 1000, 3);
        put("card.img", "/DATA/DDDDD_damaged.mp4", 3 * kClusterBytes, 4);
        put("card.img", "/DATA/BBBBB_unreadable.mp4", 1000, 5);
        put("card.img", "/DATA/good_clip_2.mp4", 5000, 7);
        put("card.img", "/DATA/WWWWW_newest_1.mp4", 2 * kClusterBytes, 10);
        const std::string card = "card.img";
        // The first long-name entry, which holds the name's start, lies just before the short one.
        poke(card, record_at(card, 1) + 65, '/', 1);
        poke(card, record_at(card, 2) + 65, 0x1B, 1);
        poke(card, record_at(card, 2) + 67, 0xE9, 1);  // no UTF-8
        poke(card, fat_entry(card, start_cluster(card, record_at(card, 3))), 0x0FFFFFF7);
        poke(card, record_at(card, 4) + 107, peek(card, record_at(card, 4) + 107) ^ 0x80, 1);
        const off_t newest = record_at(card, 6);
        poke(card, newest + 124, 0);                                      // never closed
        poke(card, fat_entry(card, start_cluster(card, newest) + 1), 0);  // no end mark
    }
};

TEST_F(ReadOnlyCommands, ADamagedCardGivesUpAllItHoldsAndLookingChangesNoByte) {
    make_damaged_card();
    const std::string before = fingerprint("card.img");
    const std::string damage = "only its first 131072 of 393216 bytes can be read (cluster ";
    const ToolRun info = expect_run({"info", "card.img"}, 0, "write-protected:     no");
    EXPECT_TRUE(contains(info.out, "damaged: /DATA/DDDDD_damaged.mp4: " + damage));
    // The unreadable record costs only itself, and names never drive the terminal.
    const ToolRun ls = expect_run({"ls", "card.img", "/DATA"}, 0, "\\x1B\\xE9EEE_escape1.mp4");
    EXPECT_TRUE(contains(ls.out, "DDDDD_damaged.mp4  [damaged: " + damage));
    EXPECT_TRUE(contains(ls.out, "6 files, 683.8 KiB, 1 damaged"));
    EXPECT_EQ(ls.out.find('\x1B'), std::string::npos);
    expect_run({"check", "card.img"}, 1,
               "bad attribute: folder DATA slot 4 is in use with attribute");
    // Nor do they break what scripts read: the card's bytes come back from the JSON.
    EXPECT_EQ(read_json({"ls", "card.img", "/DATA"}, 0,
                        R"(*(f["name"].encode("utf-8", "surrogateescape") for f in d["files"] )"
                        R"(if f["local_name"][0] == "%"))"),
              "b'/SSSS_slash_1.mp4' b'\\x1b\\xe9EEE_escape1.mp4'\n");
    EXPECT_EQ(read_json({"info", "card.img"}, 0, R"(d["damaged"][0]["readable_bytes"])"),
              "131072\n");
    EXPECT_EQ(read_json({"check", "card.img"}, 1, R"(d["clean"])"), "False\n");
    const ToolRun body = shell(std::string(LYFS_TOOL_PATH) +
                               " ls card.img --bodyfile | awk -F'|' 'NF == 11 {print $2}'");
    EXPECT_EQ(std::count(body.out.begin(), body.out.end(), '\n'), 6) << body.out;
    EXPECT_TRUE(contains(body.out, "/DATA/%1B\\xE9EEE_escape1.mp4\n"));

    // The whole card: every file that can be read, hashed as it came off the card.
    const ToolRun get =
        expect_run({"get", "card.img", "/", "out", "--manifest"}, 1, "1 file not copied");
    EXPECT_TRUE(contains(get.err, "/DATA/DDDDD_damaged.mp4 ends after"));
    EXPECT_EQ(read_file("out/DATA/good_clip_1.mp4"), sample_bytes(300'000, 1));
    EXPECT_EQ(read_file("out/DATA/good_clip_2.mp4"), sample_bytes(5000, 7))
        << "copied past the others";
    // The unclosed recording reads as its whole clusters; names no host can use are escaped.
    EXPECT_EQ(read_file("out/DATA/WWWWW_newest_1.mp4"), sample_bytes(2 * kClusterBytes, 10));
    EXPECT_EQ(read_file("out/DATA/%2FSSSS_slash_1.mp4"), sample_bytes(1000, 2));
    EXPECT_EQ(read_file("out/DATA/%1B\xE9"
                        "EEE_escape1.mp4"),
              sample_bytes(1000, 3));
    EXPECT_EQ(get.out.find('\x1B'), std::string::npos);
    EXPECT_FALSE(fs::exists("/SSSS_slash_1.mp4"));
    EXPECT_EQ(shell("find out -type f | wc -l; LC_ALL=C ls out").out,
              "7\nDATA\nEVENT\nPARKED\nPHOTO\nSHA256SUMS\nlyfs-report.txt\n")
        << "nothing of a failed copy stays";
    EXPECT_EQ(shell("cd out && sha256sum -c --quiet SHA256SUMS && wc -l <SHA256SUMS").out, "5\n");
    poke("out/DATA/good_clip_2.mp4", 4999, 0, 1);
    EXPECT_TRUE(
        contains(shell("cd out && sha256sum -c SHA256SUMS").out, "DATA/good_clip_2.mp4: FAILED"));
    const std::string report = text_of("out/lyfs-report.txt");
    const std::string image_hash = shell("sha256sum card.img").out.substr(0, 64);
    EXPECT_TRUE(contains(report, "device SHA-256:      " + image_hash + "\n"));
    EXPECT_EQ(lyfs({"hash", "card.img"}).out, image_hash + "  card.img\n");
    EXPECT_TRUE(contains(report, "WWWWW_newest_1.mp4\n    recovered whole-cluster"));
    EXPECT_TRUE(contains(report, "DDDDD_damaged.mp4\n    damaged: " + damage));
    EXPECT_TRUE(contains(report, "  bad attribute: folder DATA slot 4"));
    // One file by the name it is copied under, which is what a copy takes by default.
    expect_run({"get", "card.img", "/DATA/%2FSSSS_slash_1.mp4"}, 0);
    EXPECT_EQ(read_file("%2FSSSS_slash_1.mp4"), sample_bytes(1000, 2));

    // A damaged chain costs only what lies behind it.
    const std::string readable = std::to_string(kClusterBytes);
    const ToolRun lost = expect_run({"get", "card.img", "/DATA/DDDDD_damaged.mp4", "copy.mp4"}, 1,
                                    "ends after " + readable + " of its 393216");
    EXPECT_TRUE(contains(lost.err, "--keep-partial keeps the " + readable));
    EXPECT_FALSE(fs::exists("copy.mp4"));
    expect_run({"get", "card.img", "/DATA/DDDDD_damaged.mp4", "copy.mp4", "--keep-partial"}, 1,
               "kept its first " + readable + " bytes");
    const auto all = sample_bytes(3 * kClusterBytes, 4);
    EXPECT_EQ(read_file("copy.mp4"),
              std::vector<std::uint8_t>(all.begin(), all.begin() + kClusterBytes));
    EXPECT_EQ(shell("find . -name '*.lyfs-*'").out, "");
    // The records are left on the card as they are, and the folder still takes files.
    EXPECT_EQ(fingerprint("card.img"), before);
    put("card.img", "/DATA/XXXXX_after.mp4", 1000, 11);
}

TEST_F(ReadOnlyCommands, ALockedOrUnconfirmedCardIsNeverWritten) {
    if (::geteuid() != 0 || !fs::exists("/dev/loop-control")) {
        GTEST_SKIP() << "needs root and loop devices (losetup)";
    }
    make_damaged_card();
    const std::string before = fingerprint("card.img");
    const ToolRun attach = shell("losetup -r -f --show card.img");
    ASSERT_EQ(attach.exit_code, 0) << attach.err;
    const std::string loop = attach.out.substr(0, attach.out.find('\n'));

    expect_run({"info", loop}, 0, "write-protected:     yes");
    expect_run({"get", loop, "/DATA/WWWWW_newest_1.mp4", "newest.mp4"}, 0);
    EXPECT_EQ(read_file("newest.mp4"), sample_bytes(2 * kClusterBytes, 10));
    expect_run({"put", loop, "local.bin", "/DATA/another_clip.mp4"}, 1, "write-protected");
    expect_run({"format", loop, "--yes"}, 1, "write-protected");
    EXPECT_EQ(shell("losetup -d " + loop).exit_code, 0);
    // A writable card is prepared only when the question is answered yes; the question ends
    // its line when a pipe answers.
    const ToolRun asked = shell("loop=$(losetup -f --show card.img) && echo n | " +
                                std::string(LYFS_TOOL_PATH) + " format $loop; losetup -d $loop");
    EXPECT_TRUE(contains(asked.out, "Continue? [y/N] n\n"));
    EXPECT_TRUE(contains(asked.err, "not confirmed"));
    EXPECT_EQ(fingerprint("card.img"), before);
}

}  // namespace
}  // namespace lyfs::cli_test
