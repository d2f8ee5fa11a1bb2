// A file's chain of clusters, held as an array in file order so that
// positioning is an index, not a FAT walk.
#pragma once

#include <cstdint>

#include "device/partition.h"
#include "folder/folder.h"

namespace lyfs {

inline constexpr std::uint32_t kMaxFileBytes = 0x10000000;  // 256 MiB: the chain's capacity

struct stCLUS_CHAIN {
    std::uint32_t cur_clus;  // 0: no cluster taken yet
    std::uint32_t clus_pos;
    std::uint32_t n_clus;
    std::uint32_t end_clus;  // 0 when the walk did not find the end
    std::uint32_t* p_clus_chain;
    std::uint32_t n_chain_entries;
    std::uint32_t max_chain_entries;
};

// Sizes and allocates the chain array for the partition's cluster size.
int32_t alloc_cluster_chain_mem(const stPARTITION* part, stCLUS_CHAIN* chain);
void free_cluster_chain_mem(stCLUS_CHAIN* chain);

// The chain's last cluster: where its walk ended, else the last one it holds; 0 for none.
std::uint32_t last_cluster_of(const stCLUS_CHAIN& chain);

// Whether the chain may go on to `next`, a link read from the FAT: only into the folder's
// content area and never back to a cluster it holds, so no walk leaves the file or loops.
bool chain_may_follow(const stCLUS_CHAIN& chain, const stPARTITION* part, const stFOLDER* folder,
                      std::uint32_t next);

// Fills the chain by walking the FAT from `start_cluster`. A chain that
// ends without its mark, meets an invalid link, leaves the folder's content
// area, loops, or is longer than the array, is ended on the card at its last
// good cluster and `*repaired` (when given) set to 1. A failed FAT read ends
// the walk with its status.
int32_t construct_file_cluster_chain(stCLUS_CHAIN* chain, stPARTITION* part, const stFOLDER* folder,
                                     std::uint32_t start_cluster, std::uint32_t* repaired);

}  // namespace lyfs
