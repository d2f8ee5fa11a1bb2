#include "entry/file_entry_cache.h"

#include "core/log.h"
#include "device/sector_io.h"
#include "device/window.h"
#include "lyfs/lyfs.h"
#include "platform/memory.h"

namespace lyfs {

int32_t alloc_file_entry_cache(stFOLDER* folder) {
    folder->file_entry_cache = static_cast<std::uint8_t*>(platform::allocate_zeroed(kSectorBytes));
    folder->fe_cache_sector = kNoSector;
    if (folder->file_entry_cache == nullptr) {
        log_error("[ERROR]alloc_file_entry_cache, malloc for file_entry_cache failed\n");
        return LYFS_ERR_NO_MEMORY;
    }
    return LYFS_OK;
}

void free_file_entry_cache(stFOLDER* folder) {
    platform::release(folder->file_entry_cache);
    folder->fe_cache_sector = kNoSector;
}

int32_t read_file_entry_sector(stPARTITION* part, stFOLDER* folder, std::uint32_t sector) {
    int32_t status = read_sectors(part->p_disk->h_disk, folder->file_entry_cache, sector, 1);
    if (status != LYFS_OK) {
        log_error("[ERROR]read_file_entry_sector, read_sectors failed, sector:%d\n", sector);
    }
    return status;
}

int32_t write_file_entry_sector(stPARTITION* part, stFOLDER* folder, std::uint32_t sector) {
    int32_t status = write_sectors(part->p_disk->h_disk, folder->file_entry_cache, sector, 1);
    if (status != LYFS_OK) {
        log_error("[ERROR]write_file_entry_sector, write_sectors failed, sector:%d\n", sector);
    }
    return status;
}

int32_t read_file_entry_sector_cache(stPARTITION* part, stFOLDER* folder, std::uint32_t sector) {
    stDISK* disk = part->p_disk;
    int32_t status = read_window_sector(disk, sector, folder->file_entry_cache);
    if (status != LYFS_OK) {
        log_error("[ERROR]read_file_entry_sector_cache, read_sectors failed, sector:%d\n", sector);
    }
    return status;
}

int32_t write_file_entry_sector_cache(stPARTITION* part, stFOLDER* folder, std::uint32_t sector,
                                      bool flush) {
    stDISK* disk = part->p_disk;
    const std::uint32_t window = disk->wr_window_start;
    int32_t status = write_window_sector(disk, sector, folder->file_entry_cache, flush);
    if (status != LYFS_OK) {
        log_error("[ERROR]write_file_entry_sector_cache, write_sectors failed, sector:%d\n",
                  window);
    }
    return status;
}

}  // namespace lyfs
