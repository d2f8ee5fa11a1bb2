// Reading the card's partition table into the disk's copies.
#pragma once

#include <cstdint>

#include "device/disk.h"

namespace lyfs {

int32_t initialize_partition_entry(stDISK* disk);

}  // namespace lyfs
