// The tool never costs a user a file: not on the host (a failed get leaves its destination
// alone), not on the card (a put that cannot finish takes back what it wrote, and reclaims
// nothing for a file that can never fit). Where it cannot go on, it says what to do.
#include <filesystem>

#include "cli_runner.h"

namespace lyfs::cli_test {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMiB = 1024 * 1024;

class DataSafety : public CliTest {};

TEST_F(DataSafety, GetChangesItsDestinationOnlyWithAWholeCopy) {
    formatted_image("card.img");
    put("card.img", "/DATA/AAAAA_clip.mp4", 300'000, 1);
    write_file("keep.txt", {'n', 'o', 't', 'e', 's'});
    expect_run({"get", "card.img", "/EVENT/AAAAA_clip.mp4", "keep.txt"}, 1, "no file");
    EXPECT_EQ(text_of("keep.txt"), "notes");
    // A link stays a link; what it names becomes the copy.
    fs::create_symlink("keep.txt", "link.txt");
    expect_run({"get", "card.img", "/DATA/AAAAA_clip.mp4", "link.txt"}, 0);
    EXPECT_TRUE(fs::is_symlink("link.txt"));
    EXPECT_EQ(read_file("keep.txt"), sample_bytes(300'000, 1));
    // A folder given as one is made; standard output gets the bytes alone.
    expect_run({"get", "card.img", "/DATA/AAAAA_clip.mp4", "newdir/"}, 0);
    EXPECT_EQ(read_file("newdir/AAAAA_clip.mp4"), sample_bytes(300'000, 1));
    EXPECT_EQ(lyfs({"get", "card.img", "/DATA/AAAAA_clip.mp4", "-"}).out.size(), 300'000u);
}

TEST_F(DataSafety, APutThatCannotFitOrFinishLeavesNoTrace) {
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
    expect_run({"put", "card.img", "big.bin", "/DATA/BBBBB_clip.mp4"}, 1, "ever hold is 28.1 MiB");
    EXPECT_EQ(fingerprint("card.img"), before);

    write_file("clip.bin", sample_bytes(20 * kMiB, 2));
    expect_run({"put", "card.img", "clip.bin", "/DATA/BBBBB_clip.mp4"}, 1,
               "removed /DATA/BBBBB_clip.mp4 from the card again");
    expect_run({"ls", "card.img", "/DATA"}, 0, "0 files");
}

TEST_F(DataSafety, AnInterruptedPutLeavesNothingBehind) {
    shell("truncate -s 250M long.bin");
    formatted_image("card.img", "1G", "DATA:80:100,EVENT:0:100");
    put("card.img", "/DATA/AAAAA_clip.mp4", 1000, 1);
    // Stopped once it has written 4 MiB of the 250.
    const ToolRun run = shell(
        std::string(LYFS_TOOL_PATH) + " put card.img long.bin /DATA/BBBBB_clip.mp4 & pid=$!; " +
        "while kill -0 $pid 2>/dev/null && [ \"$(awk '/^wchar/ {print $2}' /proc/$pid/io)\" " +
        "-lt 4194304 ] 2>/dev/null; do sleep 0.01; done; kill -TERM $pid; wait $pid; echo $?");
    EXPECT_EQ(run.out, "143\n") << run.err;
    EXPECT_TRUE(contains(run.err, "stopped by SIGTERM while /DATA/BBBBB_clip.mp4 was written"));
    expect_run({"ls", "card.img", "/DATA"}, 0, "1 file, ");
    expect_run({"check", "card.img"}, 0);
}

TEST_F(DataSafety, WhatACardCannotTakeIsRefusedInWordsThatSayWhatToDo) {
    shell("truncate -s 256M raw.img blank.img");
    expect_run({"partition", "blank.img", "--fat32", "64"}, 0);
    formatted_image("short.img");
    fs::resize_file("short.img", 100 * kMiB);
    formatted_image("region.img");
    // The folder record gives EVENT more clusters than there are.
    poke("region.img", (off_t{peek("region.img", 0x1AE + 8)} + 1) * 512 + 12, 0x7FFFFFFF);
    put("region.img", "/DATA/kept_clip.mp4", 1000, 1);
    put("region.img", "/DATA/SHA256SUMS", 1000, 2);
    write_file("empty.mp4", {});
    expect_runs({
        {{"put", "region.img", "local.bin", "/DATA/new\nline_clip.mp4"}, 2, "character (0x0A)"},
        {{"put", "region.img", "local.bin", "/MOVIES/long_enough.mp4"}, 1, "no folder MOVIES"},
        {{"put", "region.img", "local.bin", "/DATA/kept_clip.mp4"}, 1, "already exists"},
        {{"put", "region.img", "empty.mp4", "/DATA/empty_clip.mp4"}, 1, "cannot tell an empty"},
        {{"format", "raw.img"}, 1, "run lyfs partition first"},
        {{"check", "raw.img"}, 1, "raw.img: 1 problem"},
        {{"ls", "blank.img"}, 1, "partitioned but not formatted: lyfs format blank.img"},
        {{"ls", "short.img"}, 1, "the table needs 524288 sectors (256.0 MiB), short.img has"},
        {{"ls", "region.img", "/EVENT"}, 1, "folder EVENT is on region.img but cannot be used: "},
        {{"get", "region.img", "/", "all"}, 1, "1 folder not copied:\n  folder EVENT is on the"},
        // A card's file never takes the place of the manifest that vouches for the copies.
        {{"get", "region.img", "/DATA", "data", "--manifest"}, 1, "its name is the manifest's"},
        // A folder smaller than the space it keeps free is named everywhere.
        {{"mkimage", "small.img", "--size", "100M"}, 0, "keeps 100.0 MiB of a folder of that name"},
    });
    const std::string before = fingerprint("small.img");
    expect_run({"put", "small.img", "local.bin", "/EVENT/AAAAA_clip.mp4"}, 1,
               "/EVENT cannot take files on this card: it has 10.0 MiB");
    EXPECT_EQ(fingerprint("small.img"), before);
}

}  // namespace
}  // namespace lyfs::cli_test
