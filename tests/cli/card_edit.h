// Card images edited in place the way a crash, a failing card or a forger leaves them. Files
// are found by the first five characters of their names, which their long-name entries hold as
// UTF-16: tests give their files five leading characters of their own. Images are sparse and
// only their data is searched: reading a whole image is what made these tests slow.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace lyfs::cli_test {

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

// Where the name that starts with `head` is. Records lie inside sectors, so a name never
// straddles two of the pieces read.
inline off_t name_at(const std::string& image, const std::string& head) {
    std::vector<char> wide;
    for (char c : head) {
        wide.insert(wide.end(), {c, 0});
    }
    const int fd = ::open(image.c_str(), O_RDONLY);
    std::vector<char> piece(1 << 20);
    for (off_t at = ::lseek(fd, 0, SEEK_DATA); at >= 0; at = ::lseek(fd, at, SEEK_DATA)) {
        const ssize_t got = ::pread(fd, piece.data(), piece.size(), at);
        if (got <= 0) {
            break;
        }
        const auto end = piece.begin() + got;
        const auto it = std::search(piece.begin(), end, wide.begin(), wide.end());
        if (it != end) {
            ::close(fd);
            return at + (it - piece.begin());
        }
        at += got;
    }
    ::close(fd);
    ADD_FAILURE() << head << " is not on " << image;
    return -1;
}

}  // namespace lyfs::cli_test
