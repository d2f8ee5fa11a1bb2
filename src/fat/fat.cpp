#include "fat/fat.h"

#include "core/log.h"
#include "device/window.h"
#include "fat/fat_cache.h"
#include "layout/layout.h"
#include "lyfs/lyfs.h"

namespace lyfs {
bool cluster_in_partition(const stPARTITION* part, std::uint32_t cluster) {
    const std::uint64_t described =
        static_cast<std::uint64_t>(part->fat_sectors) * part->fat_entries_per_sct;
    return cluster >= kFirstCluster &&
           static_cast<std::uint64_t>(cluster) <=
               static_cast<std::uint64_t>(part->total_clusters) + 1 &&
           cluster < described;
}

int32_t get_next_cluster(stPARTITION* part, std::uint32_t cluster, std::uint32_t* next) {
    if (!cluster_in_partition(part, cluster)) {
        *next = kFatInvalidValue;
        return LYFS_OK;
    }
    platform::MutexGuard guard(part->h_fat_mutex);
    const FatPosition pos = fat_position(part, cluster);
    if (int32_t status = load_fat_sector(part, pos.sector); status != LYFS_OK) {
        log_error("[ERROR]get_next_cluster, read_sectors failed\n");
        return status;
    }
    *next = cached_fat_entry(part, pos.index) & kFatValueMask;
    return LYFS_OK;
}

int32_t write_fat_entry(stPARTITION* part, std::uint32_t cluster) {
    if (!cluster_in_partition(part, cluster)) {
        log_error("[ERROR]write_fat_entry, cluster outside the partition:%d\n", cluster);
        return LYFS_ERR_BAD_ARGUMENT;
    }
    platform::MutexGuard guard(part->h_fat_mutex);
    const FatPosition pos = fat_position(part, cluster);
    if (int32_t status = load_fat_sector(part, pos.sector); status != LYFS_OK) {
        log_error("[ERROR]write_fat_entry, read_fat_entry_sector failed\n");
        return status;
    }
    if (cached_fat_entry(part, pos.index) == kFatEoc) {
        log_info("[INFO]write_fat_entry, already written, 0x%x, cluster:%d, sector_addr:%d\n",
                 kFatEoc, cluster, pos.sector);
        return LYFS_OK;
    }
    set_cached_fat_entry(part, pos.index, kFatEoc);
    if (int32_t status = store_fat_sector(part); status != LYFS_OK) {
        log_error("[ERROR]write_fat_entry, write_fat_entry_sector failed\n");
        return status;
    }
    return LYFS_OK;
}

int32_t read_fat_entry_sector_cache(stPARTITION* part, std::uint32_t sector) {
    part->fat_cache_sector = kNoSector;
    const std::uint32_t absolute = device_sector(part, sector);
    int32_t status = read_window_sector(part->p_disk, absolute, part->fat_cache);
    if (status != LYFS_OK) {
        log_error("[ERROR]read_fat_entry_sector_cache, read_sectors failed, sector:%d\n", absolute);
        return status;
    }
    part->fat_cache_sector = sector;
    return LYFS_OK;
}

}  // namespace lyfs
