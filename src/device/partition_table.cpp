#include "device/partition_table.h"

#include "core/log.h"
#include "device/sector_io.h"
#include "device/window.h"
#include "layout/codec.h"
#include "layout/layout.h"
#include "lyfs/lyfs.h"

namespace lyfs {
namespace {

void read_superfloppy(stDISK* disk, const std::uint8_t* sector) {
    disk->no_mbr = 1;
    disk->part_bpb[0] = decode_bpb(sector);
    const BpbRecord& bpb = disk->part_bpb[0];
    if (bpb.media < boot::kLowestValidMedia) {
        log_error("[ERROR]initialize_partition_entry, invalid media:0x%x\n", bpb.media);
    }
    PartEntry entry{};
    entry.type = kTypeFat32;
    entry.first_sector = 0;
    entry.sector_count = bpb.total_sectors_16 != 0 ? bpb.total_sectors_16 : bpb.total_sectors_32;
    disk->part_entry[0] = entry;
    disk->part_count = 1;
}

}  // namespace

int32_t initialize_partition_entry(stDISK* disk) {
    log_debug("+initialize_partition_entry, h_disk:0x%x\n", disk->handle);
    std::uint8_t* sector = disk->sector_buff;
    if (read_sectors(disk->h_disk, sector, 0, 1) != LYFS_OK) {
        log_error("[ERROR]initialize_disk_partition_entry, read_sectors failed\n");
        return LYFS_ERR_READ;
    }
    disk->no_mbr = 0;
    if (!has_boot_signature(sector)) {
        return LYFS_OK;
    }
    if (is_superfloppy_boot_sector(sector)) {
        read_superfloppy(disk, sector);
    } else {
        disk->n_scts_per_clus = get_u32(sector + mbr::kSectsPerClusOffset) == kLargeSectsPerClus
                                    ? kLargeSectsPerClus
                                    : kDefaultSectsPerClus;
        log_info("[RVFS]initialize_disk_partition_entry, n_scts_per_clus:%d\n",
                 disk->n_scts_per_clus);
        // Size the windows for this card's clusters before anything fills them.
        int32_t status = fit_windows_to_cluster(disk);
        if (status != LYFS_OK) {
            return status;
        }
        std::uint32_t end = 0;
        for (int slot = 0; slot < mbr::kSlotCount; ++slot) {
            disk->part_entry[slot] = decode_part_entry(sector, slot);
            const PartEntry& entry = disk->part_entry[slot];
            if (entry.type == 0) {
                continue;
            }
            ++disk->part_count;
            end = slot == 0 ? entry.first_sector + entry.sector_count : end + entry.sector_count;
        }
        if (!table_end_matches_device(end, disk->total_sectors)) {
            return LYFS_OK;
        }
        // The slots' copies stay as read while the boot sectors pass through
        // the same buffer.
        for (int slot = 0; slot < disk->part_count; ++slot) {
            const std::uint32_t boot_sector = disk->part_entry[slot].first_sector;
            if (read_sectors(disk->h_disk, sector, boot_sector, 1) != LYFS_OK) {
                log_error("[ERROR]create_partition_entry, read_sectors failed, sector:%d\n",
                          boot_sector);
                return LYFS_ERR_READ;
            }
            disk->part_bpb[slot] = decode_bpb(sector);
        }
    }
    log_info("[RVFS]geom_total_sectors:%d, part_total_sectors:%d\n", disk->geom_total_sectors,
             disk->total_sectors);
    return LYFS_OK;
}

}  // namespace lyfs
