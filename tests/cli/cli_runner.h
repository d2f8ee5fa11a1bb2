// Runs the built lyfs tool in a scratch folder of its own and keeps what it printed.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

namespace lyfs::cli_test {

struct ToolRun {
    int exit_code = -1;
    std::string out;
    std::string err;
    std::string command;
};

// A command, how it ends, and a text it prints.
using Case = std::tuple<std::vector<std::string>, int, std::string>;

// Passes when `part` occurs in `text`, and shows both when it does not.
inline ::testing::AssertionResult contains(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "\"" << part << "\" is not in:\n" << text;
}

// Bytes that differ from file to file, for copies that must come back unchanged.
inline std::vector<std::uint8_t> sample_bytes(std::size_t count, unsigned seed) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i + 1) * (seed + 1) * 0x9E3779B97F4A7C15ull >> 56);
    }
    return bytes;
}

// Card images are edited in place the way a crash, a failing card or a forger leaves them.
// The little-endian number of four bytes at `at`.
inline std::uint32_t peek(const std::string& image, off_t at) {
    std::uint8_t b[4] = {};
    const int fd = ::open(image.c_str(), O_RDONLY);
    EXPECT_EQ(::pread(fd, b, 4, at), 4) << image;
    ::close(fd);
    return b[0] | b[1] << 8 | b[2] << 16 | std::uint32_t{b[3]} << 24;
}

// Writes the low `width` bytes of `value`, little-endian, at `at`.
inline void poke(const std::string& image, off_t at, std::uint32_t value, int width = 4) {
    const std::uint8_t b[4] = {
        static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
        static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    const int fd = ::open(image.c_str(), O_WRONLY);
    EXPECT_EQ(::pwrite(fd, b, width, at), width) << image;
    ::close(fd);
}

// Where the FAT of the card file system's partition holds the link of `cluster`.
inline off_t fat_entry(const std::string& image, std::uint32_t cluster) {
    return (off_t{peek(image, 0x1AE + 8)} + 32) * 512 + off_t{cluster} * 4;
}

// Where the record in `slot` of the first folder's file entries lies: they start at cluster 3,
// behind the reserved sectors, one FAT and cluster 2, clusters being 256 sectors.
inline off_t record_at(const std::string& image, int slot) {
    const off_t part = peek(image, 0x1AE + 8);
    return (part + 32 + peek(image, part * 512 + 0x24) + 256) * 512 + 128 * slot;
}

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
