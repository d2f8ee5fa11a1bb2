#include "folder/dir_clusters_record.h"

#include "core/log.h"
#include "device/sector_io.h"
#include "layout/codec.h"
#include "layout/layout.h"

namespace lyfs {

int32_t backup_dir_clusters_count(stDISK* disk, stPARTITION* part,
                                  const std::uint32_t* cluster_counts,
                                  const lyfs_folder_table* table) {
    const std::uint32_t sector = device_sector(part, kFsInfoSector);
    std::uint8_t* buffer = disk->sector_buff;
    int32_t status = read_sectors(disk->h_disk, buffer, sector, 1);
    if (status != LYFS_OK) {
        log_error("[ERROR]backup_dir_clusters_count, read_sectors failed\n");
        return status;
    }
    const std::uint32_t n = table->count;
    std::uint8_t* record = buffer + fsinfo::kDirRecordOffset;
    put_u32(record, n);
    for (std::uint32_t k = 0; k < n; ++k) {
        put_u32(record + 4 + 4 * k, cluster_counts[k]);
        put_u32(record + 4 + 4 * (n + k), table->folders[k].max_file_num);
    }
    status = write_sectors(disk->h_disk, buffer, sector, 1);
    if (status != LYFS_OK) {
        log_error("[ERROR]backup_dir_clusters_count, write_sectors failed\n");
    }
    return status;
}

int32_t restore_dir_clusters_count(stDISK* disk, stPARTITION* part, DirClusters* out) {
    std::uint8_t* buffer = disk->sector_buff;
    int32_t status = read_sectors(disk->h_disk, buffer, device_sector(part, kFsInfoSector), 1);
    if (status != LYFS_OK) {
        return status;
    }
    const std::uint8_t* record = buffer + fsinfo::kDirRecordOffset;
    const std::uint32_t n = get_u32(record);
    if (n > kMaxFolders) {
        log_error("[ERROR]restore_dir_clusters_count, invalid dir's cluster count\n");
        return LYFS_ERR_FOLDER_RECORD;
    }
    out->count = n;
    for (std::uint32_t i = 0; i < n; ++i) {
        out->cluster_count[i] = get_u32(record + 4 + 4 * i);
        out->max_file_num[i] = get_u32(record + 4 + 4 * (n + i));
        log_debug("dirs index:%d, cluster_count:%d, max_file_num:%d\n", i, out->cluster_count[i],
                  out->max_file_num[i]);
    }
    return LYFS_OK;
}

}  // namespace lyfs
