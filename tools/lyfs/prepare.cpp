#include "prepare.h"

#include <cstdio>

#include "card.h"
#include "copy.h"
#include "device.h"
#include "failure.h"
#include "library.h"
#include "space_bar.h"
#include "system.h"
#include "units.h"

namespace lyfs::tool {

void create_sparse_image(const std::string& path, std::uint64_t bytes) {
    create_sparse_file(path, bytes);
}

PartitionSizes partition_card(const std::string& device, std::uint64_t fat32_mib) {
    read_device_info(device);
    forget_library_failures();
    // Clearing every slot first also replaces a boot sector at sector 0 (a card formatted
    // without a table), which the library would otherwise leave alone.
    std::int32_t status = CL_LyFS_Delete_Partition(device.c_str(), LYFS_PART_ALL);
    PartitionSizes sizes;
    std::uint32_t slot = 0;
    if (status == LYFS_OK) {
        status = CL_LyFS_Create_Partition(device.c_str(), LYFS_PART_FAT32, fat32_mib, &slot,
                                          &sizes.fat32_sectors, 0);
    }
    require_not_in_use(device, status);
    if (status != LYFS_OK || sizes.fat32_sectors == 0) {
        throw Failure("cannot write the partition table of " + device + ": " + status_words(status),
                      library_failure());
    }
    status = CL_LyFS_Create_Partition(device.c_str(), LYFS_PART_LYFS, UINT64_MAX, &slot,
                                      &sizes.card_sectors, 0);
    if (status == LYFS_ERR_BAD_SLOT) {
        throw Failure("no room on " + device + " for the card file system behind a FAT32 " +
                      "partition of " + std::to_string(fat32_mib) +
                      " MiB: " + status_words(status));
    }
    if (status != LYFS_OK) {
        throw Failure("cannot add the card file system to the partition table of " + device + ": " +
                          status_words(status),
                      library_failure());
    }
    return sizes;
}

void format_card(const std::string& device, const lyfs_folder_table& table) {
    read_device_info(device);  // the library formats only devices it holds
    forget_library_failures();
    const std::int32_t status = CL_LyFS_Format(device.c_str(), "", LYFS_PART_LYFS, 0, &table);
    require_not_in_use(device, status);
    switch (status) {
        case LYFS_OK:
            return;
        case LYFS_ERR_BAD_SLOT:
            throw Failure(device + " has no usable partition for the card file system in slot 1 " +
                              "(run lyfs partition first): " + status_words(status),
                          library_failure());
        case LYFS_ERR_BAD_ARGUMENT:
        case LYFS_ERR_EMPTY_FOLDER_NAME:
            throw Failure("the layout does not fit " + device +
                              " (a folder's share is too small for its maximum number of files), " +
                              "nothing was written: " + status_words(status),
                          library_failure());
        default:
            throw Failure("formatting " + device + " failed: " + status_words(status),
                          library_failure());
    }
}

void warn_of_folders_without_room(const std::string& device, const char* command) {
    Card card(device, Card::Access::ReadOnly);
    for (const DirInfo& info : card.folders()) {
        const std::string name = folder_name(info);
        const FolderUsage usage = card.space(name);
        if (largest_file_of_folder(usage, name, card.sectors_per_cluster()) == 0) {
            std::fprintf(stderr,
                         "lyfs %s: warning: folder %s has %s, and the library keeps %s of a "
                         "folder of that name free for recording: it cannot take files on this "
                         "card (give it a larger share of a larger card)\n",
                         command, name.c_str(), format_size(usage.total_bytes).c_str(),
                         format_size(folder_reserve_bytes(name)).c_str());
        }
    }
}

}  // namespace lyfs::tool
