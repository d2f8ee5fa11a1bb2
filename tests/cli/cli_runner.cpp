#include "cli_runner.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace lyfs::cli_test {
namespace {

std::string read_text(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

std::string shell_quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

::testing::AssertionResult contains(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "\"" << part << "\" is not in:\n" << text;
}

std::vector<std::uint8_t> sample_bytes(std::size_t count, unsigned seed) {
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

void CliTest::SetUp() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lyfs-cli-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    scratch_ = pattern;
}

void CliTest::TearDown() {
    std::error_code ignored;
    std::filesystem::remove_all(scratch_, ignored);
}

ToolRun CliTest::lyfs(const std::vector<std::string>& args) {
    std::string command = LYFS_TOOL_PATH;
    for (const std::string& arg : args) {
        command += " " + shell_quoted(arg);
    }
    return shell(command);
}

ToolRun CliTest::shell(const std::string& command_line) {
    const auto err_file = scratch_ / "stderr.txt";
    const std::string command = "cd " + shell_quoted(scratch_.string()) + " && { " + command_line +
                                "; } </dev/null 2>" + shell_quoted(err_file.string());
    ToolRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return run;
    }
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        run.out.append(buffer, n);
    }
    const int status = ::pclose(pipe);
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = read_text(err_file);
    return run;
}

std::string CliTest::blank_image(const std::string& name, std::uint64_t bytes) {
    std::filesystem::path image = scratch_ / name;
    std::ofstream{image};
    std::filesystem::resize_file(image, bytes);
    return image.string();
}

std::string CliTest::formatted_image(const std::string& name, const std::string& size,
                                     const std::string& layout) {
    std::vector<std::string> args = {"mkimage", name, "--size", size};
    if (!layout.empty()) {
        args.insert(args.end(), {"--layout", layout});
    }
    const ToolRun run = lyfs(args);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    return path(name);
}

void CliTest::write_file(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(scratch_ / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> CliTest::read_file(const std::string& name) const {
    std::error_code error;
    const auto size = std::filesystem::file_size(scratch_ / name, error);
    std::vector<std::uint8_t> bytes(error ? 0 : size);
    std::ifstream(scratch_ / name, std::ios::binary)
        .read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

}  // namespace lyfs::cli_test
