// Reads where a card keeps its partition, FAT and clusters, with arithmetic
// of its own rather than the library's, so that the fuzz targets can judge
// what the library does with a card.
#pragma once

#include <cstdint>

namespace lyfs::fuzz {

inline std::uint32_t le32_at(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline std::uint16_t le16_at(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// The partition in slot 1 of a table sector, and its geometry. All sector
// numbers are absolute.
struct CardLayout {
    bool mountable = false;  // a slot 1 of the card's type inside the device
    std::uint64_t first = 0;
    std::uint64_t sectors_per_cluster = 256;
    std::uint64_t fat_first = 0;
    std::uint64_t fat_sectors = 0;
    std::uint64_t data_start = 0;       // cluster 2, the root directory
    std::uint64_t highest_cluster = 0;  // M + 1

    std::uint64_t cluster_sector(std::uint64_t cluster) const {
        return data_start + (cluster - 2) * sectors_per_cluster;
    }
};

inline CardLayout read_card_layout(const std::uint8_t* table, std::uint64_t device_sectors) {
    CardLayout layout;
    const bool signed_table = table[510] == 0x55 && table[511] == 0xAA;
    const bool boot_sector_at_zero = table[0] == 0xEB && table[2] == 0x90;
    const std::uint8_t* slot = table + 0x1AE;
    const std::uint64_t first = le32_at(slot + 8);
    const std::uint64_t n = le32_at(slot + 12);
    if (!signed_table || boot_sector_at_zero || slot[4] != 0x52 || first == 0 || n <= 32 ||
        first + n > device_sectors) {
        return layout;
    }
    const std::uint64_t s = le32_at(table + 0x19E) == 1025 ? 1025 : 256;
    const std::uint64_t f = (n - 32 + 127 * s) / (128 * s + 2);
    const std::uint64_t by_data = n - 32 > f ? (n - 32 - f) / s : 0;
    const std::uint64_t m = by_data < 128 * f ? by_data : 128 * f;
    if (m == 0) {
        return layout;
    }
    layout.mountable = true;
    layout.first = first;
    layout.sectors_per_cluster = s;
    layout.fat_first = first + 32;
    layout.fat_sectors = f;
    layout.data_start = first + 32 + f;
    layout.highest_cluster = m + 1;
    return layout;
}

}  // namespace lyfs::fuzz
