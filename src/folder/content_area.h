// A folder's file-content area in the FAT: which clusters it owns, and the
// search for its free ones behind the allocation cursor. Every search holds
// the partition's FAT lock for its whole run.
#pragma once

#include <cstdint>

#include "device/partition.h"
#include "folder/folder.h"

namespace lyfs {

// Whether `cluster` lies in the folder's file-content area.
bool cluster_in_content_area(const stFOLDER* folder, std::uint32_t cluster);

// Whether a cluster whose FAT entry reads free is taken all the same: a file
// being written holds its newest cluster, which gets its entry only when the
// chain grows on or the file is closed. Asked under the FAT lock.
using ClusterHeld = bool (*)(stPARTITION* part, std::uint32_t cluster);

// Finds a free cluster of the folder's content area after `fc_cursor`,
// cyclically, that `held` (when given) does not claim, and moves the cursor
// to it. 37 when there is none.
int32_t find_free_fcon_fat_entry(stPARTITION* part, stFOLDER* folder, std::uint32_t* cluster,
                                 ClusterHeld held = nullptr);
// The same, and links `previous` to the cluster found, so the chain grows.
int32_t get_next_free_cluster(stPARTITION* part, stFOLDER* folder, std::uint32_t previous,
                              std::uint32_t* cluster, ClusterHeld held = nullptr);

}  // namespace lyfs
