// Runs the built lyfs tool in a scratch folder of its own and keeps what it printed.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace lyfs::cli_test {

struct ToolRun {
    int exit_code = -1;
    std::string out;
    std::string err;
};

std::string shell_quoted(const std::string& text);
// Passes when `part` occurs in `text`, and shows both when it does not.
::testing::AssertionResult contains(const std::string& text, const std::string& part);
// Bytes that differ from file to file, for copies that must come back unchanged.
std::vector<std::uint8_t> sample_bytes(std::size_t count, unsigned seed);

// A command, how it ends, and a text it prints.
struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::string said;
};

class CliTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(scratch_, ignored);
    }

    // Runs lyfs with these arguments in the scratch folder.
    ToolRun lyfs(const std::vector<std::string>& args);
    // Runs lyfs and expects its exit code and `said` in what it printed.
    ToolRun expect_run(const std::vector<std::string>& args, int exit_code,
                       const std::string& said = "");
    void expect_runs(const std::vector<Case>& cases) {
        for (const Case& c : cases) {
            expect_run(c.args, c.exit_code, c.said);
        }
    }
    // Runs a shell command line in the scratch folder.
    ToolRun shell(const std::string& command_line);

    std::string path(const std::string& name) const { return (scratch_ / name).string(); }
    // A sparse file of the given size: a blank card.
    void blank_image(const std::string& name, std::uint64_t bytes);
    // A card image made by lyfs mkimage.
    void formatted_image(const std::string& name, const std::string& size = "256M",
                         const std::string& layout = "");
    // Writes sample_bytes(bytes, seed) to the card at `card_path`.
    void put(const std::string& card, const std::string& card_path, std::size_t bytes,
             unsigned seed);
    void write_file(const std::string& name, const std::vector<std::uint8_t>& bytes);
    std::vector<std::uint8_t> read_file(const std::string& name) const;

private:
    std::filesystem::path scratch_;
};

}  // namespace lyfs::cli_test
