// What the tool's tests check output with, and how they edit card images in place the way a
// crash, a failing card or a forger leaves them.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

namespace lyfs::cli_test {

constexpr std::size_t kMiB = 1024 * 1024;
constexpr std::uint32_t kCluster = 128 * 1024;  // of the cards the tests make
// Within a file's record: the first character of its long name, and its size.
constexpr off_t kNameStart = 65;
constexpr off_t kSizeField = 124;

// Passes when `part` occurs in `text`, and shows both when it does not.
inline ::testing::AssertionResult contains(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "\"" << part << "\" is not in:\n" << text;
}

// Bytes that differ from file to file, for copies that must come back unchanged. The first n
// bytes of a seed are the same whatever the count, as the part of a file read before a break.
inline std::vector<std::uint8_t> sample_bytes(std::size_t count, std::size_t seed) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i + 1) * (seed + 1) * 0x9E3779B97F4A7C15ull >> 56);
    }
    return bytes;
}

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

// Where the root directory of the card file system's partition lies: cluster 2, behind the
// reserved sectors and one FAT.
inline off_t root_directory(const std::string& image) {
    const off_t part = peek(image, 0x1AE + 8);
    return (part + 32 + peek(image, part * 512 + 0x24)) * 512;
}

// Where the record in `slot` of the first folder's file entries lies: they start at cluster 3,
// right behind the root directory, clusters being 256 sectors.
inline off_t record_at(const std::string& image, int slot) {
    return root_directory(image) + 256 * 512 + 128 * slot;
}

// Where the root-directory entry of the `index`th folder of the format's table lies.
inline off_t folder_entry(const std::string& image, int index) {
    return root_directory(image) + 32 * index;
}

// The first cluster of the file whose record is in `slot` of the first folder.
inline std::uint32_t start_cluster(const std::string& image, int slot) {
    const off_t record = record_at(image, slot);
    return (peek(image, record + 116) & 0xFFFF) << 16 | (peek(image, record + 122) & 0xFFFF);
}

// Gives the root-directory entry at `entry` the name `name` (at most 8 bytes, any of them).
inline void poke_folder_name(const std::string& image, off_t entry, const std::string& name) {
    const std::string padded = (name + "        ").substr(0, 8);
    const int fd = ::open(image.c_str(), O_WRONLY);
    EXPECT_EQ(::pwrite(fd, padded.data(), 8, entry), 8) << image;
    ::close(fd);
}

// Stamps the record at `record` as made on 2025-01-01 (0x5A21) at 08:`minute`: the create and
// the write time and date of its short entry, coded as FAT codes them.
inline void stamp(const std::string& image, off_t record, int minute) {
    const auto time_and_date = static_cast<std::uint32_t>(8 << 11 | minute << 5 | 0x5A21 << 16);
    poke(image, record + 96 + 14, time_and_date);
    poke(image, record + 96 + 22, time_and_date);
}

}  // namespace lyfs::cli_test
