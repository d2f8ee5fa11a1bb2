// The record of each folder's size (cluster count and maximum files) that
// the FSInfo sector of the partition carries.
#pragma once

#include <cstdint>

#include "device/partition.h"
#include "folder/folder.h"
#include "lyfs/lyfs.h"

namespace lyfs {

// Stores the folder count, the cluster counts and the tables' maximum files
// in relative sector 1, keeping the sector's other bytes.
int32_t backup_dir_clusters_count(stDISK* disk, stPARTITION* part,
                                  const std::uint32_t* cluster_counts,
                                  const lyfs_folder_table* table);

// What the record says of each folder, in folder order.
struct DirClusters {
    std::uint32_t count;
    std::uint32_t cluster_count[kMaxFolders];
    std::uint32_t max_file_num[kMaxFolders];
};

// Reads the record; 14 when it names 10 or more folders.
int32_t restore_dir_clusters_count(stDISK* disk, stPARTITION* part, DirClusters* out);

}  // namespace lyfs
