// Runs the built lyfs tool in a scratch folder of its own and keeps what it printed.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "image_edits.h"

namespace lyfs::cli_test {

namespace fs = std::filesystem;

const std::string kTool = LYFS_TOOL_PATH;

struct ToolRun {
    int exit_code = -1;
    std::string out, err;
};

// A command line of lyfs as the shell reads it, how it ends, and texts it prints.
struct Case {
    std::string line;
    int exit_code;
    std::vector<std::string> said = {};
};

// DATA of damaged_card(), slot by slot: the name it is put under, its bytes (sample_bytes seeded
// with the slot), the bytes a read gets before it fails, and the local name it is listed and
// copied under ("" for none).
struct DamagedCardFile {
    std::string put_as;
    std::size_t bytes;
    std::size_t readable = bytes;
    std::string local = put_as;
};
const std::vector<DamagedCardFile> kDamagedCard = {
    {"good_clip_0.mp4", 300'000},
    {"LLLLL_loop.mp4", 3 * kCluster, kCluster},
    {"FFFFF_free.mp4", 3 * kCluster, kCluster},
    {"IIIII_invalid.mp4", 3 * kCluster, kCluster},
    {"PPPPP_past.mp4", 3 * kCluster, kCluster},
    {"SSSSS_short.mp4", 5 * kCluster, 3 * kCluster},
    {"A_twin_clip.mp4", 1000},
    {"B_twin_clip.mp4", 2000, 2000, "A_twin_clip~2.mp4"},
    {"SSSSS_slash.mp4", 3000, 3000, "%2FSSSS_slash.mp4"},
    {"EEEEE_escape.mp4", 4000, 4000,
     "%1B\xE9"
     "EEE_escape.mp4"},
    {"BBBBB_unreadable.mp4", 1000, 1000, ""},
    {"good_clip_11.mp4", 5000},
    {"WWWWW_newest.mp4", 2 * kCluster},
};

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "lyfs-cli-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        scratch_ = pattern;
        fs::current_path(scratch_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::current_path("/", ignored);
        fs::remove_all(scratch_, ignored);
    }

    // Without a terminal no command prints an escape, whatever the card's names.
    ToolRun expect_run(const std::string& line, int exit_code,
                       const std::vector<std::string>& said = {}) {
        const ToolRun run = shell(kTool + " " + line);
        EXPECT_EQ(run.exit_code, exit_code) << line << "\n" << run.err;
        expect_in(run.out + run.err, said, line);
        EXPECT_EQ((run.out + run.err).find('\x1B'), std::string::npos) << line;
        return run;
    }
    void expect_runs(const std::vector<Case>& cases) {
        for (const auto& [line, exit_code, said] : cases) {
            expect_run(line, exit_code, said);
        }
    }
    void expect_in(const std::string& text, const std::vector<std::string>& parts,
                   const std::string& what = "") {
        for (const std::string& part : parts) {
            EXPECT_TRUE(contains(text, part)) << what;
        }
    }
    // What the Python expression makes of the document `d` that lyfs LINE --json prints (one
    // that does not parse fails it). rows(items, *keys) gives the items' values of the keys, a
    // line per item.
    std::string read_json(const std::string& line, int exit_code, const std::string& expression) {
        const std::string document = expect_run(line + " --json", exit_code).out;
        write_file("document.json", {document.begin(), document.end()});
        return shell(R"(python3 -c 'import json; d = json.load(open("document.json")); )"
                     R"(rows = lambda items, *keys: "\n".join(" ".join(str(i[k]) for k in keys) )"
                     R"(for i in items); print()" +
                     expression + ")'")
            .out;
    }
    ToolRun shell(const std::string& command) {
        const int status =
            std::system(("{ " + command + "; } </dev/null >stdout.txt 2>stderr.txt").c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text_of("stdout.txt"),
                text_of("stderr.txt")};
    }

    // What an image holds and which of its blocks are written (a hole filled with zeros is a
    // write as much as any other): equal before and after a command when it changed no byte.
    std::string fingerprint(const std::string& image) {
        return shell("stat -c %b " + image + " && md5sum <" + image).out;
    }
    // A card image of lyfs mkimage, with its default folders unless a layout is given.
    void formatted_image(const std::string& name, const std::string& size = "256M",
                         const std::string& layout = "") {
        expect_run(
            "mkimage " + name + " --size " + size + (layout.empty() ? "" : " --layout " + layout),
            0);
    }
    // Writes sample_bytes(bytes, seed) to the card at `card_path`, by way of local.bin.
    void put(const std::string& card, const std::string& card_path, std::size_t bytes,
             std::size_t seed) {
        write_file("local.bin", sample_bytes(bytes, seed));
        expect_run("put " + card + " local.bin " + card_path, 0);
    }
    // card.img as a crash, a failing card and a forger leave one (kDamagedCard): chains broken
    // by a loop, a link to a free cluster, to a bad one and past the partition, and one that
    // ends before its size; a name twice, one with a slash, one with an escape and a byte that is
    // no UTF-8; a record no reader can decode; and the newest recording never closed, its chain
    // open, which a mount that may write repairs on the card.
    void damaged_card() {
        const std::string card = "card.img";
        formatted_image(card);
        for (std::size_t slot = 0; slot < kDamagedCard.size(); ++slot) {
            put(card, "/DATA/" + kDamagedCard[slot].put_as, kDamagedCard[slot].bytes, slot);
        }
        poke(card, fat_entry(card, start_cluster(card, 1)), start_cluster(card, 1));
        poke(card, fat_entry(card, start_cluster(card, 2)), 0);
        poke(card, fat_entry(card, start_cluster(card, 3)), 0x0FFFFFF7);
        poke(card, fat_entry(card, start_cluster(card, 4)), 0x00FFFFF0);
        poke(card, fat_entry(card, start_cluster(card, 5) + 2), 0x0FFFFFF8);
        poke(card, record_at(card, 7) + kNameStart, 'A', 1);
        poke(card, record_at(card, 8) + kNameStart, '/', 1);
        poke(card, record_at(card, 9) + kNameStart, 0x1B, 1);
        poke(card, record_at(card, 9) + kNameStart + 2, 0xE9, 1);
        poke(card, record_at(card, 10) + 107, peek(card, record_at(card, 10) + 107) ^ 0x80, 1);
        poke(card, record_at(card, 12) + kSizeField, 0);
        poke(card, fat_entry(card, start_cluster(card, 12) + 1), 0);
    }
    void write_file(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        std::ofstream(name, std::ios::binary) << std::string(bytes.begin(), bytes.end());
    }
    // Streamed whole, not byte by byte, which is slow in unoptimised builds; "" when missing.
    std::vector<std::uint8_t> read_file(const std::string& name) const {
        std::ostringstream bytes;
        bytes << std::ifstream(name, std::ios::binary).rdbuf();
        const std::string whole = bytes.str();
        return {whole.begin(), whole.end()};
    }
    std::string text_of(const std::string& name) const {
        const auto bytes = read_file(name);
        return {bytes.begin(), bytes.end()};
    }

private:
    fs::path scratch_;
};

}  // namespace lyfs::cli_test
