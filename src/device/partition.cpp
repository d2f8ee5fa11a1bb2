#include "device/partition.h"

#include <cstring>

#include "core/handles.h"
#include "core/list.h"
#include "core/log.h"
#include "device/sector_io.h"
#include "layout/layout.h"
#include "lyfs/lyfs.h"
#include "platform/memory.h"

namespace lyfs {
namespace {

platform::Mutex** partition_locks(stPARTITION* part, int index) {
    // The order in which the mount creates them.
    platform::Mutex** locks[] = {&part->h_fat_mutex, &part->h_cluster_io_mutex,
                                 &part->h_open_file_mutex, &part->h_folder_list_mutex,
                                 &part->h_file_commit_mutex};
    return locks[index];
}
constexpr int kPartitionLockCount = 5;

// A slot the mount can use without reaching outside it or over the table:
// the card file system's type, placed behind sector 0, holding the reserved
// sectors, the FAT and at least the root cluster, and inside the device.
bool slot_is_mountable(const stDISK* disk, const PartEntry& slot) {
    if (slot.type != kTypeLyfs || slot.first_sector == 0) {
        return false;
    }
    const Geometry g = compute_geometry(slot.sector_count, disk->n_scts_per_clus);
    if (g.cluster_count < 1) {
        return false;
    }
    const std::uint64_t end = static_cast<std::uint64_t>(slot.first_sector) + slot.sector_count;
    return end <= disk->total_sectors;
}

}  // namespace

void set_partition_geometry(stPARTITION* part, std::uint32_t first_sector,
                            std::uint32_t sector_count, std::uint32_t sects_per_clus) {
    const Geometry g = compute_geometry(sector_count, sects_per_clus);
    part->part_start = first_sector;
    part->part_total_sectors = sector_count;
    part->fat_first_sector = kReservedSectors;
    part->fat_sectors = g.fat_sectors;
    part->data_start = g.data_start;
    part->first_data_sector = g.data_start;
    part->total_clusters = g.cluster_count;
    part->n_scts_per_clus = sects_per_clus;
    part->bytes_per_sct = 512;
    part->bytes_per_clus = sects_per_clus * 512;
    part->first_cluster = kFirstCluster;
    part->fat_entries_per_sct = kFatEntriesPerSector;
    part->fat_entry_bytes = kFatEntryBytes;
    part->fat_count = kFatCount;
    part->backup_boot_sct = kBackupBootSector;
}

stPARTITION* create_partition_object(stDISK* disk) {
    auto* part = platform::allocate_record<stPARTITION>();
    if (part == nullptr) {
        log_error("[ERROR]create_partition_object, malloc for p_part failed\n");
        return nullptr;
    }
    platform::MutexGuard guard(disk->h_part_list_mutex);
    list_append(disk->part_list, part);
    return part;
}

stPARTITION* get_partition_object_type(stDISK* disk) {
    if (disk->part_list == nullptr) {
        log_info("[INFO]get_partition_object_type, p_part is invalid\n");
        return nullptr;
    }
    platform::MutexGuard guard(disk->h_part_list_mutex);
    return list_find(disk->part_list, [](stPARTITION* part) {
        log_debug("get_partition_object_type, part:0x%x, type:0x%x\n", part->handle,
                  part->p_entry != nullptr ? part->p_entry->type : 0);
        return part->is_lyfs == 1;
    });
}

int32_t setup_fat_tbl_cache(stPARTITION* part) {
    part->fat_cache = static_cast<std::uint8_t*>(platform::allocate_zeroed(kSectorBytes));
    part->fat_cache_sector = kNoSector;
    if (part->fat_cache == nullptr) {
        log_error("[ERROR]setup_fat_tbl_cache, malloc for fat cache failed\n");
        return LYFS_ERR_NO_MEMORY;
    }
    return LYFS_OK;
}

void release_fat_tbl_cache(stPARTITION* part) {
    platform::release(part->fat_cache);
    part->fat_cache_sector = kNoSector;
}

void teardown_partition(stPARTITION* part) {
    for (int i = 0; i < kPartitionLockCount; ++i) {
        platform::close_mutex(*partition_locks(part, i));
    }
    release_fat_tbl_cache(part);
    if (stDISK* disk = part->p_disk) {
        platform::MutexGuard guard(disk->h_part_list_mutex);
        list_remove(disk->part_list, part);
    }
    release_handle(part->handle);
    platform::release(part);
}

int32_t setup_partition_info(stDISK* disk, const char* sub_dev_name, stPARTITION** out) {
    const char* name = sub_dev_name != nullptr ? sub_dev_name : "";
    if (std::strlen(name) >= kDeviceNameBytes) {
        log_error("[ERROR]setup_partition_info, sub_dev_name too long\n");
        return LYFS_ERR_MOUNT;
    }
    const PartEntry& slot = disk->part_entry[mbr::kLyfsSlot];
    if (!slot_is_mountable(disk, slot)) {
        log_error(
            "[ERROR]setup_partition_info, no mountable partition in slot 1, type:0x%x, "
            "start:%d, sectors:%d\n",
            slot.type, slot.first_sector, slot.sector_count);
        return LYFS_ERR_MOUNT;
    }
    if (disk->h_part_list_mutex == nullptr) {
        disk->h_part_list_mutex = platform::create_mutex();
        if (disk->h_part_list_mutex == nullptr) {
            log_error("[ERROR]setup_partition_info, CreateMutex failed\n");
            return LYFS_ERR_MOUNT;
        }
    }
    stPARTITION* part = create_partition_object(disk);
    if (part == nullptr) {
        log_error("[ERROR]setup_partition_info, create_partition_object failed\n");
        return LYFS_ERR_MOUNT;
    }
    part->p_disk = disk;
    std::strcpy(part->name, name);
    part->is_lyfs = 1;
    set_partition_geometry(part, slot.first_sector, slot.sector_count, disk->n_scts_per_clus);
    part->p_bpb = &disk->part_bpb[mbr::kLyfsSlot];
    part->p_entry = &disk->part_entry[mbr::kLyfsSlot];

    bool failed = false;
    if (setup_fat_tbl_cache(part) != LYFS_OK) {
        log_error("[ERROR]setup_partition_info, setup_fat_tbl_cache failed\n");
        failed = true;
    }
    for (int i = 0; i < kPartitionLockCount && !failed; ++i) {
        *partition_locks(part, i) = platform::create_mutex();
        if (*partition_locks(part, i) == nullptr) {
            log_error("[ERROR]setup_partition_info, CreateMutex failed\n");
            failed = true;
        }
    }
    if (!failed) {
        part->handle = register_handle(HandleKind::kPartition, part);
        if (part->handle == 0) {
            log_error("[ERROR]setup_partition_info, register_handle failed\n");
            failed = true;
        }
    }
    if (failed) {
        teardown_partition(part);
        return LYFS_ERR_MOUNT;
    }
    *out = part;
    return LYFS_OK;
}

}  // namespace lyfs
