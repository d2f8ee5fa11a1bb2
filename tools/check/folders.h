// The fixed folders: the folder record of the FSInfo sector, the root directory, and how the
// folders' regions divide the partition.
#pragma once

#include <optional>
#include <vector>

#include "check_support.h"

namespace lyfs::check {

// Folders in root-directory order, paired with the folder record; nothing when the record is
// invalid or disagrees with the root directory on the number of folders (reported), since then
// no region can be trusted. Also checks the FSInfo signatures.
std::optional<std::vector<FolderLayout>> read_folders(CheckContext& context,
                                                      const Geometry& geometry);

// Checks that the regions tile the clusters behind the root directory and that each region is
// larger than its file-entry area; marks the folders whose contents can be checked.
void check_regions(CheckContext& context, const Geometry& geometry,
                   std::vector<FolderLayout>& folders);

}  // namespace lyfs::check
