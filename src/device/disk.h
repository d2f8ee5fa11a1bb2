// The disk object: one per device the library holds open.
#pragma once

#include <cstdint>

#include "layout/records.h"
#include "platform/mutex.h"
#include "platform/platform.h"

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
    // The device could only be opened for reading: the card's write-protect
    // switch, a read-only device node or image.
    std::uint8_t write_protected;
    // Nothing is written to the device (write_protected, or a read-only
    // mount): what a mount or a read-open repairs is kept in memory, and
    // creates, writes, partitioning and formatting are refused.
    std::uint8_t read_only;
    // The advisory lock this process holds on the device now, and the one
    // its mount keeps until the device is closed (none while unmounted).
    platform::DeviceLock lock_held;
    platform::DeviceLock mount_lock;
};

// Library lifecycle of disks.
stDISK* create_disk_object();
int32_t initialize_disk_handle(stDISK* disk, platform::DeviceAccess access);
int32_t setup_disk_info(const char* dev_name, stDISK** out,
                        platform::DeviceAccess access = platform::DeviceAccess::kReadWrite);
void destroy_disk_handle(stDISK* disk);
// Tears down the disk's partitions, closes its device and frees it.
void remove_disk(stDISK* disk);
// Finds the disk set up for exactly this path, or null.
stDISK* find_disk(const char* dev_name);
// Finds the disk for a path, setting it up when there is none.
int32_t find_or_setup_disk(const char* dev_name, stDISK** out,
                           platform::DeviceAccess access = platform::DeviceAccess::kReadWrite);
// From now on nothing is written to the disk's device. 0 or 4.
int32_t make_disk_read_only(stDISK* disk);
// 19 (with its line logged for `caller`) when the disk takes no writes, else 0.
int32_t refuse_if_read_only(const stDISK* disk, const char* caller);

// Two programs writing one card corrupt it: the library's own locks do not
// reach into other processes. A mount holds an advisory lock on the device
// until it is closed (exclusive, or shared when it only reads); partitioning
// and formatting hold the exclusive one while they work. A conflicting lock
// of another program gives 32, one log line naming `caller`, and nothing
// is written. Partitioning and formatting get the same while this program
// has a partition of the disk mounted: its caches would write the old volume
// back over the new one.
int32_t lock_disk_for_mount(stDISK* disk, platform::DeviceLock kind, const char* caller);

class DiskEditLock {
public:
    DiskEditLock(stDISK* disk, const char* caller);
    // Back to the lock the mount keeps, or none.
    ~DiskEditLock();
    DiskEditLock(const DiskEditLock&) = delete;
    DiskEditLock& operator=(const DiskEditLock&) = delete;

    int32_t status() const { return status_; }

private:
    stDISK* disk_;
    int32_t status_;
};

}  // namespace lyfs
