// A folder's one-sector cache of its file-entry area, and the transfers that
// fill and write it directly or through the disk's windows.
#pragma once

#include <cstdint>

#include "device/partition.h"
#include "folder/folder.h"

namespace lyfs {

// Partition-relative sector of ring slot `index`, and the slot's byte in it.
inline std::uint32_t file_entry_sector(const stPARTITION* part, const stFOLDER* folder,
                                       std::uint32_t index) {
    return part->data_start + folder->start_sector_offset + index / folder->file_entries_per_sct;
}
inline std::uint32_t file_entry_offset(const stFOLDER* folder, std::uint32_t index) {
    return (index % folder->file_entries_per_sct) * kFileEntryBytes;
}

int32_t alloc_file_entry_cache(stFOLDER* folder);
void free_file_entry_cache(stFOLDER* folder);

// Direct single-sector transfers of the cache at an absolute sector; the
// callers keep fe_cache_sector in step.
int32_t read_file_entry_sector(stPARTITION* part, stFOLDER* folder, std::uint32_t sector);
int32_t write_file_entry_sector(stPARTITION* part, stFOLDER* folder, std::uint32_t sector);

// The same through the disk's read and write windows, for long runs.
int32_t read_file_entry_sector_cache(stPARTITION* part, stFOLDER* folder, std::uint32_t sector);
int32_t write_file_entry_sector_cache(stPARTITION* part, stFOLDER* folder, std::uint32_t sector,
                                      bool flush);

}  // namespace lyfs
