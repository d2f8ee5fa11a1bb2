// Building a mounted partition's folders from the card.
#pragma once

#include <cstdint>

#include "device/partition.h"
#include "folder/folder.h"

namespace lyfs {

// Builds every folder: its region from the root directory and the folder
// record, its ring and files from the scan, its free clusters from the FAT.
// Returns 0, 36 when the last folder set up holds no file, or a failure.
int32_t setup_root_folder_info(stDISK* disk, stPARTITION* part);

// Counts the free clusters of the folder's content area, repairs the newest
// file's chain end and puts the cursor behind it. 36 when there is no file.
int32_t setup_folder_fat_entry(stPARTITION* part, stFOLDER* folder);

}  // namespace lyfs
