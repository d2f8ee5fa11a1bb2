// FAT entries of a mounted partition: following links and ending chains.
// Every operation holds the partition's FAT lock for its whole run.
#pragma once

#include <cstdint>

#include "device/partition.h"

namespace lyfs {

// The entry value that stands for "invalid" when a cluster number read from
// the card lies outside what the partition and its FAT describe.
inline constexpr std::uint32_t kFatInvalidValue = 1;

// Whether `cluster` is one the partition has (2 .. M + 1) and its FAT
// describes (below 128 F). Nothing else is ever used to address the FAT.
bool cluster_in_partition(const stPARTITION* part, std::uint32_t cluster);

// The cluster's entry, masked to 28 bits, in `next`. A cluster outside the
// partition yields the invalid value without touching the card; a failed
// read is the returned status.
int32_t get_next_cluster(stPARTITION* part, std::uint32_t cluster, std::uint32_t* next);

// Makes the cluster's entry an end of chain (unless it already is one).
int32_t write_fat_entry(stPARTITION* part, std::uint32_t cluster);

// Fills the FAT cache with relative sector `sector` through the disk's read
// window, for long runs of FAT sectors.
int32_t read_fat_entry_sector_cache(stPARTITION* part, std::uint32_t sector);

}  // namespace lyfs
