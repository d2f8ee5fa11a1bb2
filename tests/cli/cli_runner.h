// Runs the built lyfs tool in a scratch folder of its own and keeps what it printed.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace lyfs::cli_test {

struct ToolRun {
    int exit_code = -1;
    std::string out;
    std::string err;
};

// A command, how it ends, and a text it prints.
struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::string said;
};

inline std::string shell_quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// Passes when `part` occurs in `text`, and shows both when it does not.
inline ::testing::AssertionResult contains(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "\"" << part << "\" is not in:\n" << text;
}

// Bytes that differ from file to file, for copies that must come back unchanged.
inline std::vector<std::uint8_t> sample_bytes(std::size_t count, unsigned seed) {
    // xorshift64, eight bytes a step: cheap enough for many MiB in a sanitizer build.
    std::uint64_t state = 0x9E3779B97F4A7C15ull * (seed + 1);
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t k = 0; k < count; k += sizeof state) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        std::memcpy(bytes.data() + k, &state, std::min(sizeof state, count - k));
    }
    return bytes;
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "lyfs-cli-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        scratch_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(scratch_, ignored);
    }

    // Runs lyfs with these arguments in the scratch folder.
    ToolRun lyfs(const std::vector<std::string>& args) {
        std::string command = LYFS_TOOL_PATH;
        for (const std::string& arg : args) {
            command += " " + shell_quoted(arg);
        }
        return shell(command);
    }
    // Runs lyfs and expects its exit code and `said` in what it printed.
    ToolRun expect_run(const std::vector<std::string>& args, int exit_code,
                       const std::string& said = "") {
        const ToolRun run = lyfs(args);
        EXPECT_EQ(run.exit_code, exit_code) << args[0] << " " << args.back() << "\n" << run.err;
        EXPECT_TRUE(contains(run.out + run.err, said)) << args[0] << " " << args.back();
        return run;
    }
    void expect_runs(const std::vector<Case>& cases) {
        for (const Case& c : cases) {
            expect_run(c.args, c.exit_code, c.said);
        }
    }
    // Runs a shell command line in the scratch folder.
    ToolRun shell(const std::string& command_line) {
        const std::string command = "cd " + shell_quoted(scratch_.string()) + " && { " +
                                    command_line + "; } </dev/null 2>stderr.txt";
        ToolRun run;
        FILE* pipe = ::popen(command.c_str(), "r");
        char buffer[4096];
        for (std::size_t n = 0; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            run.out.append(buffer, n);
        }
        const int status = ::pclose(pipe);
        run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        const auto err = read_file("stderr.txt");
        run.err.assign(err.begin(), err.end());
        return run;
    }

    std::string path(const std::string& name) const { return (scratch_ / name).string(); }
    // A sparse file of the given size: a blank card.
    void blank_image(const std::string& name, std::uint64_t bytes) {
        std::ofstream{scratch_ / name};
        std::filesystem::resize_file(scratch_ / name, bytes);
    }
    // A card image made by lyfs mkimage.
    void formatted_image(const std::string& name, const std::string& size = "256M",
                         const std::string& layout = "") {
        std::vector<std::string> args = {"mkimage", name, "--size", size};
        if (!layout.empty()) {
            args.insert(args.end(), {"--layout", layout});
        }
        expect_run(args, 0);
    }
    // Writes sample_bytes(bytes, seed) to the card at `card_path`, by way of local.bin.
    void put(const std::string& card, const std::string& card_path, std::size_t bytes,
             unsigned seed) {
        write_file("local.bin", sample_bytes(bytes, seed));
        expect_run({"put", card, "local.bin", card_path}, 0);
    }
    void write_file(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        std::ofstream(scratch_ / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    std::vector<std::uint8_t> read_file(const std::string& name) const {
        std::error_code error;
        const auto size = std::filesystem::file_size(scratch_ / name, error);
        std::vector<std::uint8_t> bytes(error ? 0 : size);
        std::ifstream(scratch_ / name, std::ios::binary)
            .read(reinterpret_cast<char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return bytes;
    }

private:
    std::filesystem::path scratch_;
};

}  // namespace lyfs::cli_test
