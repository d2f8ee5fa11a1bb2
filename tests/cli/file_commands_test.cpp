// Commands that work with the files of a card: ls, get, put, info's folder table, and the demo
// that does all of it.
#include "cli_runner.h"

namespace lyfs::cli_test {
namespace {

constexpr std::size_t kMiB = 1024 * 1024;

std::string clip_name(int minute) {
    return "20250101_08" + std::to_string(100 + minute).substr(1) + "00_F.mp4";
}

class FileCommands : public CliTest {};

TEST_F(FileCommands, PutGetLsAndInfoAgreeOnMoreFilesThanOnePage) {
    formatted_image("card.img");
    // One byte, exactly one cluster, several pieces of the copy ending inside a sector, and
    // more files than ls fetches in one call (16).
    std::vector<std::size_t> sizes = {1, 128 * 1024, 3 * kMiB + 17};
    sizes.resize(20, 1000);
    std::string names;
    for (int k = 0; k < 20; ++k) {
        names += clip_name(k) + "\n";
        put("card.img", "/DATA/" + clip_name(k), sizes[k], k);
    }
    expect_run({"get", "card.img", "/DATA", "out"}, 0, "copied 20 files");
    for (int k = 0; k < 20; ++k) {
        EXPECT_EQ(read_file("out/" + clip_name(k)), sample_bytes(sizes[k], k));
    }
    const ToolRun ls = expect_run({"ls", "card.img", "/DATA"}, 0, "    3145745     3.0 MiB  ");
    EXPECT_TRUE(contains(ls.out, "20 files, "));
    const std::string ls_names = std::string(LYFS_TOOL_PATH) + " ls card.img /DATA ";
    EXPECT_EQ(shell(ls_names + "| awk 'NF == 6 {print $6}'").out, names);
    EXPECT_EQ(shell(ls_names + "--newest-first | awk 'NF == 6 {print $6}' | tac").out, names);
    // Its reserve, slots, files.
    expect_run({"ls", "card.img"}, 0, "10.0 MiB   5120     20\n");
    expect_run({"check", "card.img"}, 0, "clean, 20 files in 4 folders");

    const ToolRun info =
        expect_run({"info", "card.img"}, 0,
                   "card file system:    slot 1, from sector 131104, 393184 sectors (192.0 MiB)");
    EXPECT_TRUE(contains(info.out, "100.0 MiB   5120      0\n"));
    // DATA: its 10 MiB reserve at the end. No terminal, so no colours.
    EXPECT_TRUE(contains(info.out,
                         "DATA     [###................................|.....] reserve "
                         "10.0 MiB\n"));
    EXPECT_EQ(info.out.find('\033'), std::string::npos);
}

TEST_F(FileCommands, JsonBodyFileAndTimelineTellWhatTheTextShows) {
    formatted_image("card.img");
    // Clips a minute apart, but six minutes between the fourth and the fifth.
    const int minutes[] = {0, 1, 2, 3, 9, 10};
    std::string body;
    for (int k = 0; k < 6; ++k) {
        put("card.img", "/DATA/" + clip_name(k), 1000 * (k + 1), k);
        stamp("card.img", record_at("card.img", k), 2025, 1, 1, 8, minutes[k]);
        // 2025-01-01 08:00:00 in UTC.
        const std::string time = std::to_string(1735718400 + 60 * minutes[k]);
        body += "0|/DATA/" + clip_name(k) + "|" + std::to_string(k) + "|r/rr--r--r--|0|0|" +
                std::to_string(1000 * (k + 1)) + "|0|" + time + "|0|" + time + "\n";
    }
    const std::string tool = LYFS_TOOL_PATH;
    EXPECT_EQ(read_json({"ls", "card.img", "/DATA"}, 0,
                        R"(rows(d["files"], "size_bytes", "recorded", "name"))"),
              shell(tool + " ls card.img /DATA | awk 'NF == 6 {print $1, $4 \"T\" $5, $6}'").out);
    EXPECT_EQ(read_json({"ls", "card.img"}, 0, R"(rows(d["folders"], "name", "slots", "files"))"),
              shell(tool + " ls card.img | awk 'NR > 1 {print $1, $(NF - 1), $NF}'").out);
    EXPECT_EQ(
        read_json({"info", "card.img"}, 0, R"(rows([d["partition"]], "first_sector", "sectors"))"),
        "131104 393184\n")
        << "as info's text says (above)";
    EXPECT_EQ(read_json({"check", "card.img"}, 0,
                        R"(d["device"] + ": clean, " + rows([d], "file_count") + " files in " + )"
                        R"(rows([d], "folder_count") + " folders")"),
              lyfs({"check", "card.img"}).out);

    EXPECT_EQ(shell("TZ=UTC " + tool + " ls card.img --bodyfile").out, body);
    const std::string row = "DATA     |" + std::string(17, '#') + std::string(32, '.') +
                            std::string(6, '#') + std::string(5, ' ') +
                            "| 2025-01-01 08:00:00 to 2025-01-01 08:10:00, 6 recordings\n";
    const ToolRun timeline = expect_run({"ls", "card.img", "--timeline"}, 0, row);
    EXPECT_TRUE(
        contains(timeline.out, "DATA     2025-01-01 08:03:00 to 2025-01-01 08:09:00  6m\n"));
    expect_runs({
        {{"ls", "card.img", "--timeline", "--gap", "6m"}, 0, "no gaps longer than 6m\n"},
        {{"ls", "card.img", "--timeline", "--gap", "5m59s"}, 0, "08:03:00 to 2025-01-01 08:09:00"},
        {{"ls", "card.img", "--timeline", "--gap", "5 minutes"}, 2, "not a length of time"},
        {{"ls", "card.img", "--json", "--bodyfile"}, 2, "excludes"},
    });
}

TEST_F(FileCommands, PutAndDemoReportEachReclaimedFileOldestFirstAndKeepTheRest) {
    // DATA gets about 23 MiB and keeps 10 MiB free, so the fourth clip of 4 MiB needs room.
    formatted_image("card.img", "256M", "DATA:12:100,EVENT:0:100");
    for (int k = 0; k < 7; ++k) {
        write_file(clip_name(k), sample_bytes(4 * kMiB + 7, k));
        expect_run({"put", "card.img", clip_name(k), "/DATA"}, 0,
                   k < 3 ? "" : "reclaimed /DATA/" + clip_name(k - 3) + "\n" + clip_name(k));
    }
    expect_run({"get", "card.img", "/DATA", "out"}, 0, "copied 3 files");
    expect_run({"check", "card.img"}, 0, "clean");
    // The demo does the same on a card of its own and reads everything back.
    const ToolRun run = expect_run({"demo"}, 0, "reclaimed /EVENT/20250614_080000_F.mp4");
    EXPECT_TRUE(contains(run.out, "every byte as written"));
    EXPECT_TRUE(contains(run.out, "independent check: clean"));
}

}  // namespace
}  // namespace lyfs::cli_test
