#include "device/window.h"

#include <cstring>

#include "core/log.h"
#include "device/sector_io.h"
#include "lyfs/lyfs.h"
#include "platform/memory.h"

namespace lyfs {

int32_t fit_windows_to_cluster(stDISK* disk) {
    if (disk->n_window_scts >= disk->n_scts_per_clus && disk->rd_buff != nullptr &&
        disk->wr_buff != nullptr) {
        return LYFS_OK;
    }
    const std::size_t bytes = static_cast<std::size_t>(disk->n_scts_per_clus) * kSectorBytes;
    auto* rd = static_cast<std::uint8_t*>(platform::allocate_zeroed(bytes));
    auto* wr = static_cast<std::uint8_t*>(platform::allocate_zeroed(bytes));
    if (rd == nullptr || wr == nullptr) {
        platform::release_memory(rd);
        platform::release_memory(wr);
        log_error("[ERROR]fit_windows_to_cluster, malloc for windows failed, n_scts_per_clus:%d\n",
                  disk->n_scts_per_clus);
        return LYFS_ERR_NO_MEMORY;
    }
    // A write window still gathering keeps its sectors in the new buffer.
    if (disk->wr_window_count != 0 && disk->wr_buff != nullptr) {
        std::memcpy(wr, disk->wr_buff,
                    static_cast<std::size_t>(disk->wr_window_count) * kSectorBytes);
    }
    platform::release(disk->rd_buff);
    platform::release(disk->wr_buff);
    disk->rd_buff = rd;
    disk->wr_buff = wr;
    disk->rd_window_start = 0;
    disk->n_window_scts = disk->n_scts_per_clus;
    return LYFS_OK;
}

int32_t read_window_sector(stDISK* disk, std::uint32_t sector, std::uint8_t* out) {
    const std::uint32_t span = disk->n_scts_per_clus;
    const bool held = disk->rd_window_start != 0 && sector >= disk->rd_window_start &&
                      sector - disk->rd_window_start < span;
    if (!held) {
        int32_t status = fit_windows_to_cluster(disk);
        if (status != LYFS_OK) {
            return status;
        }
        disk->rd_window_start = 0;
        status = read_sectors(disk->h_disk, disk->rd_buff, sector, span);
        if (status != LYFS_OK) {
            return status;
        }
        disk->rd_window_start = sector;
    }
    std::memcpy(out, disk->rd_buff + (sector - disk->rd_window_start) * kSectorBytes, kSectorBytes);
    return LYFS_OK;
}

int32_t flush_write_window(stDISK* disk) {
    if (disk->wr_window_start != 0 && disk->wr_window_count != 0) {
        // Only the sectors that were put are written: the rest of the buffer
        // holds nothing of this window.
        int32_t status = write_sectors(disk->h_disk, disk->wr_buff, disk->wr_window_start,
                                       disk->wr_window_count);
        if (status != LYFS_OK) {
            return status;
        }
    }
    disk->wr_window_start = 0;
    disk->wr_window_count = 0;
    return LYFS_OK;
}

int32_t write_window_sector(stDISK* disk, std::uint32_t sector, const std::uint8_t* data,
                            bool flush) {
    const std::uint32_t span = disk->n_scts_per_clus;
    // Only the next sector or one already gathered joins the window, so the
    // window never holds a gap of stale bytes.
    const bool inside = disk->wr_window_start != 0 && sector >= disk->wr_window_start &&
                        sector - disk->wr_window_start < span &&
                        sector - disk->wr_window_start <= disk->wr_window_count;
    if (inside && !flush) {
        const std::uint32_t slot = sector - disk->wr_window_start;
        std::memcpy(disk->wr_buff + slot * kSectorBytes, data, kSectorBytes);
        if (slot + 1 > disk->wr_window_count) {
            disk->wr_window_count = slot + 1;
        }
        return LYFS_OK;
    }
    int32_t status = flush_write_window(disk);
    if (status != LYFS_OK) {
        return status;
    }
    status = fit_windows_to_cluster(disk);
    if (status != LYFS_OK) {
        return status;
    }
    disk->wr_window_start = sector;
    disk->wr_window_count = 1;
    std::memcpy(disk->wr_buff, data, kSectorBytes);
    return LYFS_OK;
}

void empty_read_window(stDISK* disk) {
    disk->rd_window_start = 0;
}

}  // namespace lyfs
