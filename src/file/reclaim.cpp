#include "file/reclaim.h"

#include <cstdio>
#include <cstring>

#include "core/delete_notify.h"
#include "core/log.h"
#include "entry/ring.h"
#include "fat/fat_cache.h"
#include "file/open_files.h"
#include "file/unreadable_entry.h"
#include "lyfs/lyfs.h"

namespace lyfs {
namespace {

constexpr std::uint32_t kMinFreeEntries = 10;
constexpr std::size_t kGroupPrefix = 15;
// "/" + folder (8) + "/" + name (39) + terminator, with room to spare.
constexpr std::size_t kPathBytes = 64;

// A file not at the header leaves a hole in the ring, which the ring skips.
int32_t erase_out_of_order(stPARTITION* part, stFOLDER* folder, stFILE* file) {
    int32_t status = write_file_entry_dirty(part, folder, file->file_entry_index);
    if (status != LYFS_OK) {
        log_error("[ERROR]delete_file_entry, write_file_entry_dirty failed\n");
        return status;
    }
    log_info("[RVFS]DEL File, Folder:%s, File:%s, Start Clus:%d, File Entry:%d\n",
             folder->fold_name, file->file_name, file->start_cluster, file->file_entry_index);
    destroy_file_object(folder, file);
    return LYFS_OK;
}

std::uint32_t header_index(stFOLDER* folder) {
    platform::MutexGuard guard(folder->h_fe_mutex);
    return folder->fe_hdr_index;
}

bool needs_room(stFOLDER* folder) {
    return folder->free_space <= get_fold_min_free_space(folder) ||
           get_free_file_entries(folder) <= kMinFreeEntries;
}

}  // namespace

int32_t delete_file_fat_entries(stPARTITION* part, const stCLUS_CHAIN* chain) {
    platform::MutexGuard guard(part->h_fat_mutex);
    bool pending = false;
    for (std::uint32_t i = chain->n_clus; i-- > 0;) {
        const FatPosition pos = fat_position(part, chain->p_clus_chain[i]);
        if (part->fat_cache_sector != pos.sector) {
            if (pending) {
                if (int32_t status = store_fat_sector(part); status != LYFS_OK) {
                    log_error("[ERROR]delete_file_fat_entries, write_sectors failed\n");
                    return status;
                }
                pending = false;
            }
            if (int32_t status = load_fat_sector(part, pos.sector); status != LYFS_OK) {
                log_error("[ERROR]delete_file_fat_entries, read_sectors failed\n");
                return status;
            }
        }
        set_cached_fat_entry(part, pos.index, 0);
        pending = true;
    }
    if (pending) {
        if (int32_t status = store_fat_sector(part); status != LYFS_OK) {
            log_error("[ERROR]delete_file_fat_entries, write_sectors failed\n");
            return status;
        }
    }
    return LYFS_OK;
}

int32_t delete_file(stPARTITION* part, stFOLDER* folder, stFILE* file, std::uint64_t* freed,
                    DeleteFrom from) {
    char path[kPathBytes];
    const int length =
        std::snprintf(path, sizeof path, "/%s/%s", folder->fold_name, file->file_name);
    stCLUS_CHAIN chain{};
    if (alloc_cluster_chain_mem(part, &chain) != LYFS_OK) {
        log_error("[ERROR]delete_file, alloc_cluster_chain_mem failed\n");
        return LYFS_ERR_NO_MEMORY;
    }
    int32_t status =
        construct_file_cluster_chain(&chain, part, folder, file->start_cluster, nullptr);
    if (status != LYFS_OK) {
        log_error("[ERROR]delete_file, construct_file_cluster_chain failed\n");
    } else if (status = delete_file_fat_entries(part, &chain); status != LYFS_OK) {
        log_error("[ERROR]delete_file, delete_file_fat_entries failed\n");
    }
    *freed = static_cast<std::uint64_t>(part->bytes_per_clus) * chain.n_clus;
    free_cluster_chain_mem(&chain);
    if (status != LYFS_OK) {
        return status;
    }
    const std::uint32_t fd = file->handle;
    bool at_header = true;
    if (from == DeleteFrom::kAnywhere) {
        platform::MutexGuard guard(folder->h_fe_mutex);
        at_header = file->file_entry_index == folder->fe_hdr_index;
    }
    status =
        at_header ? delete_file_entry(part, folder, file) : erase_out_of_order(part, folder, file);
    if (status != LYFS_OK) {
        log_error("[ERROR]delete_file, delete_file_entry failed\n");
        return status;
    }
    CB_FILE_DELETED(fd, static_cast<std::uint32_t>(length), path);
    return LYFS_OK;
}

int32_t verify_fold_space_ex(stPARTITION* part, stFOLDER* folder) {
    platform::MutexGuard space_guard(folder->h_space_mutex);
    if (!needs_room(folder)) {
        return LYFS_OK;
    }
    log_debug("verify_fold_space_ex, folder:%s, free_space:%llu\n", folder->fold_name,
              static_cast<unsigned long long>(folder->free_space));
    const std::uint64_t reserve = get_fold_min_free_space(folder);
    char group[kGroupPrefix + 1] = {};
    std::uint32_t deleted = 0;  // by this call, in any group
    for (;;) {
        stFILE* oldest = nullptr;
        {
            platform::MutexGuard list_guard(folder->h_file_list_mutex);
            oldest = folder->file_list_head;
        }
        const bool same_group = oldest != nullptr && deleted > 0 &&
                                std::strncmp(oldest->file_name, group, kGroupPrefix) == 0;
        if (!same_group && deleted > 0 && folder->free_space > reserve) {
            return LYFS_OK;  // the group is gone and the reserve is met
        }
        if (oldest == nullptr || oldest->file_entry_index != header_index(folder)) {
            // A record that names no file may stand before the oldest file.
            bool erased = false;
            std::uint64_t freed = 0;
            if (int32_t status = erase_unreadable_header(part, folder, &erased, &freed);
                status != LYFS_OK) {
                log_error("[ERROR]verify_fold_space_ex, erase_unreadable_header failed\n");
                return status;
            }
            if (erased) {
                folder->free_space += freed;
                if (deleted == 0 && !needs_room(folder)) {
                    return LYFS_OK;
                }
                continue;
            }
        }
        if (oldest == nullptr) {
            if (folder->free_space > reserve) {
                return LYFS_OK;
            }
            log_error(
                "[ERROR]verify_fold_space_ex, no file left to delete, folder:%s, "
                "free_space:%llu\n",
                folder->fold_name, static_cast<unsigned long long>(folder->free_space));
            return LYFS_ERR_NO_FREE_CLUSTER;
        }
        {
            platform::MutexGuard fe_guard(folder->h_fe_mutex);
            log_info(
                "[RVFS]GarCol, Folder:%s, File:%s, free_space:%llu, hdr:%d, tail:%d, "
                "free:%d\n",
                folder->fold_name, oldest->file_name,
                static_cast<unsigned long long>(folder->free_space), folder->fe_hdr_index,
                folder->fe_tail_index, folder->fe_totals - folder->fe_valid_entries);
            log_debug(
                "verify_fold_space_ex, file_name:%s, file_entry_index:%d, fe_hdr_index:%d, "
                "free_entries:%d\n",
                oldest->file_name, oldest->file_entry_index, folder->fe_hdr_index,
                folder->fe_totals - folder->fe_valid_entries);
            if (oldest->file_entry_index != folder->fe_hdr_index) {
                log_error(
                    "[ERROR]verify_fold_space_ex, header  index is not first file object, "
                    "%d, %d\n",
                    oldest->file_entry_index, folder->fe_hdr_index);
                return LYFS_ERR_NOT_RING_HEADER;
            }
        }
        // A recording that is open (being written, or read by the host)
        // is never taken away under its reader or writer.
        if (find_open_file(part, oldest) != nullptr) {
            log_error("[ERROR]verify_fold_space_ex, oldest file is open, folder:%s, file:%s\n",
                      folder->fold_name, oldest->file_name);
            return LYFS_ERR_NO_FREE_CLUSTER;
        }
        if (!same_group) {
            const std::size_t n = strnlen(oldest->file_name, kGroupPrefix);
            std::memcpy(group, oldest->file_name, n);
            group[n] = '\0';
        }
        std::uint64_t freed = 0;
        if (int32_t status = delete_file(part, folder, oldest, &freed); status != LYFS_OK) {
            log_error("[ERROR]verify_fold_space_ex, delete_file failed\n");
            return status;
        }
        folder->free_space += freed;
        ++deleted;
        log_debug("verify_fold_space_ex, fold_name:%s, free_space:%llu\n", folder->fold_name,
                  static_cast<unsigned long long>(folder->free_space));
    }
}

}  // namespace lyfs
