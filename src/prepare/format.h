// Formatting a partition slot into an empty volume with the host's folders.
#pragma once

#include <cstdint>

#include "device/partition.h"
#include "folder/folder.h"
#include "lyfs/lyfs.h"

namespace lyfs {

// Writes boot sector, FSInfo, their copies, the cleared FAT and root
// cluster, and fills `part` with the volume's geometry.
int32_t format_partition(stDISK* disk, const PartEntry& slot, stPARTITION* part);
// Carves the folders' regions, links and clears their file-entry areas and
// writes their root-directory entries; reports each folder's cluster count.
int32_t create_root_folder(stDISK* disk, stPARTITION* part, const lyfs_folder_table* table,
                           std::uint32_t* p_dir_clusters);
int32_t write_folder_file_entry_fat_chain(stPARTITION* part, stFOLDER* folder);
int32_t clean_folder_file_entry_clusters(stPARTITION* part, stFOLDER* folder);

// Region sizes of the folders of `table` on a volume of `cluster_count`
// clusters: each a share of all clusters but the root's, the last the rest.
void plan_folder_regions(const lyfs_folder_table* table, std::uint32_t cluster_count,
                         std::uint32_t* regions);

}  // namespace lyfs
