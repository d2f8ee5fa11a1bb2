#include "file/cluster_chain.h"

#include <algorithm>

#include "core/log.h"
#include "fat/fat.h"
#include "folder/content_area.h"
#include "layout/layout.h"
#include "lyfs/lyfs.h"
#include "platform/memory.h"

namespace lyfs {
namespace {

bool belongs_to_folder(const stPARTITION* part, const stFOLDER* folder, std::uint32_t cluster) {
    return cluster_in_partition(part, cluster) && cluster_in_content_area(folder, cluster);
}

// Ends the chain on the card at `cluster`.
void end_chain_at(stPARTITION* part, std::uint32_t cluster, std::uint32_t* repaired) {
    if (write_fat_entry(part, cluster) != LYFS_OK) {
        log_error("[ERROR]construct_file_cluster_chain, write_fat_entry EOC failed\n");
    }
    if (repaired != nullptr) {
        *repaired = 1;
    }
}

}  // namespace

bool chain_may_follow(const stCLUS_CHAIN& chain, const stPARTITION* part, const stFOLDER* folder,
                      std::uint32_t next) {
    const std::uint32_t* begin = chain.p_clus_chain;
    const std::uint32_t* end = begin + chain.n_chain_entries;
    return belongs_to_folder(part, folder, next) && std::find(begin, end, next) == end;
}

int32_t alloc_cluster_chain_mem(const stPARTITION* part, stCLUS_CHAIN* chain) {
    chain->max_chain_entries = kMaxFileBytes / (part->n_scts_per_clus * 512);
    chain->p_clus_chain = static_cast<std::uint32_t*>(
        platform::allocate_zeroed(sizeof(std::uint32_t) * chain->max_chain_entries));
    if (chain->p_clus_chain == nullptr) {
        log_error("[ERROR]alloc_cluster_chain_mem, malloc for p_clus_chain failed\n");
        return LYFS_ERR_NO_MEMORY;
    }
    return LYFS_OK;
}

void free_cluster_chain_mem(stCLUS_CHAIN* chain) {
    platform::release(chain->p_clus_chain);
}

int32_t construct_file_cluster_chain(stCLUS_CHAIN* chain, stPARTITION* part, const stFOLDER* folder,
                                     std::uint32_t start_cluster, std::uint32_t* repaired) {
    log_debug("construct_file_cluster_chain, folder:%s, start_cluster:%d\n", folder->fold_name,
              start_cluster);
    if (repaired != nullptr) {
        *repaired = 0;
    }
    chain->cur_clus = start_cluster;
    chain->clus_pos = 0;
    chain->end_clus = 0;
    if (chain->p_clus_chain == nullptr) {
        log_error("[ERROR]construct_file_cluster_chain, p_clus_chain mem is not allocated\n");
        return LYFS_ERR_NO_MEMORY;
    }
    if (!belongs_to_folder(part, folder, start_cluster) || chain->max_chain_entries == 0) {
        // A start cluster the folder does not own is never followed: the
        // file has no cluster the library may read or change.
        log_error(
            "[ERROR]construct_file_cluster_chain, start cluster outside the folder, "
            "folder:%s, start_cluster:%d\n",
            folder->fold_name, start_cluster);
        chain->cur_clus = 0;
        chain->n_clus = chain->n_chain_entries;
        return LYFS_OK;
    }
    std::uint32_t c = start_cluster;
    chain->p_clus_chain[chain->n_chain_entries] = c;
    for (;;) {
        ++chain->n_chain_entries;
        std::uint32_t next = 0;
        if (int32_t status = get_next_cluster(part, c, &next); status != LYFS_OK) {
            chain->n_clus = chain->n_chain_entries;
            return status;
        }
        FatEntryClass kind = classify_fat_entry(next);
        if (kind == FatEntryClass::kLink && !chain_may_follow(*chain, part, folder, next)) {
            kind = FatEntryClass::kInvalid;  // leaves the folder, or loops
        }
        if (kind == FatEntryClass::kEndOfChain) {
            break;
        }
        if (kind == FatEntryClass::kFree) {
            log_info(
                "[INFO]construct_file_cluster_chain, meet free cluster before EOC, "
                "clus_no:0x%x, next_clus:0x%x\n",
                c, 0u);
            end_chain_at(part, c, repaired);
            break;
        }
        if (kind == FatEntryClass::kInvalid) {
            log_info(
                "[INFO]construct_file_cluster_chain, meet invalid cluster before EOC, "
                "clus_no:0x%x, next_clus:0x%x\n",
                c, next);
            end_chain_at(part, c, repaired);
            break;
        }
        if (chain->n_chain_entries == chain->max_chain_entries) {
            log_error("[ERROR]construct_file_cluster_chain, file size is over limit\n");
            end_chain_at(part, c, repaired);
            chain->n_clus = chain->n_chain_entries;
            return LYFS_OK;
        }
        chain->p_clus_chain[chain->n_chain_entries] = next;
        c = next;
    }
    chain->end_clus = c;
    chain->n_clus = chain->n_chain_entries;
    return LYFS_OK;
}

std::uint32_t last_cluster_of(const stCLUS_CHAIN& chain) {
    if (chain.end_clus != 0) {
        return chain.end_clus;
    }
    return chain.n_clus != 0 && chain.p_clus_chain != nullptr ? chain.p_clus_chain[chain.n_clus - 1]
                                                              : 0;
}

}  // namespace lyfs
