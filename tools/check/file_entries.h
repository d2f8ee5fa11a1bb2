// The file-entry areas: one 128-byte record per file, four to a sector.
#pragma once

#include <string>
#include <vector>

#include "check_support.h"

namespace lyfs::check {

struct FileRecord {
    std::size_t folder = 0;  // index into the folder list
    std::uint32_t slot = 0;
    std::string name;  // the bytes as stored; may be anything on a damaged card
    std::uint32_t start_cluster = 0;
    std::uint32_t size = 0;
};

// Appends the files of every slot in use of a usable folder's file-entry area; slots in use
// that are not file records are reported instead.
void read_file_entries(CheckContext& context, const Geometry& geometry, std::size_t folder_index,
                       const FolderLayout& folder, std::vector<FileRecord>& files);

}  // namespace lyfs::check
