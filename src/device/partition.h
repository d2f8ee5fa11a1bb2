// The mounted partition and the conversions between clusters and sectors.
#pragma once

#include <cstdint>

#include "device/disk.h"
#include "layout/records.h"
#include "platform/mutex.h"

namespace lyfs {

struct stFOLDER;
struct stOPEN_FILE;

inline constexpr std::uint32_t kNoSector = 0xFFFFFFFF;

struct stPARTITION {
    char name[kDeviceNameBytes];
    std::uint32_t is_lyfs;
    std::uint32_t part_start;
    std::uint32_t part_total_sectors;
    std::uint32_t first_data_sector;
    std::uint32_t bytes_per_sct;
    std::uint32_t bytes_per_clus;
    std::uint32_t n_scts_per_clus;
    std::uint32_t first_cluster;
    std::uint32_t data_start;
    std::uint32_t total_clusters;
    std::uint32_t backup_boot_sct;
    BpbRecord* p_bpb;
    PartEntry* p_entry;
    stFOLDER* folder_list;
    stOPEN_FILE* open_file_list;
    stPARTITION* prev;
    stPARTITION* next;
    std::uint32_t fat_first_sector;
    std::uint32_t fat_sectors;
    std::uint32_t fat_entries_per_sct;
    std::uint8_t fat_entry_bytes;
    std::uint8_t fat_count;
    std::uint8_t* fat_cache;
    std::uint32_t fat_cache_sector;
    stDISK* p_disk;
    platform::Mutex* h_cluster_io_mutex;
    platform::Mutex* h_fat_mutex;
    platform::Mutex* h_open_file_mutex;
    platform::Mutex* h_folder_list_mutex;
    platform::Mutex* h_file_commit_mutex;
    std::uint32_t handle;  // what the host holds in dev_desc
};

// The buffer of the FAT cache (fat/fat_cache.h), which the partition owns: one sector, empty.
int32_t setup_fat_tbl_cache(stPARTITION* part);
void release_fat_tbl_cache(stPARTITION* part);

// Partition objects of a disk.
stPARTITION* create_partition_object(stDISK* disk);
stPARTITION* get_partition_object_type(stDISK* disk);
int32_t setup_partition_info(stDISK* disk, const char* sub_dev_name, stPARTITION** out);
// Closes the partition's locks, frees its FAT cache, unlinks and frees it.
// Its folders are released by the caller first.
void teardown_partition(stPARTITION* part);
// Fills the geometry fields of a partition of `sector_count` sectors at
// `first_sector` (the mount and the formatter share it).
void set_partition_geometry(stPARTITION* part, std::uint32_t first_sector,
                            std::uint32_t sector_count, std::uint32_t sects_per_clus);

// Conversions (unsigned 32-bit, unchecked: callers check cluster numbers).
inline std::uint32_t device_sector(const stPARTITION* part, std::uint32_t relative) {
    return part->part_start + relative;
}
inline std::uint32_t cluster_first_sector(const stPARTITION* part, std::uint32_t cluster) {
    return (cluster - part->first_cluster) * part->n_scts_per_clus + part->data_start;
}

}  // namespace lyfs
