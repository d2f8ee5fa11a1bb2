// Commands that work with the files of a mounted card: ls, get, put, info's folder table, and
// the demo that does all of it.
#include <sstream>

#include "cli_runner.h"

namespace lyfs::cli_test {
namespace {

constexpr std::size_t kMiB = 1024 * 1024;
constexpr std::size_t kClusterBytes = 128 * 1024;

// The lines of `output` that start with `head`, without it; after `skip` lines.
std::vector<std::string> lines_after(const std::string& output, const std::string& head,
                                     int skip = 0) {
    std::vector<std::string> found;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (skip-- <= 0 && line.starts_with(head)) {
            found.push_back(line.substr(head.size()));
        }
    }
    return found;
}

// The NAME column of ls, in the order printed.
std::vector<std::string> listed_names(const std::string& ls_output) {
    std::vector<std::string> names;
    for (const std::string& line : lines_after(ls_output, "", 1)) {
        if (line.rfind("  ") != std::string::npos && line.find(" file") == std::string::npos) {
            names.push_back(line.substr(line.rfind("  ") + 2));
        }
    }
    return names;
}

std::string clip_name(int minute) {
    return "20250101_08" + std::string(minute < 10 ? "0" : "") + std::to_string(minute) +
           "00_F.mp4";
}

class FileCommands : public CliTest {};

TEST_F(FileCommands, PutThenGetGivesTheSameBytes) {
    formatted_image("card.img");
    // One byte, exactly one cluster, and several pieces of the copy ending inside a sector.
    const std::vector<std::size_t> sizes = {1, kClusterBytes, 3 * kMiB + 17};
    std::vector<std::string> names;
    for (std::size_t k = 0; k < sizes.size(); ++k) {
        names.push_back("recording_" + std::to_string(k) + ".mp4");
        put("card.img", "/DATA/" + names[k], sizes[k], static_cast<unsigned>(k));
    }
    for (std::size_t k = 0; k < sizes.size(); ++k) {
        expect_run({"get", "card.img", "/DATA/" + names[k], "copy.bin"}, 0);
        EXPECT_EQ(read_file("copy.bin"), sample_bytes(sizes[k], static_cast<unsigned>(k)));
    }
    expect_run({"get", "card.img", "/DATA", "out"}, 0, "copied 3 files");
    for (std::size_t k = 0; k < sizes.size(); ++k) {
        EXPECT_EQ(read_file("out/" + names[k]), sample_bytes(sizes[k], static_cast<unsigned>(k)));
    }
    const ToolRun ls =
        expect_run({"ls", "card.img", "/DATA"}, 0, "    3145745     3.0 MiB  recording_2.mp4");
    EXPECT_EQ(listed_names(ls.out), names);
    expect_run({"check", "card.img"}, 0, "clean, 3 files in 4 folders");
}

TEST_F(FileCommands, LsPagesThroughMoreFilesThanOnePage) {
    formatted_image("card.img");
    constexpr int kFiles = 20;  // ls fetches 16 files per call
    std::vector<std::string> names;
    for (int k = 0; k < kFiles; ++k) {
        names.push_back(clip_name(k));
        put("card.img", "/DATA/" + names.back(), 100 + k, k);
    }
    EXPECT_EQ(listed_names(expect_run({"ls", "card.img", "/DATA"}, 0, "20 files, ").out), names);
    EXPECT_EQ(listed_names(expect_run({"ls", "card.img", "/DATA", "--newest-first"}, 0).out),
              std::vector<std::string>(names.rbegin(), names.rend()));
    // Its reserve, slots, files.
    expect_run({"ls", "card.img"}, 0, "10.0 MiB   5120     20\n");
}

TEST_F(FileCommands, PutReportsEachReclaimedFileAndKeepsTheRest) {
    // DATA gets about 23 MiB and keeps 10 MiB free, so the fourth clip of 4 MiB needs room.
    formatted_image("card.img", "256M", "DATA:12:100,EVENT:0:100");
    constexpr int kClips = 7;
    std::vector<std::string> reclaimed;
    for (int k = 0; k < kClips; ++k) {
        write_file(clip_name(k), sample_bytes(4 * kMiB + 7, k));
        for (const std::string& path : lines_after(
                 expect_run({"put", "card.img", clip_name(k), "/DATA"}, 0).out, "reclaimed ")) {
            reclaimed.push_back(path);
        }
    }
    // The oldest clips went, oldest first; the others are listed and intact.
    ASSERT_FALSE(reclaimed.empty());
    std::vector<std::string> kept;
    for (int k = 0; k < kClips; ++k) {
        if (static_cast<std::size_t>(k) < reclaimed.size()) {
            EXPECT_EQ(reclaimed[k], "/DATA/" + clip_name(k));
        } else {
            kept.push_back(clip_name(k));
        }
    }
    const ToolRun ls = lyfs({"ls", "card.img", "/DATA"});
    EXPECT_EQ(listed_names(ls.out), kept);
    expect_run({"get", "card.img", "/DATA", "out"}, 0);
    for (const std::string& name : kept) {
        EXPECT_EQ(read_file("out/" + name), read_file(name)) << name;
    }
    expect_run({"check", "card.img"}, 0);
}

TEST_F(FileCommands, InfoShowsTheFoldersOfAFormattedCard) {
    formatted_image("card.img");
    put("card.img", "/PHOTO/photo_0001.jpg", 5000, 3);
    put("card.img", "/DATA/nineteen_mib_clip.mp4", 19 * kMiB, 4);
    const ToolRun run =
        expect_run({"info", "card.img"}, 0,
                   "card file system:    slot 1, from sector 131104, 393184 sectors (192.0 MiB)");
    EXPECT_TRUE(contains(run.out, "FOLDER "));
    EXPECT_TRUE(contains(run.out, "PHOTO "));
    EXPECT_TRUE(contains(run.out, "2048      1\n"));
    EXPECT_TRUE(contains(run.out, "100.0 MiB   5120      0\n"));
    // DATA: 19 of its 76 MiB used, its 10 MiB reserve at the end; EVENT (57 MiB) lies wholly
    // inside its 100 MiB reserve. No terminal, so no colours.
    EXPECT_TRUE(contains(run.out,
                         "DATA     [##########.........................|.....] reserve "
                         "10.0 MiB\n"));
    EXPECT_TRUE(contains(run.out,
                         "EVENT    [|........................................] reserve "
                         "100.0 MiB, more than the folder: it cannot take files\n"));
    EXPECT_EQ(run.out.find('\033'), std::string::npos);
}

TEST_F(FileCommands, DemoRecordsUntilReclaimedAndReadsEverythingBack) {
    const ToolRun run = expect_run({"demo"}, 0, "reclaimed /DATA/20250614_080000_F.mp4");
    EXPECT_TRUE(contains(run.out, "reclaimed /EVENT/20250614_080000_F.mp4"));
    EXPECT_TRUE(contains(run.out, "every byte as written"));
    EXPECT_TRUE(contains(run.out, "independent check: clean"));
}

}  // namespace
}  // namespace lyfs::cli_test
