// The folder half of formatting: regions, file-entry chains and areas, and
// the root-directory entries.
#include <cstring>

#include "core/log.h"
#include "device/sector_io.h"
#include "device/window.h"
#include "entry/file_entry_cache.h"
#include "fat/fat_cache.h"
#include "folder/dir_entry.h"
#include "layout/layout.h"
#include "prepare/format.h"

namespace lyfs {
namespace {

void describe_folder(stFOLDER* folder, const stFOLDER_SPEC& spec, std::uint32_t first_cluster,
                     std::uint32_t region, std::uint32_t sects_per_clus) {
    std::memcpy(folder->fold_name, spec.name, kMaxFolderNameLength);
    folder->fold_type = spec.fold_type;
    folder->max_file_num = spec.max_file_num;
    folder->start_cluster = first_cluster;
    folder->total_clusters = region;
    set_folder_layout(folder, sects_per_clus);
    log_debug(
        "create_root_folder, %s, file_entries_per_sct:%d, file_entry_sectors:%d, "
        "n_fe_clusters:%d\n",
        folder->fold_name, folder->file_entries_per_sct, (folder->max_file_num + 3) / 4,
        folder->n_fe_clusters);
    log_debug("create_root_folder, %s, n_fc_clusters:%d, n_fc_start_cluster:%d\n",
              folder->fold_name, folder->n_fc_clusters, folder->n_fc_start_cluster);
    log_info("[RVFS]Format, Folder:%s, Max Files:%d, \n", folder->fold_name, folder->max_file_num);
    log_info("[RVFS]Format, File Entry Start Clus:%d, Num:%d, FC Start Clus:%d, Num:%d\n",
             folder->start_cluster, folder->n_fe_clusters, folder->n_fc_start_cluster,
             folder->n_fc_clusters);
}

int32_t create_folders(stDISK* disk, stPARTITION* part, const lyfs_folder_table* table,
                       std::uint32_t* p_dir_clusters, std::uint8_t* root_sector) {
    std::uint32_t regions[kMaxFolders] = {};
    plan_folder_regions(table, part->total_clusters, regions);
    std::uint32_t next_cluster = kRootCluster + 1;
    std::uint32_t entry_offset = 0;
    for (std::uint32_t k = 0; k < table->count; ++k) {
        stFOLDER* folder = create_folder_object(part);
        if (folder == nullptr) {
            log_error("[ERROR]create_root_folder, create_folder_object failed\n");
            return LYFS_ERR_NO_MEMORY;
        }
        describe_folder(folder, table->folders[k], next_cluster, regions[k], disk->n_scts_per_clus);
        p_dir_clusters[k] = regions[k];
        int32_t status = write_folder_file_entry_fat_chain(part, folder);
        if (status != LYFS_OK) {
            log_error("[ERROR]create_root_folder, write_folder_file_entry_fat_chain failed\n");
            return status;
        }
        status = clean_folder_file_entry_clusters(part, folder);
        if (status != LYFS_OK) {
            log_error("[ERROR]create_root_folder, clean_folder_file_entry_clusters failed\n");
            return status;
        }
        status = make_dir_entry(folder->fold_name, folder->fold_type, next_cluster, root_sector,
                                &entry_offset);
        if (status != LYFS_OK) {
            log_error("[ERROR]create_root_folder, fill_root_dir_entry failed\n");
            return status;
        }
        next_cluster += regions[k];
    }
    return LYFS_OK;
}

}  // namespace

void plan_folder_regions(const lyfs_folder_table* table, std::uint32_t cluster_count,
                         std::uint32_t* regions) {
    const std::uint32_t all = cluster_count - 1;  // every cluster but the root's
    std::uint32_t left = all;
    for (std::uint32_t k = 0; k < table->count; ++k) {
        const bool last = k + 1 == table->count;
        regions[k] =
            last ? left : static_cast<std::uint32_t>(table->folders[k].share_percent * all / 100);
        left -= regions[k];
    }
}

int32_t create_root_folder(stDISK* disk, stPARTITION* part, const lyfs_folder_table* table,
                           std::uint32_t* p_dir_clusters) {
    std::uint8_t root_sector[kSectorBytes];
    const std::uint32_t root = device_sector(part, part->data_start);
    int32_t status = read_sectors(disk->h_disk, root_sector, root, 1);
    if (status != LYFS_OK) {
        log_error("[ERROR]create_root_folder, read_sectors failed\n");
        return status;
    }
    if (setup_fat_tbl_cache(part) != LYFS_OK) {
        log_error("[ERROR]create_root_folder, alloc_fat_tbl_cache failed\n");
        return LYFS_ERR_NO_MEMORY;
    }
    status = create_folders(disk, part, table, p_dir_clusters, root_sector);
    if (status == LYFS_OK) {
        status = write_sectors(disk->h_disk, root_sector, root, 1);
        if (status != LYFS_OK) {
            log_error("[ERROR]setup_folder_info, write_sectors failed\n");
        }
    }
    release_fat_tbl_cache(part);
    return status;
}

int32_t write_folder_file_entry_fat_chain(stPARTITION* part, stFOLDER* folder) {
    platform::MutexGuard guard(part->h_fat_mutex);
    log_debug("+write_folder_file_entry_fat_chain, fold_name:%s, start_clus:%d, total_clus:%d\n",
              folder->fold_name, folder->start_cluster, folder->total_clusters);
    const std::uint32_t first = folder->start_cluster;
    const std::uint32_t last = first + folder->n_fe_clusters - 1;
    // The area's links are gathered in the cache and each FAT sector is
    // written once, when the chain leaves it.
    for (std::uint32_t y = first; folder->n_fe_clusters != 0 && y <= last; ++y) {
        const FatPosition pos = fat_position(part, y);
        if (part->fat_cache_sector != kNoSector && part->fat_cache_sector != pos.sector) {
            if (int32_t status = store_fat_sector(part); status != LYFS_OK) {
                log_error(
                    "[ERROR]write_folder_file_entry_fat_chain, write_fat_entry_sector failed\n");
                return status;
            }
            part->fat_cache_sector = kNoSector;
        }
        if (int32_t status = load_fat_sector(part, pos.sector); status != LYFS_OK) {
            log_error("[ERROR]write_folder_file_entry_fat_chain, read_fat_entry_sector failed\n");
            return status;
        }
        set_cached_fat_entry(part, pos.index, y == last ? kFatEoc : y + 1);
    }
    if (part->fat_cache_sector != kNoSector) {
        if (int32_t status = store_fat_sector(part); status != LYFS_OK) {
            log_error("[ERROR]write_folder_file_entry_fat_chain, write_fat_entry_sector failed\n");
            return status;
        }
        part->fat_cache_sector = kNoSector;
    }
    return LYFS_OK;
}

int32_t clean_folder_file_entry_clusters(stPARTITION* part, stFOLDER* folder) {
    if (alloc_file_entry_cache(folder) != LYFS_OK) {
        log_error(
            "[ERROR]clean_folder_file_entry_clusters, alloc_file_entry_cache for "
            "file_entry_cache failed\n");
        return LYFS_ERR_NO_MEMORY;
    }
    stDISK* disk = part->p_disk;
    int32_t status = flush_write_window(disk);
    if (status != LYFS_OK) {
        log_error("[ERROR]clean_folder_file_entry_clusters, write_file_entry_sector failed\n");
    }
    empty_read_window(disk);
    const std::uint32_t first = device_sector(part, part->data_start + folder->start_sector_offset);
    const std::uint32_t count = folder->n_fe_clusters * part->n_scts_per_clus;
    for (std::uint32_t j = 0; j < count && status == LYFS_OK; ++j) {
        status = read_file_entry_sector_cache(part, folder, first + j);
        if (status != LYFS_OK) {
            log_error(
                "[ERROR]clean_folder_file_entry_clusters, read_file_entry_sector failed, "
                "sector:%d\n",
                first + j);
            break;
        }
        std::memset(folder->file_entry_cache, 0, kSectorBytes);
        status = write_file_entry_sector_cache(part, folder, first + j, false);
        if (status != LYFS_OK) {
            log_error("[ERROR]clean_folder_file_entry_clusters, write_file_entry_sector failed\n");
        }
    }
    if (status == LYFS_OK) {
        status = flush_write_window(disk);
        if (status != LYFS_OK) {
            log_error("[ERROR]write_file_entry_sector_cache, write_sectors failed, sector:%d\n",
                      disk->wr_window_start);
            log_error("[ERROR]clean_folder_file_entry_clusters, write_file_entry_sector failed\n");
        }
    }
    free_file_entry_cache(folder);
    return status;
}

}  // namespace lyfs
