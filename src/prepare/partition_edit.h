// Editing the card's partition table.
#pragma once

#include <cstdint>

#include "device/disk.h"

namespace lyfs {

// Writes slot `index` with `type_byte` and `count` sectors into sector 0:
// slot 0 at sector 32 in a fresh table, a later slot behind the one before.
// The count is clamped to the device's end and reported through `out_count`.
int32_t create_partition_entry(stDISK* disk, std::uint8_t type_byte, std::uint32_t index,
                               std::uint32_t count, std::uint32_t* out_count);

}  // namespace lyfs
