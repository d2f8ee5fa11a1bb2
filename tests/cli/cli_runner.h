// Runs the built lyfs tool in a scratch folder of its own and keeps what it printed.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "image_edits.h"

namespace lyfs::cli_test {

struct ToolRun {
    int exit_code = -1;
    std::string out;
    std::string err;
    std::string command;
};

// A command, how it ends, and a text it prints.
using Case = std::tuple<std::vector<std::string>, int, std::string>;

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "lyfs-cli-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        scratch_ = pattern;
        std::filesystem::current_path(scratch_);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::current_path("/", ignored);
        std::filesystem::remove_all(scratch_, ignored);
    }

    // Runs lyfs with these arguments in the scratch folder.
    ToolRun lyfs(const std::vector<std::string>& args) {
        std::string command = LYFS_TOOL_PATH;
        for (const std::string& arg : args) {
            command += " '";
            for (char c : arg) {
                command += c == '\'' ? std::string("'\\''") : std::string(1, c);
            }
            command += "'";
        }
        return shell(command);
    }
    // Runs lyfs and expects its exit code and `said` in what it printed.
    ToolRun expect_run(const std::vector<std::string>& args, int exit_code,
                       const std::string& said = "") {
        const ToolRun run = lyfs(args);
        EXPECT_EQ(run.exit_code, exit_code) << run.command << "\n" << run.err;
        EXPECT_TRUE(contains(run.out + run.err, said)) << run.command;
        return run;
    }
    void expect_runs(const std::vector<Case>& cases) {
        for (const auto& [args, exit_code, said] : cases) {
            expect_run(args, exit_code, said);
        }
    }
    // Runs lyfs with --json, expecting its exit code, and prints what the Python expression
    // makes of the document `d` (one that does not parse fails it). rows(items, *keys) gives
    // the items' values of the keys, a line per item and spaces between.
    std::string read_json(std::vector<std::string> args, int exit_code,
                          const std::string& expression) {
        args.push_back("--json");
        const std::string document = expect_run(args, exit_code).out;
        write_file("document.json", {document.begin(), document.end()});
        return shell(R"(python3 -c 'import json; d = json.load(open("document.json")); )"
                     R"(rows = lambda items, *keys: "\n".join(" ".join(str(i[k]) for k in keys) )"
                     R"(for i in items); print()" +
                     expression + ")'")
            .out;
    }
    // Runs a shell command line in the scratch folder.
    ToolRun shell(const std::string& command) {
        const int status =
            std::system(("{ " + command + "; } </dev/null >stdout.txt 2>stderr.txt").c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text_of("stdout.txt"),
                text_of("stderr.txt"), command};
    }

    // What an image holds and which of its blocks are written (a hole filled with zeros is a
    // write as much as any other): equal before and after a command when it changed no byte.
    std::string fingerprint(const std::string& image) {
        return shell("stat -c %b " + image + " && md5sum <" + image).out;
    }
    // A card image made by lyfs mkimage.
    void formatted_image(const std::string& name, const std::string& size = "256M",
                         const std::string& layout =
                             "DATA:40:5000,EVENT:30:5000,PHOTO:10:2000,"
                             "PARKED:0:2000") {
        expect_run({"mkimage", name, "--size", size, "--layout", layout}, 0);
    }
    // Writes sample_bytes(bytes, seed) to the card at `card_path`, by way of local.bin.
    void put(const std::string& card, const std::string& card_path, std::size_t bytes,
             unsigned seed) {
        write_file("local.bin", sample_bytes(bytes, seed));
        expect_run({"put", card, "local.bin", card_path}, 0);
    }
    void write_file(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        std::ofstream(name, std::ios::binary) << std::string(bytes.begin(), bytes.end());
    }
    std::vector<std::uint8_t> read_file(const std::string& name) const {
        std::ifstream in(name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    std::string text_of(const std::string& name) const {
        const auto bytes = read_file(name);
        return {bytes.begin(), bytes.end()};
    }

private:
    std::filesystem::path scratch_;
};

}  // namespace lyfs::cli_test
