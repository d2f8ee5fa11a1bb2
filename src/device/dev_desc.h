// The mounted partition a host's device record names, or null for a record
// that names none (never mounted, closed, or random bytes).
#pragma once

#include "core/handles.h"
#include "device/partition.h"
#include "lyfs/lyfs.h"

namespace lyfs {

inline stPARTITION* partition_of(const dev_desc* record) {
    return record != nullptr ? resolve<stPARTITION>(record->part_handle, HandleKind::kPartition)
                             : nullptr;
}

}  // namespace lyfs
