// Mounting and unmounting a card.
#include <cstring>

#include "api/folder_setup.h"
#include "api/release.h"
#include "core/handles.h"
#include "core/log.h"
#include "device/dev_desc.h"
#include "device/disk.h"
#include "device/partition.h"
#include "device/sector_io.h"
#include "file/file_io.h"
#include "folder/folder.h"
#include "layout/layout.h"
#include "lyfs/lyfs.h"

using namespace lyfs;

namespace {

void fill_dev_desc(const stDISK* disk, const stPARTITION* part, dev_desc* record) {
    const PartEntry& slot = disk->part_entry[mbr::kLyfsSlot];
    const BpbRecord& bpb = disk->part_bpb[mbr::kLyfsSlot];
    record->part_count = static_cast<std::uint8_t>(disk->part_count);
    lyfs_part_slot& out = record->slots[mbr::kLyfsSlot];
    std::memset(&out, 0, sizeof out);
    out.status = slot.status;
    out.type = slot.type;
    out.first_sector = slot.first_sector;
    out.sector_count = slot.sector_count;
    record->sectors_per_cluster = bpb.sectors_per_cluster;
    record->fat_device_sector = bpb.reserved_sectors + bpb.hidden_sectors;
    record->fat_first_sector = part->fat_first_sector;
    record->first_cluster = part->first_cluster;
    record->part_total_sectors = part->part_total_sectors;
    record->backup_boot_sct = part->backup_boot_sct;
    record->reserved_sectors = bpb.reserved_sectors;
    record->part_handle = part->handle;  // last: the record is usable once it is set
}

// Mounts the device for CL_LyFS_Device_Open (`read_only` false) and
// lyfs_device_open_read_only; `caller` names the export in log lines.
int32_t mount_device(const char* master_dev_name, const char* sub_dev_name, bool read_only,
                     dev_desc* dev_handle, const char* caller) {
    if (dev_handle == nullptr) {
        log_error("[ERROR]%s, no dev_desc record\n", caller);
        return LYFS_ERR_BAD_ARGUMENT;
    }
    stDISK* disk = nullptr;
    int32_t status = find_or_setup_disk(
        master_dev_name, &disk,
        read_only ? platform::DeviceAccess::kReadOnly : platform::DeviceAccess::kReadWrite);
    if (status != LYFS_OK) {
        log_error("[ERROR]%s, setup_disk_info failed\n", caller);
        return status;
    }
    // A device opened twice keeps its one mount: a second set of folders
    // would hand out a second view of the same rings.
    if (stPARTITION* mounted = get_partition_object_type(disk)) {
        if (read_only && disk->read_only == 0) {
            log_error("[ERROR]%s, the device is mounted for writing, close it first, %s\n", caller,
                      disk->dev_name);
            return LYFS_ERR_OPEN_DEVICE;
        }
        fill_dev_desc(disk, mounted, dev_handle);
        return LYFS_OK;
    }
    // A disk an earlier query opened for writing is only read from now on.
    if (read_only && disk->read_only == 0 && (status = make_disk_read_only(disk)) != LYFS_OK) {
        release_disk(disk);
        return status;
    }
    if (disk->write_protected != 0) {
        log_info("[INFO]%s, the device is write-protected, mounted read-only\n", caller);
    }
    status = lock_disk_for_mount(
        disk,
        disk->read_only != 0 ? platform::DeviceLock::kShared : platform::DeviceLock::kExclusive,
        caller);
    if (status != LYFS_OK) {
        release_disk(disk);
        return status;
    }
    stPARTITION* part = nullptr;
    status = setup_partition_info(disk, sub_dev_name, &part);
    if (status != LYFS_OK) {
        log_error("[ERROR]%s, setup_partition_info failed\n", caller);
        release_disk(disk);
        return status;
    }
    status = setup_root_folder_info(disk, part);
    if (status == LYFS_NO_FILE) {
        log_info("[INFO]%s, setup_root_folders_info, no file exist\n", caller);
    } else if (status != LYFS_OK) {
        log_error("[ERROR]%s, get_root_folder_info failed\n", caller);
        release_disk(disk);
        log_error("[ERROR]-%s failed\n", caller);
        return LYFS_ERR_OPEN_DEVICE;
    }
    fill_dev_desc(disk, part, dev_handle);
    return LYFS_OK;
}

}  // namespace

extern "C" {

LYFS_API int32_t CL_LyFS_Device_Open(const char* master_dev_name, const char* sub_dev_name,
                                     uint32_t flags, dev_desc* dev_handle) {
    log_debug("+CL_LyFS_Device_Open, sub_dev_name:%s, flags:0x%x, dev_handle:0x%x\n",
              sub_dev_name != nullptr ? sub_dev_name : "", flags,
              dev_handle != nullptr ? dev_handle->part_handle : 0);
    return mount_device(master_dev_name, sub_dev_name, false, dev_handle, "CL_LyFS_Device_Open");
}

LYFS_API int32_t lyfs_device_open_read_only(const char* master_dev_name, const char* sub_dev_name,
                                            dev_desc* dev_handle) {
    log_debug("+lyfs_device_open_read_only, sub_dev_name:%s, dev_handle:0x%x\n",
              sub_dev_name != nullptr ? sub_dev_name : "",
              dev_handle != nullptr ? dev_handle->part_handle : 0);
    return mount_device(master_dev_name, sub_dev_name, true, dev_handle,
                        "lyfs_device_open_read_only");
}

LYFS_API int32_t lyfs_device_mount_mode(const dev_desc* dev_handle) {
    const stPARTITION* part = partition_of(dev_handle);
    if (part == nullptr) {
        log_error("[ERROR]lyfs_device_mount_mode, invalid p_part\n");
        return LYFS_ERR_NO_PARTITION;
    }
    if (part->p_disk->write_protected != 0) {
        return LYFS_MOUNT_WRITE_PROTECTED;
    }
    return part->p_disk->read_only != 0 ? LYFS_MOUNT_READ_ONLY : LYFS_MOUNT_READ_WRITE;
}

LYFS_API int32_t CL_LyFS_Device_Close(dev_desc* dev_handle) {
    log_debug("+CL_LyFS_Device_Close, handle:0x%x\n",
              dev_handle != nullptr ? dev_handle->part_handle : 0);
    stPARTITION* part = partition_of(dev_handle);
    if (part == nullptr) {
        log_error("[ERROR]CL_LyFS_Device_Close, invalid p_part\n");
        return LYFS_ERR_CLOSE_NO_PARTITION;
    }
    stDISK* disk = part->p_disk;
    // What open writers hold back, then whatever reached the device, is made durable before
    // the device is let go; a host told the close went well takes its files to be on the card.
    int32_t status = write_held_bytes_of_open_files(part);
    if (const int32_t flushed = flush_device(disk->h_disk); flushed != LYFS_OK) {
        log_error("[ERROR]CL_LyFS_Device_Close, flush_device failed\n");
        status = status != LYFS_OK ? status : flushed;
    }
    release_disk(disk);
    return status;
}

}  // extern "C"
