// A card's recordings in time, for the terminal: each folder's recordings along one time axis,
// then the gaps between them.
#pragma once

#include <cstdint>

#include "card_inventory.h"

namespace lyfs::tool {

// One row per folder on an axis from the card's oldest record time to its newest: the span from
// the folder's oldest recording to its newest, '#' where recordings are and '.' where none are.
// A recording's length is not on the card, so a recording is taken to last until the next one
// of its folder starts, unless that is more than `gap_seconds` later: then the time between
// them is a gap, and the gaps are listed with their start and end under the rows.
void print_timeline(const CardInventory& inventory, std::int64_t gap_seconds);

}  // namespace lyfs::tool
