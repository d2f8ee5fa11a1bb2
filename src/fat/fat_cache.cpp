#include "fat/fat_cache.h"

#include "core/log.h"
#include "device/sector_io.h"
#include "layout/codec.h"
#include "layout/layout.h"
#include "lyfs/lyfs.h"
#include "platform/memory.h"

namespace lyfs {

int32_t read_fat_entry_sector(stPARTITION* part, std::uint32_t sector) {
    int32_t status = read_sectors(part->p_disk->h_disk, part->fat_cache, sector, 1);
    if (status != LYFS_OK) {
        log_error("[ERROR]read_fat_entry_sector, read_sectors failed, sector:%d\n", sector);
    }
    return status;
}

int32_t write_fat_entry_sector(stPARTITION* part, std::uint32_t sector) {
    int32_t status = write_sectors(part->p_disk->h_disk, part->fat_cache, sector, 1);
    if (status != LYFS_OK) {
        log_error("[ERROR]write_fat_entry_sector, write_sectors failed, sector:%d\n", sector);
    }
    return status;
}

int32_t load_fat_sector(stPARTITION* part, std::uint32_t sector) {
    if (part->fat_cache_sector == sector) {
        return LYFS_OK;
    }
    part->fat_cache_sector = kNoSector;
    int32_t status = read_fat_entry_sector(part, device_sector(part, sector));
    if (status == LYFS_OK) {
        part->fat_cache_sector = sector;
    }
    return status;
}

int32_t store_fat_sector(stPARTITION* part) {
    int32_t status = write_fat_entry_sector(part, device_sector(part, part->fat_cache_sector));
    if (status != LYFS_OK) {
        part->fat_cache_sector = kNoSector;
    }
    return status;
}

std::uint32_t cached_fat_entry(const stPARTITION* part, std::uint32_t index) {
    return get_u32(part->fat_cache + index * kFatEntryBytes);
}

void set_cached_fat_entry(stPARTITION* part, std::uint32_t index, std::uint32_t value) {
    put_u32(part->fat_cache + index * kFatEntryBytes, value);
}

}  // namespace lyfs
