// Preparing cards: images, partition tables and formats. The library must be started.
#pragma once

#include <cstdint>
#include <string>

#include "lyfs/lyfs.h"

namespace lyfs::tool {

// Creates a sparse image file of `bytes`; fails when something is already at the path.
void create_sparse_image(const std::string& path, std::uint64_t bytes);

struct PartitionSizes {
    std::uint32_t fat32_sectors = 0;
    std::uint32_t card_sectors = 0;
};

// Writes a fresh partition table: a FAT32 partition of `fat32_mib` in slot 0, and the card
// file system in slot 1 over the rest of the device.
PartitionSizes partition_card(const std::string& device, std::uint64_t fat32_mib);

// Formats slot 1 with the folders of the table.
void format_card(const std::string& device, const lyfs_folder_table& table);

// Warns on stderr of each folder of a card just formatted that can take no file on it: the
// library keeps more of it free for recording than it has.
void warn_of_folders_without_room(const std::string& device, const char* command);

}  // namespace lyfs::tool
