// Commands that work with the files of a mounted card: ls, get, put, info's folder table, and
// the demo that does all of it.
#include <cstdio>
#include <sstream>

#include "cli_runner.h"

namespace lyfs::cli_test {
namespace {

constexpr std::size_t kMiB = 1024 * 1024;
constexpr std::size_t kClusterBytes = 128 * 1024;

// The NAME column of ls, in the order printed.
std::vector<std::string> listed_names(const std::string& ls_output) {
    std::vector<std::string> names;
    std::istringstream lines(ls_output);
    std::string line;
    std::getline(lines, line);  // the column titles
    while (std::getline(lines, line)) {
        const std::size_t gap = line.rfind("  ");
        if (gap != std::string::npos && line.find(" file") == std::string::npos) {
            names.push_back(line.substr(gap + 2));
        }
    }
    return names;
}

// The paths after "reclaimed " in a command's output, in order.
std::vector<std::string> reclaimed_paths(const std::string& output) {
    std::vector<std::string> paths;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.starts_with("reclaimed ")) {
            paths.push_back(line.substr(10));
        }
    }
    return paths;
}

std::string clip_name(int minute) {
    char name[32];
    std::snprintf(name, sizeof name, "20250101_08%02d00_F.mp4", minute);
    return name;
}

class FileCommands : public CliTest {};

TEST_F(FileCommands, PutThenGetGivesTheSameBytes) {
    formatted_image("card.img");
    // One byte, exactly one cluster, and several pieces of the copy ending inside a sector.
    const std::vector<std::size_t> sizes = {1, kClusterBytes, 3 * kMiB + 17};
    std::vector<std::string> names;
    for (std::size_t k = 0; k < sizes.size(); ++k) {
        names.push_back("recording_" + std::to_string(k) + ".mp4");
        write_file(names[k], sample_bytes(sizes[k], static_cast<unsigned>(k)));
        const ToolRun put = lyfs({"put", "card.img", names[k], "/DATA/" + names[k]});
        ASSERT_EQ(put.exit_code, 0) << put.err;
    }
    for (std::size_t k = 0; k < sizes.size(); ++k) {
        const ToolRun get = lyfs({"get", "card.img", "/DATA/" + names[k], "copy.bin"});
        ASSERT_EQ(get.exit_code, 0) << get.err;
        EXPECT_EQ(read_file("copy.bin"), read_file(names[k])) << names[k];
    }

    const ToolRun all = lyfs({"get", "card.img", "/DATA", "out"});
    ASSERT_EQ(all.exit_code, 0) << all.err;
    EXPECT_TRUE(contains(all.out, "copied 3 files"));
    for (const std::string& name : names) {
        EXPECT_EQ(read_file("out/" + name), read_file(name)) << name;
    }

    const ToolRun ls = lyfs({"ls", "card.img", "/DATA"});
    ASSERT_EQ(ls.exit_code, 0) << ls.err;
    EXPECT_EQ(listed_names(ls.out), names);
    EXPECT_TRUE(contains(ls.out, "    3145745     3.0 MiB  recording_2.mp4"));
    EXPECT_TRUE(contains(lyfs({"check", "card.img"}).out, "clean, 3 files in 4 folders"));
}

TEST_F(FileCommands, PutRefusesWhatTheCardCannotTake) {
    formatted_image("card.img");
    write_file("clip.mp4", sample_bytes(1000, 1));
    write_file("empty.mp4", {});
    ASSERT_EQ(lyfs({"put", "card.img", "clip.mp4", "/DATA/kept_clip.mp4"}).exit_code, 0);

    const ToolRun short_name = lyfs({"put", "card.img", "clip.mp4", "/DATA/clip.mp4"});
    EXPECT_EQ(short_name.exit_code, 2);
    EXPECT_TRUE(contains(short_name.err, "names of 9 to 39"));
    const ToolRun no_folder = lyfs({"put", "card.img", "clip.mp4", "/MOVIES/long_enough.mp4"});
    EXPECT_EQ(no_folder.exit_code, 1);
    EXPECT_TRUE(contains(no_folder.err, "has no folder MOVIES (it has: DATA EVENT PHOTO PARKED)"));
    const ToolRun twice = lyfs({"put", "card.img", "clip.mp4", "/DATA/kept_clip.mp4"});
    EXPECT_EQ(twice.exit_code, 1);
    EXPECT_TRUE(contains(twice.err, "already exists"));
    const ToolRun empty = lyfs({"put", "card.img", "empty.mp4", "/DATA/empty_clip.mp4"});
    EXPECT_EQ(empty.exit_code, 1);
    EXPECT_TRUE(contains(empty.err, "cannot tell an empty file from one whose writer never"));
    const ToolRun missing = lyfs({"get", "card.img", "/DATA/not_there.mp4"});
    EXPECT_EQ(missing.exit_code, 1);
    EXPECT_TRUE(contains(missing.err, "no file /DATA/not_there.mp4"));
    EXPECT_FALSE(std::filesystem::exists(path("not_there.mp4")));

    const ToolRun ls = lyfs({"ls", "card.img", "/DATA"});
    EXPECT_EQ(listed_names(ls.out), std::vector<std::string>{"kept_clip.mp4"});
}

TEST_F(FileCommands, LsPagesThroughMoreFilesThanOnePage) {
    formatted_image("card.img");
    constexpr int kFiles = 20;  // ls fetches 16 files per call
    std::vector<std::string> names;
    for (int k = 0; k < kFiles; ++k) {
        names.push_back(clip_name(k));
        write_file("clip", sample_bytes(100 + k, k));
        ASSERT_EQ(lyfs({"put", "card.img", "clip", "/DATA/" + names.back()}).exit_code, 0);
    }
    const ToolRun oldest_first = lyfs({"ls", "card.img", "/DATA"});
    ASSERT_EQ(oldest_first.exit_code, 0) << oldest_first.err;
    EXPECT_EQ(listed_names(oldest_first.out), names);
    EXPECT_TRUE(contains(oldest_first.out, "20 files, "));

    const ToolRun newest_first = lyfs({"ls", "card.img", "/DATA", "--newest-first"});
    ASSERT_EQ(newest_first.exit_code, 0) << newest_first.err;
    EXPECT_EQ(listed_names(newest_first.out),
              std::vector<std::string>(names.rbegin(), names.rend()));

    const ToolRun folders = lyfs({"ls", "card.img"});
    ASSERT_EQ(folders.exit_code, 0) << folders.err;
    EXPECT_TRUE(contains(folders.out, "10.0 MiB   5120     20\n")) << "its reserve, slots, files";
}

TEST_F(FileCommands, PutReportsEachReclaimedFileAndKeepsTheRest) {
    // DATA gets about 23 MiB and keeps 10 MiB free, so the fourth clip of 4 MiB needs room.
    formatted_image("card.img", "256M", "DATA:12:100,EVENT:0:100");
    constexpr int kClips = 7;
    std::vector<std::string> reclaimed;
    for (int k = 0; k < kClips; ++k) {
        write_file(clip_name(k), sample_bytes(4 * kMiB + 7, k));
        const ToolRun put = lyfs({"put", "card.img", clip_name(k), "/DATA"});
        ASSERT_EQ(put.exit_code, 0) << put.err;
        for (const std::string& path : reclaimed_paths(put.out)) {
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
    for (const std::string& name : kept) {
        ASSERT_EQ(lyfs({"get", "card.img", "/DATA/" + name, "copy.bin"}).exit_code, 0);
        EXPECT_EQ(read_file("copy.bin"), read_file(name)) << name;
    }
    EXPECT_EQ(lyfs({"check", "card.img"}).exit_code, 0);
}

TEST_F(FileCommands, InfoShowsTheFoldersOfAFormattedCard) {
    formatted_image("card.img");
    write_file("clip.mp4", sample_bytes(5000, 3));
    ASSERT_EQ(lyfs({"put", "card.img", "clip.mp4", "/PHOTO/photo_0001.jpg"}).exit_code, 0);
    write_file("long.mp4", sample_bytes(19 * kMiB, 4));
    ASSERT_EQ(lyfs({"put", "card.img", "long.mp4", "/DATA/nineteen_mib_clip.mp4"}).exit_code, 0);
    const ToolRun run = lyfs({"info", "card.img"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_TRUE(contains(run.out,
                         "card file system:    slot 1, from sector 131104, 393184 "
                         "sectors (192.0 MiB)"));
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
    const ToolRun run = lyfs({"demo"});
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_TRUE(contains(run.out, "reclaimed /DATA/20250614_080000_F.mp4"));
    EXPECT_TRUE(contains(run.out, "reclaimed /EVENT/20250614_080000_F.mp4"));
    EXPECT_TRUE(contains(run.out, "every byte as written"));
    EXPECT_TRUE(contains(run.out, "independent check: clean"));
}

}  // namespace
}  // namespace lyfs::cli_test
