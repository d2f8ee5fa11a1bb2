// Records the scan at mount could not decode stay on the card, unlisted,
// until the reclaim reaches them at the ring's header; then they go as the
// oldest file would.
#pragma once

#include <cstdint>

#include "device/partition.h"
#include "folder/folder.h"

namespace lyfs {

// When the ring's header holds a record in use that cannot be decoded,
// erases it, and frees its chain too when that chain is its own beyond
// doubt. `erased` tells whether it went; `freed` receives the bytes freed.
int32_t erase_unreadable_header(stPARTITION* part, stFOLDER* folder, bool* erased,
                                std::uint64_t* freed);

}  // namespace lyfs
