// Prepares cards through the library's exports, the way a host does.
#pragma once

#include <cstring>
#include <initializer_list>
#include <string>

#include "lyfs/lyfs.h"

namespace lyfs::test {

inline stFOLDER_SPEC folder_spec(const char* name, std::uint64_t share, std::uint32_t max_files,
                                 std::uint8_t type = 0x10) {
    stFOLDER_SPEC spec{};
    std::strncpy(spec.name, name, sizeof spec.name - 1);
    spec.share_percent = share;
    spec.max_file_num = max_files;
    spec.fold_type = type;
    return spec;
}

// The folders given, in card order.
inline lyfs_folder_table table_of(std::initializer_list<stFOLDER_SPEC> folders) {
    lyfs_folder_table table{};
    for (const stFOLDER_SPEC& spec : folders) {
        table.folders[table.count++] = spec;
    }
    return table;
}

// DATA 40 %, EVENT 30 %, PHOTO 10 %, PARKED the rest.
inline lyfs_folder_table default_folder_table(std::uint32_t max_files = 5000) {
    return table_of({folder_spec("DATA", 40, max_files), folder_spec("EVENT", 30, max_files),
                     folder_spec("PHOTO", 10, max_files), folder_spec("PARKED", 0, max_files)});
}

// Slot 0 of `fat32_mib`, slot 1 of the rest, slot 1 formatted with `table`.
inline int32_t partition_and_format(const std::string& path, const lyfs_folder_table& table,
                                    std::uint64_t fat32_mib = 1) {
    std::uint32_t slot = 0;
    std::uint32_t sectors = 0;
    int32_t status =
        CL_LyFS_Create_Partition(path.c_str(), LYFS_PART_FAT32, fat32_mib, &slot, &sectors, 0);
    if (status == LYFS_OK) {
        status = CL_LyFS_Create_Partition(path.c_str(), LYFS_PART_LYFS, 0xFFFFFFFFull, &slot,
                                          &sectors, 0);
    }
    if (status == LYFS_OK) {
        status = CL_LyFS_Format(path.c_str(), "", LYFS_PART_LYFS, 0, &table);
    }
    return status;
}

}  // namespace lyfs::test
