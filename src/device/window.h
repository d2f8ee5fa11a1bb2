// The disk's read and write windows: one cluster's worth of consecutive
// sectors each, shared by the FAT and file-entry caches to turn long runs of
// single-sector work into one device request per window.
#pragma once

#include <cstdint>

#include "device/disk.h"

namespace lyfs {

// Copies device sector `sector` into `out` (512 bytes), refilling the read
// window from `sector` when it does not hold it. A failed refill leaves the
// window empty and returns the read status.
int32_t read_window_sector(stDISK* disk, std::uint32_t sector, std::uint8_t* out);

// Puts `data` (512 bytes) for device sector `sector` into the write window.
// A sector inside the window is only copied, unless `flush` is set; otherwise
// the sectors gathered so far are written first and the window restarts at
// `sector`. A failed write leaves the window unchanged and returns its status.
int32_t write_window_sector(stDISK* disk, std::uint32_t sector, const std::uint8_t* data,
                            bool flush);

// Writes the sectors the write window gathered and empties it.
int32_t flush_write_window(stDISK* disk);

// Forgets the read window (its copy may be older than the card).
void empty_read_window(stDISK* disk);

// Grows both window buffers to n_scts_per_clus sectors. Returns 0 or 4.
int32_t fit_windows_to_cluster(stDISK* disk);

}  // namespace lyfs
