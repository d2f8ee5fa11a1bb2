#include "file/unreadable_entry.h"

#include <algorithm>

#include "core/log.h"
#include "entry/file_entry.h"
#include "entry/file_entry_cache.h"
#include "entry/file_object.h"
#include "entry/ring.h"
#include "fat/fat.h"
#include "fat/fat_cache.h"
#include "file/cluster_chain.h"
#include "file/reclaim.h"
#include "folder/content_area.h"
#include "layout/dir_entry_codec.h"
#include "layout/layout.h"
#include "lyfs/lyfs.h"
#include "platform/memory.h"

namespace lyfs {
namespace {

// Whether the header's record, in slot `index`, is in use and cannot be
// decoded, with the start cluster it names.
int32_t inspect_header(stPARTITION* part, stFOLDER* folder, bool* unreadable, std::uint32_t* index,
                       std::uint32_t* start) {
    platform::MutexGuard guard(folder->h_fe_mutex);
    *unreadable = false;
    *index = folder->fe_hdr_index;
    if (*index == kNoSector) {
        return LYFS_OK;
    }
    if (int32_t status = load_file_entry_sector(part, folder, *index); status != LYFS_OK) {
        log_error("[ERROR]erase_unreadable_header, read_file_entry_sector failed, sector:%d\n",
                  file_entry_sector(part, folder, *index));
        return status;
    }
    const std::uint8_t* record = cached_file_entry(folder, *index);
    *unreadable = file_entry_in_use(record) && !file_entry_decodes(record);
    *start = short_entry_cluster(record + record::kShortEntry);
    return LYFS_OK;
}

bool holds(const stCLUS_CHAIN& chain, std::uint32_t cluster) {
    const std::uint32_t* begin = chain.p_clus_chain;
    const std::uint32_t* end = begin + chain.n_chain_entries;
    return std::find(begin, end, cluster) != end;
}

// Follows the chain from `start` through the folder's content area without
// repairing anything: it stops at an end mark, a free entry, or a link to a
// cluster it cannot take (outside the area, or met before).
int32_t walk_chain(stPARTITION* part, const stFOLDER* folder, std::uint32_t start,
                   stCLUS_CHAIN* chain) {
    std::uint32_t c = start;
    while (cluster_in_partition(part, c) && cluster_in_content_area(folder, c) &&
           !holds(*chain, c) && chain->n_chain_entries < chain->max_chain_entries) {
        chain->p_clus_chain[chain->n_chain_entries++] = c;
        if (int32_t status = get_next_cluster(part, c, &c); status != LYFS_OK) {
            return status;
        }
        if (classify_fat_entry(c) != FatEntryClass::kLink) {
            break;
        }
    }
    chain->n_clus = chain->n_chain_entries;
    return LYFS_OK;
}

bool starts_a_listed_file(stFOLDER* folder, const std::uint32_t* sorted, std::uint32_t n) {
    platform::MutexGuard guard(folder->h_file_list_mutex);
    for (const stFILE* f = folder->file_list_head; f != nullptr; f = f->next) {
        if (std::binary_search(sorted, sorted + n, f->start_cluster)) {
            return true;
        }
    }
    return false;
}

// Counts, into `links`, the FAT entries of the folder's content area that
// link to each cluster of `sorted`.
int32_t count_links(stPARTITION* part, const stFOLDER* folder, const std::uint32_t* sorted,
                    std::uint32_t n, std::uint32_t* links) {
    platform::MutexGuard guard(part->h_fat_mutex);
    for (std::uint32_t i = 0; i < folder->n_fc_clusters; ++i) {
        const std::uint32_t x = folder->n_fc_start_cluster + i;
        if (!cluster_in_partition(part, x)) {
            continue;
        }
        const FatPosition pos = fat_position(part, x);
        if (int32_t status = load_fat_sector(part, pos.sector); status != LYFS_OK) {
            log_error("[ERROR]erase_unreadable_header, read_sectors failed\n");
            return status;
        }
        const std::uint32_t value = cached_fat_entry(part, pos.index) & kFatValueMask;
        const std::uint32_t* at = std::lower_bound(sorted, sorted + n, value);
        if (classify_fat_entry(value) == FatEntryClass::kLink && at != sorted + n && *at == value) {
            ++links[at - sorted];
        }
    }
    return LYFS_OK;
}

// A record that could not be decoded may have been damaged anywhere, its
// start cluster too, and the clusters of an unclosed recording may have
// been taken by a newer file since. Its chain is freed only when no other
// file can own any of it: no listed file starts in it, nothing links to its
// start, and each other cluster is linked to once, from the chain itself.
int32_t chain_is_its_own(stPARTITION* part, stFOLDER* folder, const stCLUS_CHAIN& chain,
                         bool* own) {
    const std::uint32_t n = chain.n_chain_entries;
    auto* sorted = static_cast<std::uint32_t*>(
        platform::allocate_zeroed(2 * std::size_t{n} * sizeof(std::uint32_t)));
    if (sorted == nullptr) {
        log_error("[ERROR]erase_unreadable_header, malloc for the chain check failed\n");
        return LYFS_ERR_NO_MEMORY;
    }
    std::uint32_t* links = sorted + n;
    std::copy(chain.p_clus_chain, chain.p_clus_chain + n, sorted);
    std::sort(sorted, sorted + n);
    int32_t status = count_links(part, folder, sorted, n, links);
    *own = status == LYFS_OK && !starts_a_listed_file(folder, sorted, n);
    for (std::uint32_t i = 0; *own && i < n; ++i) {
        *own = links[i] == (sorted[i] == chain.p_clus_chain[0] ? 0u : 1u);
    }
    platform::release(sorted);
    return status;
}

// Frees the record's chain when it is its own; the clusters freed in `freed`.
int32_t free_own_chain(stPARTITION* part, stFOLDER* folder, std::uint32_t start,
                       std::uint32_t* freed) {
    *freed = 0;
    stCLUS_CHAIN chain{};
    if (alloc_cluster_chain_mem(part, &chain) != LYFS_OK) {
        log_error("[ERROR]erase_unreadable_header, alloc_cluster_chain_mem failed\n");
        return LYFS_ERR_NO_MEMORY;
    }
    bool own = false;
    int32_t status = walk_chain(part, folder, start, &chain);
    if (status == LYFS_OK && chain.n_chain_entries != 0) {
        status = chain_is_its_own(part, folder, chain, &own);
    }
    if (status == LYFS_OK && own) {
        status = delete_file_fat_entries(part, &chain);
        *freed = status == LYFS_OK ? chain.n_chain_entries : 0;
    }
    free_cluster_chain_mem(&chain);
    return status;
}

}  // namespace

int32_t erase_unreadable_header(stPARTITION* part, stFOLDER* folder, bool* erased,
                                std::uint64_t* freed) {
    *erased = false;
    *freed = 0;
    bool unreadable = false;
    std::uint32_t index = 0;
    std::uint32_t start = 0;
    if (int32_t status = inspect_header(part, folder, &unreadable, &index, &start);
        status != LYFS_OK || !unreadable) {
        return status;
    }
    // The chain goes first, as for a file, so a cut in between leaves the
    // record to be erased again.
    std::uint32_t clusters = 0;
    if (int32_t status = free_own_chain(part, folder, start, &clusters); status != LYFS_OK) {
        return status;
    }
    if (int32_t status = delete_header_entry(part, folder); status != LYFS_OK) {
        return status;
    }
    log_info("[RVFS]DEL unreadable entry, Folder:%s, File Entry:%d, Start Clus:%d, Clusters:%d\n",
             folder->fold_name, index, start, clusters);
    if (folder->n_bad_entries != 0) {
        --folder->n_bad_entries;  // unless it was damaged after the mount
    }
    *erased = true;
    *freed = static_cast<std::uint64_t>(part->bytes_per_clus) * clusters;
    return LYFS_OK;
}

}  // namespace lyfs
