// The disk object: one per device the library holds open.
#pragma once

#include <cstdint>

#include "platform/mutex.h"
#include "platform/platform.h"
#include "volume/records.h"

namespace lyfs {

struct stPARTITION;

inline constexpr std::uint32_t kDeviceNameBytes = 128;  // with the terminator

struct stDISK {
    platform::DeviceHandle h_disk;  // null: never opened; kInvalidDevice: closed
    std::uint32_t no_mbr;           // 1: sector 0 is itself a boot sector
    std::uint8_t* sector_buff;      // 512 bytes
    std::uint8_t* rd_buff;          // read window, n_window_scts sectors
    std::uint8_t* wr_buff;          // write window, n_window_scts sectors
    std::uint32_t rd_window_start;  // 0: empty
    std::uint32_t wr_window_start;  // 0: empty
    PartEntry part_entry[4];
    BpbRecord part_bpb[4];
    std::int8_t part_count;
    std::uint32_t total_sectors;
    std::uint32_t geom_total_sectors;
    std::uint32_t bytes_per_sector;
    char dev_name[kDeviceNameBytes];
    stPARTITION* part_list;
    std::uint32_t n_scts_per_clus;  // 256, or 1025 when the table says so
    platform::Mutex* h_part_list_mutex;
    stDISK* prev;
    stDISK* next;
    // Sectors each window buffer holds; grown to n_scts_per_clus before a
    // window is filled, so a 1025-sector card never overruns them.
    std::uint32_t n_window_scts;
    // Sectors put into the write window so far (from its start).
    std::uint32_t wr_window_count;
    std::uint32_t handle;  // names the disk in log lines
};

// Library lifecycle of disks.
stDISK* create_disk_object();
int32_t initialize_disk_handle(stDISK* disk);
int32_t setup_disk_info(const char* dev_name, stDISK** out);
void destroy_disk_handle(stDISK* disk);
// Tears down the disk's partitions, closes its device and frees it.
void remove_disk(stDISK* disk);
// Finds the disk set up for exactly this path, or null.
stDISK* find_disk(const char* dev_name);
// Finds the disk for a path, setting it up when there is none.
int32_t find_or_setup_disk(const char* dev_name, stDISK** out);

}  // namespace lyfs
