// A card the library must not change (a read-only mount) still gets the
// repairs a mount or a read-open makes, so that it lists and reads exactly as
// it would once repaired: the sectors those repairs write are kept in memory
// instead of reaching the device, and every later read of it sees them.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace lyfs {

struct KeptWrites;

// From now on no write reaches `device`: it is kept in memory. 0 or 4.
int32_t keep_writes_in_memory(platform::DeviceHandle device);
// Forgets what was kept for `device`, before it is closed.
void drop_kept_writes(platform::DeviceHandle device);

// For the sector layer. The store of `device`, or null when its writes go to
// the device.
KeptWrites* kept_writes_of(platform::DeviceHandle device);
// Keeps the whole sectors of `parts`, written from `first_sector` on. 0 or 4.
int32_t keep_sectors(KeptWrites* kept, const platform::ConstIoPart* parts, std::uint32_t count,
                     std::uint32_t first_sector);
// Lays what is kept over the whole sectors of `parts`, just read from
// `first_sector` on.
void overlay_kept_sectors(KeptWrites* kept, const platform::IoPart* parts, std::uint32_t count,
                          std::uint32_t first_sector);

}  // namespace lyfs
