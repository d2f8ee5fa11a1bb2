// Builds and reads on-card bytes by hand, independently of the library's own
// codecs, so that tests check the library against the layout rather than itself.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace lyfs::test {

inline void put_le32(std::vector<std::uint8_t>& s, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        s[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

inline std::uint32_t le32(const std::vector<std::uint8_t>& s, std::size_t at) {
    return s[at] | (s[at + 1] << 8) | (s[at + 2] << 16) |
           (static_cast<std::uint32_t>(s[at + 3]) << 24);
}

inline std::uint16_t le16(const std::vector<std::uint8_t>& s, std::size_t at) {
    return static_cast<std::uint16_t>(s[at] | (s[at + 1] << 8));
}

// Checks little-endian fields, given as triples: byte offset (from `base`),
// width (1, 2 or 4), value.
inline void expect_fields(const std::vector<std::uint8_t>& s,
                          std::initializer_list<std::uint32_t> triples, std::size_t base = 0) {
    for (auto f = triples.begin(); f + 2 < triples.end(); f += 3) {
        const std::size_t at = base + f[0];
        const std::uint32_t v = f[1] == 1 ? s[at] : f[1] == 2 ? le16(s, at) : le32(s, at);
        EXPECT_EQ(v, f[2]) << "at 0x" << std::hex << at;
    }
}

// A partition-table sector: signature, the sectors-per-cluster word at 0x19E.
inline std::vector<std::uint8_t> table_sector(std::uint32_t sects_per_clus = 256) {
    std::vector<std::uint8_t> s(512, 0);
    put_le32(s, 0x19E, sects_per_clus);
    std::memcpy(&s[510], "\x55\xAA", 2);
    return s;
}

// Writes one 16-byte slot at a byte offset (0x1BE slot 0, 0x1AE slot 1, ...).
inline void put_slot(std::vector<std::uint8_t>& s, std::size_t at, std::uint8_t type,
                     std::uint32_t first, std::uint32_t count) {
    std::fill_n(s.begin() + at, 16, 0);
    s[at + 4] = type;
    put_le32(s, at + 8, first);
    put_le32(s, at + 12, count);
}

// A boot sector with the fields the readers look at.
inline std::vector<std::uint8_t> boot_sector(std::uint8_t media, std::uint16_t total16,
                                             std::uint32_t total32, std::uint16_t reserved = 32) {
    std::vector<std::uint8_t> s = table_sector(0);
    std::memcpy(s.data(), "\xEB\x58\x90", 3);
    put_le32(s, 0x0B, 0x0200 | std::uint32_t{reserved} << 24);  // 512 bytes a sector
    s[0x0F] = static_cast<std::uint8_t>(reserved >> 8);
    s[0x10] = 1;
    put_le32(s, 0x13, total16 | std::uint32_t{media} << 16);
    put_le32(s, 0x20, total32);
    return s;
}

}  // namespace lyfs::test
