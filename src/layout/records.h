// In-memory copies of the partition-table slots and boot-sector parameters,
// and their codecs.
#pragma once

#include <cstdint>

namespace lyfs {

// One partition-table slot, in its 16-byte on-card shape.
struct PartEntry {
    std::uint8_t status;
    std::uint8_t chs_start[3];
    std::uint8_t type;  // 0: empty slot
    std::uint8_t chs_end[3];
    std::uint32_t first_sector;
    std::uint32_t sector_count;
};
static_assert(sizeof(PartEntry) == 16);

// The first 36 bytes of a boot sector, field by field.
struct BpbRecord {
    std::uint8_t jump[3];
    char oem_name[8];
    std::uint16_t bytes_per_sector;
    std::uint8_t sectors_per_cluster;
    std::uint16_t reserved_sectors;
    std::uint8_t fat_count;
    std::uint16_t root_entries;
    std::uint16_t total_sectors_16;
    std::uint8_t media;
    std::uint16_t fat_size_16;
    std::uint16_t sectors_per_track;
    std::uint16_t heads;
    std::uint32_t hidden_sectors;
    std::uint32_t total_sectors_32;
};

// Slot `slot` (0..3) of a partition-table sector; CHS bytes are not kept.
PartEntry decode_part_entry(const std::uint8_t* sector, int slot);
// Writes the slot as this system writes it: CHS bytes zero.
void encode_part_entry(std::uint8_t* sector, int slot, const PartEntry& entry);
BpbRecord decode_bpb(const std::uint8_t* sector);

bool has_boot_signature(const std::uint8_t* sector);
// Sector 0 that is itself a boot sector (no partition table).
bool is_superfloppy_boot_sector(const std::uint8_t* sector);

}  // namespace lyfs
