// Library-level helpers shared by the exports.
#pragma once

namespace lyfs {

struct stDISK;

// Releases a disk with everything mounted on it and drops it from the list.
void release_disk(stDISK* disk);

}  // namespace lyfs
