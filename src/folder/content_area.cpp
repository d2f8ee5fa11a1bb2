#include "folder/content_area.h"

#include "core/log.h"
#include "fat/fat.h"
#include "fat/fat_cache.h"
#include "layout/layout.h"
#include "lyfs/lyfs.h"

namespace lyfs {
namespace {

// Visits the content area's indices after `cursor`, cyclically, until
// `take` accepts one; the cursor's own cluster is not examined.
// A failed FAT read returns its status with the relative sector in `failed`.
template <typename Take>
int32_t search_content_area(stPARTITION* part, stFOLDER* folder, ClusterHeld held, Take take,
                            bool* found, std::uint32_t* failed) {
    const std::uint32_t n = folder->n_fc_clusters;
    const std::uint32_t q = folder->fc_cursor;
    const std::uint32_t candidates = q == kNoSector ? n : (n == 0 ? 0 : n - 1);
    *found = false;
    for (std::uint32_t step = 0; step < candidates; ++step) {
        const std::uint32_t i = q == kNoSector ? step : (q + 1 + step) % n;
        const std::uint32_t x = folder->n_fc_start_cluster + i;
        if (!cluster_in_partition(part, x)) {
            continue;  // an area that reaches past the FAT is never addressed there
        }
        const FatPosition pos = fat_position(part, x);
        if (int32_t status = load_fat_sector(part, pos.sector); status != LYFS_OK) {
            *failed = pos.sector;
            return status;
        }
        if ((cached_fat_entry(part, pos.index) & kFatValueMask) == kFatFree &&
            (held == nullptr || !held(part, x))) {
            folder->fc_cursor = i;
            take(x);
            *found = true;
            return LYFS_OK;
        }
    }
    return LYFS_OK;
}

}  // namespace

bool cluster_in_content_area(const stFOLDER* folder, std::uint32_t cluster) {
    return cluster >= folder->n_fc_start_cluster &&
           cluster - folder->n_fc_start_cluster < folder->n_fc_clusters;
}

int32_t find_free_fcon_fat_entry(stPARTITION* part, stFOLDER* folder, std::uint32_t* cluster,
                                 ClusterHeld held) {
    platform::MutexGuard guard(part->h_fat_mutex);
    bool found = false;
    std::uint32_t failed = 0;
    int32_t status = search_content_area(
        part, folder, held, [&](std::uint32_t x) { *cluster = x; }, &found, &failed);
    if (status != LYFS_OK) {
        log_error("[ERROR]find_free_fcon_fat_entry, read_file_entry_sector failed, sector:%d\n",
                  failed);
        return status;
    }
    if (!found) {
        log_error("[ERROR]find_free_fcon_fat_entry, doesn't find free fat entry, folder:%s\n",
                  folder->fold_name);
        return LYFS_ERR_NO_FREE_CLUSTER;
    }
    return LYFS_OK;
}

int32_t get_next_free_cluster(stPARTITION* part, stFOLDER* folder, std::uint32_t previous,
                              std::uint32_t* cluster, ClusterHeld held) {
    if (!cluster_in_partition(part, previous)) {
        log_error("[ERROR]get_next_free_cluster, cluster outside the partition:%d\n", previous);
        return LYFS_ERR_BAD_ARGUMENT;
    }
    platform::MutexGuard guard(part->h_fat_mutex);
    std::uint32_t found_cluster = 0;
    bool found = false;
    std::uint32_t failed = 0;
    int32_t status = search_content_area(
        part, folder, held, [&](std::uint32_t x) { found_cluster = x; }, &found, &failed);
    if (status != LYFS_OK) {
        log_error("[ERROR]get_next_free_cluster, read_sectors failed\n");
        return status;
    }
    if (!found) {
        return LYFS_ERR_NO_FREE_CLUSTER;
    }
    const FatPosition pos = fat_position(part, previous);
    if (status = load_fat_sector(part, pos.sector); status != LYFS_OK) {
        log_error("[ERROR]get_next_free_cluster, read_sectors failed\n");
        return status;
    }
    set_cached_fat_entry(part, pos.index, found_cluster);
    if (status = store_fat_sector(part); status != LYFS_OK) {
        log_error("[ERROR]get_next_free_cluster, write_sectors failed, sector:%d\n", pos.sector);
        return status;
    }
    *cluster = found_cluster;
    return LYFS_OK;
}

}  // namespace lyfs
