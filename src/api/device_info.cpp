// Exports that report what a device and its mount look like.
#include <cstring>

#include "api/release.h"
#include "core/handles.h"
#include "core/log.h"
#include "device/dev_desc.h"
#include "device/disk.h"
#include "device/partition.h"
#include "layout/layout.h"
#include "lyfs/lyfs.h"

using namespace lyfs;

extern "C" {

LYFS_API int32_t CL_LyFS_Get_Master_Device_Info(const char* master_dev_name,
                                                lyfs_device_info* info) {
    log_debug("+CL_LyFS_Get_Master_Device_Info, dev_name:%s\n",
              master_dev_name != nullptr ? master_dev_name : "");
    stDISK* disk = nullptr;
    int32_t status = find_or_setup_disk(master_dev_name, &disk);
    if (status != LYFS_OK) {
        log_error("[ERROR]CL_LyFS_Get_Master_Device_Info, setup_disk_info failed\n");
        return status;
    }
    if (info != nullptr) {
        std::memset(info, 0, sizeof *info);
        info->n_scts_per_clus = disk->n_scts_per_clus;
        info->total_sectors = disk->geom_total_sectors;
    }
    return LYFS_OK;
}

LYFS_API int32_t CL_LyFS_Get_Device_Info(dev_desc* dev_handle, lyfs_device_info* info) {
    log_debug("+CL_LyFS_Get_Device_Info, dev_handle:0x%x\n",
              dev_handle != nullptr ? dev_handle->part_handle : 0);
    stPARTITION* part = partition_of(dev_handle);
    if (part == nullptr) {
        log_error("[ERROR]CL_LyFS_Get_Device_Info, invalid dev_desc failed, 0x%x\n",
                  dev_handle != nullptr ? dev_handle->part_handle : 0);
        return LYFS_ERR_NO_PARTITION;
    }
    if (info != nullptr) {
        std::memset(info, 0, sizeof *info);
        info->total_sectors = part->part_total_sectors;
    }
    return LYFS_OK;
}

LYFS_API int32_t CL_LyFS_Get_Partition_Info(dev_desc* dev_handle) {
    log_debug("+CL_LyFS_Get_Partition_Info, dev_handle:0x%x\n",
              dev_handle != nullptr ? dev_handle->part_handle : 0);
    return LYFS_OK;
}

LYFS_API int32_t CL_LyFS_Check_LyFS_partition(const char* master_dev_name) {
    log_debug("+CL_LyFS_Check_LyFS_partition, dev_name:%s\n",
              master_dev_name != nullptr ? master_dev_name : "");
    stDISK* disk = nullptr;
    if (find_or_setup_disk(master_dev_name, &disk) != LYFS_OK) {
        log_error("[ERROR]CL_LyFS_Check_LyFS_partition, setup_disk_info failed\n");
        return 0;
    }
    if (disk->part_entry[mbr::kLyfsSlot].type == kTypeLyfs) {
        return LYFS_IS_LYFS;
    }
    // A mounted disk stays: its partition, folders and open files hang on it.
    if (get_partition_object_type(disk) == nullptr) {
        release_disk(disk);
    }
    log_error("[ERROR]-CL_LyFS_Check_LyFS_partition, couldn't find LyFS partition\n");
    return 0;
}

LYFS_API int32_t CL_LyFS_Get_FAT32_Partition(void) {
    return LYFS_OK;
}
LYFS_API int32_t CL_LyFS_Get_LyFS_Partition(void) {
    return LYFS_OK;
}
LYFS_API int32_t CL_LyFS_Get_Available_Partition(void) {
    return LYFS_OK;
}
LYFS_API int32_t CL_LyFS_Fwrite_Header_Update(void) {
    return LYFS_OK;
}
LYFS_API int32_t CL_LyFS_Get_Finfo_with_Fname(void) {
    return LYFS_OK;
}

}  // extern "C"
