// The files' cluster chains and the clusters that no chain reaches.
#pragma once

#include <vector>

#include "fat.h"
#include "file_entries.h"

namespace lyfs::check {

// Walks every file's chain, then looks for content clusters in use that no chain reaches.
// Fills the report's file list and cluster counts.
void check_chains(CheckContext& context, const Geometry& geometry, const Fat& fat,
                  const std::vector<FolderLayout>& folders, const std::vector<FileRecord>& files);

}  // namespace lyfs::check
