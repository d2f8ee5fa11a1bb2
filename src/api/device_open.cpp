// Mounting and unmounting a card.
#include <cstring>

#include "api/dev_desc.h"
#include "api/handles.h"
#include "api/library.h"
#include "api/log.h"
#include "device/disk.h"
#include "device/partition.h"
#include "device/sector_io.h"
#include "folder/folder.h"
#include "folder/folder_setup.h"
#include "lyfs/lyfs.h"
#include "volume/layout.h"

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

}  // namespace

extern "C" {

LYFS_API int32_t CL_LyFS_Device_Open(const char* master_dev_name, const char* sub_dev_name,
                                     uint32_t flags, dev_desc* dev_handle) {
    log_debug("+CL_LyFS_Device_Open, sub_dev_name:%s, flags:0x%x, dev_handle:0x%x\n",
              sub_dev_name != nullptr ? sub_dev_name : "", flags,
              dev_handle != nullptr ? dev_handle->part_handle : 0);
    if (dev_handle == nullptr) {
        log_error("[ERROR]CL_LyFS_Device_Open, no dev_desc record\n");
        return LYFS_ERR_BAD_ARGUMENT;
    }
    stDISK* disk = nullptr;
    int32_t status = find_or_setup_disk(master_dev_name, &disk);
    if (status != LYFS_OK) {
        log_error("[ERROR]CL_LyFS_Device_Open, setup_disk_info failed\n");
        return status;
    }
    // A device opened twice keeps its one mount: a second set of folders
    // would hand out a second view of the same rings.
    if (stPARTITION* mounted = get_partition_object_type(disk)) {
        fill_dev_desc(disk, mounted, dev_handle);
        return LYFS_OK;
    }
    stPARTITION* part = nullptr;
    status = setup_partition_info(disk, sub_dev_name, &part);
    if (status != LYFS_OK) {
        log_error("[ERROR]CL_LyFS_Device_Open, setup_partition_info failed\n");
        release_disk(disk);
        return status;
    }
    status = setup_root_folder_info(disk, part);
    if (status == LYFS_NO_FILE) {
        log_info("[INFO]CL_LyFS_Device_Open, setup_root_folders_info, no file exist\n");
    } else if (status != LYFS_OK) {
        log_error("[ERROR]CL_LyFS_Device_Open, get_root_folder_info failed\n");
        release_disk(disk);
        log_error("[ERROR]-CL_LyFS_Device_Open failed\n");
        return LYFS_ERR_OPEN_DEVICE;
    }
    fill_dev_desc(disk, part, dev_handle);
    return LYFS_OK;
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
    // Whatever reached the device is made durable before it is let go.
    const int32_t status = flush_device(disk->h_disk);
    if (status != LYFS_OK) {
        log_error("[ERROR]CL_LyFS_Device_Close, flush_device failed\n");
    }
    release_disk(disk);
    return status;
}

}  // extern "C"
