#include "api/folder_setup.h"

#include <algorithm>
#include <cstring>

#include "core/handles.h"
#include "core/log.h"
#include "device/sector_io.h"
#include "device/window.h"
#include "entry/file_object.h"
#include "entry/folder_scan.h"
#include "fat/fat.h"
#include "fat/fat_cache.h"
#include "file/cluster_chain.h"
#include "file/reclaim.h"
#include "folder/content_area.h"
#include "folder/dir_clusters_record.h"
#include "folder/dir_entry.h"
#include "layout/codec.h"
#include "layout/dir_entry_codec.h"
#include "layout/layout.h"
#include "lyfs/lyfs.h"
#include "platform/memory.h"

namespace lyfs {
namespace {

// A file that no longer fits its folder at mount goes wherever it stands in the ring.
int32_t delete_misfit(stPARTITION* part, stFOLDER* folder, stFILE* file) {
    std::uint64_t freed = 0;
    return delete_file(part, folder, file, &freed, DeleteFrom::kAnywhere);
}

constexpr int kMaxFatPasses = 3;  // a repair that does not hold is not retried forever

// A region the library can work in without reaching outside the partition,
// into the root cluster, or into a folder set up before.
bool region_is_sound(const stPARTITION* part, const stFOLDER* folder) {
    const std::uint64_t first = folder->start_cluster;
    const std::uint64_t end = first + folder->total_clusters;  // one past the last
    const std::uint64_t fe_end =
        first + file_entry_clusters(folder->max_file_num, part->n_scts_per_clus);
    const std::uint64_t slots = static_cast<std::uint64_t>(part->n_scts_per_clus) * 4 *
                                file_entry_clusters(folder->max_file_num, part->n_scts_per_clus);
    if (first <= kRootCluster || end > static_cast<std::uint64_t>(part->total_clusters) + 2 ||
        fe_end >= end || slots > 0xFFFFFFFEull) {
        return false;
    }
    for (const stFOLDER* other = part->folder_list; other != nullptr; other = other->next) {
        const std::uint64_t other_end =
            static_cast<std::uint64_t>(other->start_cluster) + other->total_clusters;
        if (other != folder && first < other_end && other->start_cluster < end) {
            return false;
        }
    }
    return true;
}

// One past the last cluster the partition has and its FAT describes; the
// rest of a content area that reaches further is never addressed.
std::uint64_t described_end(const stPARTITION* part) {
    return std::min<std::uint64_t>(
        static_cast<std::uint64_t>(part->total_clusters) + 2,
        static_cast<std::uint64_t>(part->fat_sectors) * part->fat_entries_per_sct);
}

void count_content_clusters(stPARTITION* part, stFOLDER* folder, int32_t* status) {
    folder->n_free_clusters = 0;
    folder->n_used_clusters = 0;
    folder->n_invalid_clusters = 0;
    const std::uint64_t first = std::max<std::uint64_t>(folder->n_fc_start_cluster, kFirstCluster);
    const std::uint64_t end = std::min<std::uint64_t>(
        static_cast<std::uint64_t>(folder->n_fc_start_cluster) + folder->n_fc_clusters,
        described_end(part));
    const std::uint32_t counted = end > first ? static_cast<std::uint32_t>(end - first) : 0;
    // Clusters past what the FAT describes are never allocated: invalid.
    folder->n_invalid_clusters = folder->n_fc_clusters - counted;
    // A FAT sector at a time: its entries are classed straight from the cache.
    for (auto x = static_cast<std::uint32_t>(first); x < first + counted;) {
        const FatPosition pos = fat_position(part, x);
        if (part->fat_cache_sector != pos.sector) {
            if (*status = read_fat_entry_sector_cache(part, pos.sector); *status != LYFS_OK) {
                return;
            }
        }
        const std::uint32_t n = std::min<std::uint32_t>(
            static_cast<std::uint32_t>(first + counted - x), part->fat_entries_per_sct - pos.index);
        const std::uint8_t* entries = part->fat_cache + pos.index * kFatEntryBytes;
        for (std::uint32_t i = 0; i < n; ++i) {
            switch (classify_fat_entry(get_u32(entries + i * kFatEntryBytes))) {
                case FatEntryClass::kFree:
                    ++folder->n_free_clusters;
                    break;
                case FatEntryClass::kLink:
                case FatEntryClass::kEndOfChain:
                    ++folder->n_used_clusters;
                    break;
                case FatEntryClass::kInvalid:
                    ++folder->n_invalid_clusters;
                    break;
            }
        }
        x += n;
    }
}

int32_t count_fat(stPARTITION* part, stFOLDER* folder) {
    platform::MutexGuard guard(part->h_fat_mutex);
    log_debug(
        "+setup_folder_fat_entry, fold_name:%s, file_cont_start_clus:%d, "
        "file_cont_total_clus:%d\n",
        folder->fold_name, folder->n_fc_start_cluster, folder->n_fc_clusters);
    empty_read_window(part->p_disk);
    int32_t status = flush_write_window(part->p_disk);
    if (status == LYFS_OK) {
        count_content_clusters(part, folder, &status);
    }
    folder->fc_cursor = kNoSector;
    return status;
}

// Fills a new folder from its root-directory entry and its record values.
void describe_folder(stFOLDER* folder, const DirEntryInfo& entry, const DirClusters& record,
                     std::uint32_t index) {
    std::memcpy(folder->fold_name, entry.name, sizeof entry.name);
    folder->fold_type = entry.attribute;
    folder->start_cluster = entry.first_cluster;
    folder->total_clusters = record.cluster_count[index];
    folder->max_file_num = record.max_file_num[index];
    log_debug("dirs:%d, folder_name:%s, start_cluster:%d, total_clusters:%d, fold_type:0x%x\n",
              index, folder->fold_name, folder->start_cluster, folder->total_clusters,
              folder->fold_type);
    log_info("[RVFS]SETUP, Folder:%s, Max Files:%d, \n", folder->fold_name, folder->max_file_num);
}

// Drops a folder the mount will not use.
void discard_folder(stPARTITION* part, stFOLDER* folder) {
    remove_folder_object(part, folder);
    release_handle(folder->handle);
    platform::release(folder);
}

// Sets up the folder of root entry `index`. `result` keeps 0 or 36.
int32_t set_up_folder(stPARTITION* part, const std::uint8_t* entry_bytes, const DirClusters& record,
                      std::uint32_t index, int32_t* result) {
    DirEntryInfo entry{};
    if (!extract_dir_entry(entry_bytes, &entry)) {
        return LYFS_OK;  // a long-name group is skipped: it names no folder we can decode
    }
    stFOLDER* folder = create_folder_object(part);
    if (folder == nullptr) {
        log_error("[ERROR]setup_root_folder_info, create_folder_object failed\n");
        return LYFS_ERR_NO_MEMORY;
    }
    describe_folder(folder, entry, record, index);
    if (!region_is_sound(part, folder)) {
        log_error(
            "[ERROR]setup_root_folder_info, folder region outside the volume, folder:%s, "
            "start_cluster:%d, total_clusters:%d, max_file_num:%d\n",
            folder->fold_name, folder->start_cluster, folder->total_clusters, folder->max_file_num);
        discard_folder(part, folder);
        return LYFS_OK;
    }
    int32_t status = setup_folder_file_list(part, folder, &delete_misfit);
    if (status != LYFS_OK) {
        log_error("[ERROR]setup_root_folder_info, setup_folder_file_list failed\n");
        return status;
    }
    log_info("[RVFS]SETUP, File Entry Start Clus:%d, Num:%d, FC Start Clus:%d, Num:%d\n",
             folder->start_cluster, folder->n_fe_clusters, folder->n_fc_start_cluster,
             folder->n_fc_clusters);
    status = setup_folder_fat_entry(part, folder);
    if (status == LYFS_NO_FILE) {
        log_info("[INFO]setup_root_folder_info, setup_folder_fat_entry, no files existed\n");
    } else if (status != LYFS_OK) {
        log_error("[ERROR]setup_root_folder_info, setup_folder_fat_entry failed\n");
        return status;
    }
    *result = status;
    return LYFS_OK;
}

// Ends the chain of the newest file, and of each older one whose writer never
// closed it: the last cluster of either reads free in the FAT, and a newer
// file that took it would be claimed as part of it. `last` receives the
// newest file's last cluster.
int32_t end_unclosed_chains(stPARTITION* part, stFOLDER* folder, std::uint32_t* repaired,
                            std::uint32_t* last) {
    stCLUS_CHAIN chain{};
    if (alloc_cluster_chain_mem(part, &chain) != LYFS_OK) {
        log_error("[ERROR]setup_folder_fat_entry, alloc_cluster_chain_mem failed\n");
        return LYFS_ERR_NO_MEMORY;
    }
    *repaired = 0;
    int32_t status = LYFS_OK;
    for (stFILE* file = folder->file_list_head; file != nullptr && status == LYFS_OK;
         file = file->next) {
        if (file->next != nullptr && file->file_size != 0) {
            continue;
        }
        std::uint32_t mended = 0;
        chain.n_chain_entries = 0;
        status = construct_file_cluster_chain(&chain, part, folder, file->start_cluster, &mended);
        *repaired |= mended;
        *last = last_cluster_of(chain);
    }
    free_cluster_chain_mem(&chain);
    if (status != LYFS_OK) {
        log_error("[ERROR]setup_folder_fat_entry, construct_file_cluster_chain failed, folder:%s\n",
                  folder->fold_name);
    }
    return status;
}

}  // namespace

int32_t setup_folder_fat_entry(stPARTITION* part, stFOLDER* folder) {
    for (int pass = 1;; ++pass) {
        if (int32_t status = count_fat(part, folder); status != LYFS_OK) {
            return status;
        }
        stFILE* newest = get_last_file_object(folder);
        if (newest == nullptr) {
            log_info("[INFO]setup_folder_fat_entry, get_last_file_object failed, folder:%s\n",
                     folder->fold_name);
            return LYFS_NO_FILE;
        }
        std::uint32_t repaired = 0;
        std::uint32_t last = 0;
        if (int32_t status = end_unclosed_chains(part, folder, &repaired, &last);
            status != LYFS_OK) {
            return status;
        }
        if (repaired != 0 && pass < kMaxFatPasses) {
            log_info(
                "[INFO]setup_folder_fat_entry, file's FAT table has been update, have to "
                "rescan\n");
            part->fat_cache_sector = kNoSector;
            continue;
        }
        if (last != 0) {
            folder->fc_cursor = last - folder->n_fc_start_cluster;
        }
        folder->free_space =
            static_cast<std::uint64_t>(folder->n_free_clusters) * part->n_scts_per_clus * 512;
        log_debug("folder:%s, total_space:%llu, free_space:%llu\n", folder->fold_name,
                  static_cast<unsigned long long>(folder->total_space),
                  static_cast<unsigned long long>(folder->free_space));
        return LYFS_OK;
    }
}

int32_t setup_root_folder_info(stDISK* disk, stPARTITION* part) {
    DirClusters record{};
    int32_t status = restore_dir_clusters_count(disk, part, &record);
    if (status != LYFS_OK) {
        return status;
    }
    std::uint8_t root[kSectorBytes];
    status = read_sectors(disk->h_disk, root, device_sector(part, part->data_start), 1);
    if (status != LYFS_OK) {
        log_error("[ERROR]setup_root_folder, read_sectors failed\n");
        return status;
    }
    int32_t result = LYFS_OK;
    std::uint32_t offset = 0;
    for (std::uint32_t i = 0; i < record.count && offset + kDirEntryBytes <= kSectorBytes; ++i) {
        const std::uint8_t* entry = root + offset;
        if (entry[0] == 0) {
            break;
        }
        status = set_up_folder(part, entry, record, i, &result);
        if (status != LYFS_OK) {
            return status;
        }
        offset += entry[short_entry::kAttr] == kAttrLongName ? kLongNameGroupBytes : kDirEntryBytes;
    }
    return result;
}

}  // namespace lyfs
