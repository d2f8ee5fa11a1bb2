// The partition's one-sector FAT cache. Every FAT operation computes the
// entry's sector, brings it into the cache if needed, and writes a changed
// sector back at once, so the cache never holds what the card lacks.
#pragma once

#include <cstdint>

#include "device/partition.h"

namespace lyfs {

struct FatPosition {
    std::uint32_t sector;  // relative to the partition
    std::uint32_t index;   // entry within the sector
};

inline FatPosition fat_position(const stPARTITION* part, std::uint32_t cluster) {
    return {part->fat_first_sector + cluster / part->fat_entries_per_sct,
            cluster % part->fat_entries_per_sct};
}

// Single-sector transfers of the cache at an absolute sector. The caller
// holds the FAT lock and keeps `fat_cache_sector` in step.
int32_t read_fat_entry_sector(stPARTITION* part, std::uint32_t sector);
int32_t write_fat_entry_sector(stPARTITION* part, std::uint32_t sector);

// Brings relative FAT sector `sector` into the cache unless it is there.
// On failure the cache holds nothing.
int32_t load_fat_sector(stPARTITION* part, std::uint32_t sector);
// Writes the cached sector back; on failure the cache is emptied so that no
// later operation takes the unwritten change for the card's content.
int32_t store_fat_sector(stPARTITION* part);

std::uint32_t cached_fat_entry(const stPARTITION* part, std::uint32_t index);
void set_cached_fat_entry(stPARTITION* part, std::uint32_t index, std::uint32_t value);

}  // namespace lyfs
