// The format export: checks the request before anything is written.
#include <cstring>

#include "core/log.h"
#include "device/disk.h"
#include "device/sector_io.h"
#include "entry/file_object.h"
#include "folder/dir_clusters_record.h"
#include "layout/dir_entry_codec.h"
#include "layout/layout.h"
#include "platform/memory.h"
#include "prepare/format.h"

namespace lyfs {
namespace {

constexpr std::uint32_t kAllPercent = 100;

// A slot that formatting may write: in use, inside the device, and not over
// the partition table (a card without a table starts its one slot at 0).
int32_t check_slot(const stDISK* disk, const PartEntry& slot) {
    const std::uint64_t end = static_cast<std::uint64_t>(slot.first_sector) + slot.sector_count;
    const bool over_table = slot.first_sector == 0 && disk->no_mbr == 0;
    const Geometry g = compute_geometry(slot.sector_count, disk->n_scts_per_clus);
    if (slot.type == 0 || slot.sector_count == 0 || over_table || end > disk->total_sectors ||
        g.cluster_count < 2) {
        log_error("[ERROR]CL_LyFS_Format, unusable slot, type:0x%x, first_sector:%d, sectors:%d\n",
                  slot.type, slot.first_sector, slot.sector_count);
        return LYFS_ERR_BAD_SLOT;
    }
    return LYFS_OK;
}

int32_t check_folder_names(const lyfs_folder_table* table) {
    for (std::uint32_t k = 0; k < table->count; ++k) {
        const char* name = table->folders[k].name;
        const std::size_t length = strnlen(name, sizeof table->folders[k].name);
        if (length == 0) {
            log_error("[ERROR]CL_LyFS_Format, empty folder name, index:%d\n", k);
            return LYFS_ERR_EMPTY_FOLDER_NAME;
        }
        if (length > kMaxFolderNameLength) {
            log_error("[ERROR]CL_LyFS_Format, folder name longer than 8 characters, index:%d\n", k);
            return LYFS_ERR_BAD_ARGUMENT;
        }
        // Readers take an entry with this attribute for a long-name group and
        // skip it, so the folder and those behind it would never be found.
        if (table->folders[k].fold_type == kAttrLongName) {
            log_error("[ERROR]CL_LyFS_Format, folder type 0x0F marks a long name, index:%d\n", k);
            return LYFS_ERR_BAD_ARGUMENT;
        }
    }
    return LYFS_OK;
}

int32_t check_folder_regions(const lyfs_folder_table* table, const Geometry& g,
                             std::uint32_t sects_per_clus) {
    std::uint64_t shares = 0;
    for (std::uint32_t k = 0; k + 1 < table->count; ++k) {
        const std::uint64_t share = table->folders[k].share_percent;
        shares += share > kAllPercent ? kAllPercent + 1 : share;
    }
    if (shares > kAllPercent) {
        log_error("[ERROR]CL_LyFS_Format, folder shares above 100 percent\n");
        return LYFS_ERR_BAD_ARGUMENT;
    }
    std::uint32_t regions[kMaxFolders] = {};
    plan_folder_regions(table, g.cluster_count, regions);
    // The FAT describes clusters below 128 F; a file-entry area must lie there.
    const std::uint64_t described =
        static_cast<std::uint64_t>(g.fat_sectors) * kFatEntriesPerSector;
    std::uint64_t first = kRootCluster + 1;
    for (std::uint32_t k = 0; k < table->count; ++k) {
        const std::uint32_t fe =
            file_entry_clusters(table->folders[k].max_file_num, sects_per_clus);
        // Ring indexes are 32 bits with 0xFFFFFFFF for none: an area of more
        // records would count 0 slots, and its folder could take no file.
        const std::uint64_t records =
            static_cast<std::uint64_t>(fe) * sects_per_clus * (kSectorBytes / kFileEntryBytes);
        if (records >= 0xFFFFFFFFull) {
            log_error("[ERROR]CL_LyFS_Format, folder %d asks for more files than a ring counts\n",
                      k);
            return LYFS_ERR_BAD_ARGUMENT;
        }
        if (regions[k] <= fe || first + fe > described) {
            log_error(
                "[ERROR]CL_LyFS_Format, region of folder %d (%d clusters) does not exceed "
                "its file-entry area (%d clusters)\n",
                k, regions[k], fe);
            return LYFS_ERR_BAD_ARGUMENT;
        }
        first += regions[k];
    }
    return LYFS_OK;
}

int32_t check_folder_table(const lyfs_folder_table* table, const Geometry& g,
                           std::uint32_t sects_per_clus) {
    if (table == nullptr || table->count == 0 || table->count > kMaxFolders) {
        log_error("[ERROR]CL_LyFS_Format, invalid folder count:%d\n",
                  table != nullptr ? table->count : 0);
        return LYFS_ERR_BAD_ARGUMENT;
    }
    int32_t status = check_folder_names(table);
    return status != LYFS_OK ? status : check_folder_regions(table, g, sects_per_clus);
}

int32_t format_folders(stDISK* disk, stPARTITION* part, const lyfs_folder_table* table) {
    auto* p_dir_clusters = static_cast<std::uint32_t*>(
        platform::allocate_zeroed(sizeof(std::uint32_t) * table->count));
    if (p_dir_clusters == nullptr) {
        log_error("[ERROR]CL_LyFS_Format, malloc for p_dir_clusters failed\n");
        return LYFS_ERR_NO_MEMORY;
    }
    int32_t status = create_root_folder(disk, part, table, p_dir_clusters);
    if (status != LYFS_OK) {
        log_error("[ERROR]CL_LyFS_Format, make_root_dir failed\n");
    } else {
        status = backup_dir_clusters_count(disk, part, p_dir_clusters, table);
        if (status != LYFS_OK) {
            log_error("[ERROR]CL_LyFS_Format, backup_dir_clusters_count failed\n");
        }
    }
    platform::release(p_dir_clusters);
    release_folder_objects(part);
    return status;
}

}  // namespace

}  // namespace lyfs

using namespace lyfs;

extern "C" {

LYFS_API int32_t CL_LyFS_Format(const char* master_dev, const char* sub_dev, int32_t slot_selector,
                                int32_t type, const lyfs_folder_table* folder_table) {
    log_debug("+CL_LyFS_Format, master_dev:%s, sub_dev:%s, type:0x%x\n",
              master_dev != nullptr ? master_dev : "", sub_dev != nullptr ? sub_dev : "", type);
    if (type == 1) {
        log_error("[ERROR]CL_LyFS_Format, doesn't support low level format\n");
        return LYFS_ERR_NO_DEVICE_HANDLE;
    }
    stDISK* disk = find_disk(master_dev);
    if (disk == nullptr) {
        log_error("[ERROR]CL_LyFS_Format, doesn't find device name\n");
        return LYFS_ERR_NO_DISK;
    }
    if (int32_t status = refuse_if_read_only(disk, "CL_LyFS_Format"); status != LYFS_OK) {
        return status;
    }
    const DiskEditLock lock(disk, "CL_LyFS_Format");
    if (lock.status() != LYFS_OK) {
        return lock.status();
    }
    const PartEntry slot = disk->part_entry[slot_selector == 2 ? 1 : 0];
    int32_t status = check_slot(disk, slot);
    if (status != LYFS_OK) {
        return status;
    }
    const Geometry g = compute_geometry(slot.sector_count, disk->n_scts_per_clus);
    status = check_folder_table(folder_table, g, disk->n_scts_per_clus);
    if (status != LYFS_OK) {
        return status;
    }
    stPARTITION part{};
    part.p_disk = disk;
    status = format_partition(disk, slot, &part);
    if (status != LYFS_OK) {
        log_error("[ERROR]CL_LyFS_Format, format_partition failed\n");
        return status;
    }
    status = format_folders(disk, &part, folder_table);
    if (status != LYFS_OK) {
        return status;
    }
    // The new volume is on the card only once it is durable.
    status = flush_device(disk->h_disk);
    if (status != LYFS_OK) {
        log_error("[ERROR]CL_LyFS_Format, flush_device failed\n");
    }
    return status;
}

}  // extern "C"
