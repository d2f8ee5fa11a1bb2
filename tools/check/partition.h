// The partition table, the geometry of slot 1's partition, and its boot sector.
#pragma once

#include <optional>

#include "check_support.h"

namespace lyfs::check {

// The geometry of slot 1, or nothing when there is no usable slot 1 (the reason is reported).
std::optional<Geometry> read_geometry(CheckContext& context);

void check_boot_sector(CheckContext& context, const Geometry& geometry);

}  // namespace lyfs::check
