// Byte transfers inside one cluster.
#include <algorithm>
#include <cstring>

#include "api/log.h"
#include "device/sector_io.h"
#include "file/file_io.h"
#include "lyfs/lyfs.h"

namespace lyfs {
namespace {

struct Transfer {
    stPARTITION* part;
    std::uint32_t first_sector;  // the cluster's, relative to the partition
};

int32_t read_partial(const Transfer& t, std::uint32_t sector, std::uint32_t offset,
                     std::uint8_t* dst, std::uint32_t n) {
    platform::MutexGuard guard(t.part->h_cluster_io_mutex);
    stDISK* disk = t.part->p_disk;
    if (read_sectors(disk->h_disk, disk->sector_buff, device_sector(t.part, sector), 1) !=
        LYFS_OK) {
        log_error("[ERROR]read_cluster, read_sectors failed, sector:%d\n", sector);
        return LYFS_FAIL;
    }
    std::memcpy(dst, disk->sector_buff + offset, n);
    return LYFS_OK;
}

// Read, patch and write back one sector.
int32_t write_partial(const Transfer& t, std::uint32_t sector, std::uint32_t offset,
                      const std::uint8_t* src, std::uint32_t n) {
    platform::MutexGuard guard(t.part->h_cluster_io_mutex);
    stDISK* disk = t.part->p_disk;
    const std::uint32_t absolute = device_sector(t.part, sector);
    if (read_sectors(disk->h_disk, disk->sector_buff, absolute, 1) != LYFS_OK) {
        log_error("[ERROR]write_cluster, read_sectors failed, sector:%d\n", sector);
        return LYFS_FAIL;
    }
    std::memcpy(disk->sector_buff + offset, src, n);
    if (write_sectors(disk->h_disk, disk->sector_buff, absolute, 1) != LYFS_OK) {
        log_error("[ERROR]write_cluster, write_sectors failed, sector:%d\n", sector);
        return LYFS_FAIL;
    }
    return LYFS_OK;
}

// Splits a request into an unaligned head, whole sectors and a tail.
template <typename Partial, typename Whole>
int32_t transfer(stPARTITION* part, ClusterPosition at, std::uint32_t len, std::uint32_t* moved,
                 Partial partial, Whole whole) {
    *moved = 0;
    const Transfer t{part, cluster_first_sector(part, at.cluster)};
    std::uint32_t pos = at.offset;
    while (*moved < len) {
        const std::uint32_t sector = t.first_sector + pos / kSectorBytes;
        const std::uint32_t offset = pos % kSectorBytes;
        const std::uint32_t remaining = len - *moved;
        std::uint32_t n = 0;
        if (offset != 0 || remaining < kSectorBytes) {
            n = std::min(kSectorBytes - offset, remaining);
            if (partial(t, sector, offset, *moved, n) != LYFS_OK) {
                return LYFS_FAIL;
            }
        } else {
            n = remaining / kSectorBytes * kSectorBytes;
            if (whole(t, sector, *moved, n) != LYFS_OK) {
                return LYFS_FAIL;
            }
        }
        pos += n;
        *moved += n;
    }
    return LYFS_OK;
}

}  // namespace

int32_t read_cluster(stPARTITION* part, ClusterPosition at, std::uint8_t* dst, std::uint32_t len,
                     std::uint32_t* moved) {
    return transfer(
        part, at, len, moved,
        [&](const Transfer& t, std::uint32_t sector, std::uint32_t offset, std::uint32_t done,
            std::uint32_t n) { return read_partial(t, sector, offset, dst + done, n); },
        [&](const Transfer& t, std::uint32_t sector, std::uint32_t done, std::uint32_t n) {
            if (read_sectors(part->p_disk->h_disk, dst + done, device_sector(t.part, sector),
                             n / kSectorBytes) != LYFS_OK) {
                log_error("[ERROR]read_cluster, read_sectors failed, sector:%d\n", sector);
                return LYFS_FAIL;
            }
            return LYFS_OK;
        });
}

int32_t write_cluster(stPARTITION* part, ClusterPosition at, const std::uint8_t* src,
                      std::uint32_t len, std::uint32_t* moved) {
    return transfer(
        part, at, len, moved,
        [&](const Transfer& t, std::uint32_t sector, std::uint32_t offset, std::uint32_t done,
            std::uint32_t n) { return write_partial(t, sector, offset, src + done, n); },
        [&](const Transfer& t, std::uint32_t sector, std::uint32_t done, std::uint32_t n) {
            if (write_sectors(part->p_disk->h_disk, src + done, device_sector(t.part, sector),
                              n / kSectorBytes) != LYFS_OK) {
                log_error("[ERROR]write_cluster, write_sectors failed, sector:%d\n", sector);
                return LYFS_FAIL;
            }
            return LYFS_OK;
        });
}

}  // namespace lyfs
