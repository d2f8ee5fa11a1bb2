// Byte transfers between the host and the clusters of an open file. A
// transfer is one device request: a partial head sector, the whole sectors
// straight from or to the host's buffer, and a partial tail sector.
#include <algorithm>
#include <cstring>

#include "api/log.h"
#include "device/sector_io.h"
#include "file/file_io.h"
#include "lyfs/lyfs.h"

namespace lyfs {
namespace {

using SectorBytes = std::uint8_t[kSectorBytes];

// How a transfer of `len` bytes from `at` falls onto sectors.
struct Layout {
    std::uint32_t first_sector;  // of the transfer, relative to the partition
    std::uint32_t file_pos;      // file position of first_sector's first byte
    std::uint32_t head_offset;   // where the head's bytes start in its sector
    std::uint32_t head_bytes;    // 0: the transfer starts on a sector boundary with a whole sector
    std::uint32_t run_bytes;     // whole sectors
    std::uint32_t tail_bytes;    // bytes at the start of the sector behind the run
};

Layout layout_of(const stPARTITION* part, const stOPEN_FILE* node, ClusterPosition at,
                 std::uint32_t len) {
    Layout l{};
    l.first_sector = cluster_first_sector(part, at.cluster) + at.offset / kSectorBytes;
    l.head_offset = at.offset % kSectorBytes;
    l.file_pos = node->file_pos - l.head_offset;
    if (l.head_offset != 0 || len < kSectorBytes) {
        l.head_bytes = std::min(kSectorBytes - l.head_offset, len);
    }
    l.run_bytes = (len - l.head_bytes) / kSectorBytes * kSectorBytes;
    l.tail_bytes = len - l.head_bytes - l.run_bytes;
    return l;
}

std::uint32_t head_sectors(const Layout& l) {
    return l.head_bytes != 0 ? 1 : 0;
}
std::uint32_t tail_sector(const Layout& l) {
    return l.first_sector + head_sectors(l) + l.run_bytes / kSectorBytes;
}
std::uint32_t tail_file_pos(const Layout& l) {
    return l.file_pos + (tail_sector(l) - l.first_sector) * kSectorBytes;
}

void keep_sector(stOPEN_FILE* node, const SectorBytes bytes, std::uint32_t file_pos) {
    std::memcpy(node->sector_copy, bytes, kSectorBytes);
    node->sector_copy_pos = file_pos;
}

// The sector at `file_pos` as the card holds it, where it matters: from the
// node's copy, else read, else (nothing of the file's bytes left in it)
// zeros; then patched with `n` bytes at `offset`.
int32_t patch_sector(stPARTITION* part, const stOPEN_FILE* node, std::uint32_t sector,
                     std::uint32_t file_pos, std::uint32_t offset, const std::uint8_t* src,
                     std::uint32_t n, SectorBytes out) {
    const std::uint32_t size = node->p_file->file_size;
    const bool keeps_file_bytes = (offset > 0 && size > file_pos) || size > file_pos + offset + n;
    if (node->sector_copy_pos == file_pos) {
        std::memcpy(out, node->sector_copy, kSectorBytes);
    } else if (keeps_file_bytes) {
        if (read_sectors(part->p_disk->h_disk, out, device_sector(part, sector), 1) != LYFS_OK) {
            log_error("[ERROR]write_cluster, read_sectors failed, sector:%d\n", sector);
            return LYFS_FAIL;
        }
    } else {
        std::memset(out, 0, kSectorBytes);
    }
    std::memcpy(out + offset, src, n);
    return LYFS_OK;
}

template <typename Part>
struct Request {
    Part parts[platform::kMaxIoParts];
    std::uint32_t count = 0;
    std::uint32_t first_sector = 0;

    template <typename Data>
    void add(std::uint32_t sector, Data* data, std::uint32_t bytes) {
        if (count == 0) {
            first_sector = sector;
        }
        parts[count++] = {data, bytes};
    }
};

}  // namespace

int32_t read_cluster(stPARTITION* part, stOPEN_FILE* node, ClusterPosition at, std::uint8_t* dst,
                     std::uint32_t len, std::uint32_t* moved) {
    *moved = 0;
    const Layout l = layout_of(part, node, at, len);
    SectorBytes head;
    SectorBytes tail;
    Request<platform::IoPart> request;
    const bool head_held = l.head_bytes != 0 && node->sector_copy_pos == l.file_pos;
    const bool tail_held = l.tail_bytes != 0 && node->sector_copy_pos == tail_file_pos(l);
    if (l.head_bytes != 0 && !head_held) {
        request.add(l.first_sector, head, kSectorBytes);
    }
    if (l.run_bytes != 0) {
        request.add(l.first_sector + head_sectors(l), dst + l.head_bytes, l.run_bytes);
    }
    if (l.tail_bytes != 0 && !tail_held) {
        request.add(tail_sector(l), tail, kSectorBytes);
    }
    if (request.count != 0) {
        const int32_t status = read_sector_parts(part->p_disk->h_disk, request.parts, request.count,
                                                 device_sector(part, request.first_sector));
        if (status != LYFS_OK) {
            log_error("[ERROR]read_cluster, read_sectors failed, sector:%d\n",
                      request.first_sector);
            return LYFS_FAIL;
        }
    }
    if (l.head_bytes != 0) {
        std::memcpy(dst, (head_held ? node->sector_copy : head) + l.head_offset, l.head_bytes);
    }
    if (l.tail_bytes != 0) {
        std::memcpy(dst + l.head_bytes + l.run_bytes, tail_held ? node->sector_copy : tail,
                    l.tail_bytes);
    }
    // A reader in pieces continues in the tail's sector.
    if (l.tail_bytes != 0 && !tail_held) {
        keep_sector(node, tail, tail_file_pos(l));
    } else if (l.tail_bytes == 0 && l.head_bytes != 0 && !head_held) {
        keep_sector(node, head, l.file_pos);
    }
    *moved = len;
    return LYFS_OK;
}

int32_t write_cluster(stPARTITION* part, stOPEN_FILE* node, ClusterPosition at,
                      const std::uint8_t* src, std::uint32_t len, std::uint32_t* moved) {
    *moved = 0;
    const Layout l = layout_of(part, node, at, len);
    SectorBytes head;
    SectorBytes tail;
    Request<platform::ConstIoPart> request;
    if (l.head_bytes != 0) {
        if (patch_sector(part, node, l.first_sector, l.file_pos, l.head_offset, src, l.head_bytes,
                         head) != LYFS_OK) {
            return LYFS_FAIL;
        }
        request.add(l.first_sector, head, kSectorBytes);
    }
    if (l.run_bytes != 0) {
        request.add(l.first_sector + head_sectors(l), src + l.head_bytes, l.run_bytes);
    }
    if (l.tail_bytes != 0) {
        if (patch_sector(part, node, tail_sector(l), tail_file_pos(l), 0,
                         src + l.head_bytes + l.run_bytes, l.tail_bytes, tail) != LYFS_OK) {
            return LYFS_FAIL;
        }
        request.add(tail_sector(l), tail, kSectorBytes);
    }
    const int32_t status = write_sector_parts(part->p_disk->h_disk, request.parts, request.count,
                                              device_sector(part, request.first_sector));
    if (status != LYFS_OK) {
        node->sector_copy_pos = kNotPositioned;  // what the card holds now is not known
        log_error("[ERROR]write_cluster, write_sectors failed, sector:%d\n", request.first_sector);
        return LYFS_FAIL;
    }
    // A writer in pieces continues in the tail's sector.
    if (l.tail_bytes != 0) {
        keep_sector(node, tail, tail_file_pos(l));
    } else if (l.head_bytes != 0) {
        keep_sector(node, head, l.file_pos);
    } else if (node->sector_copy_pos - l.file_pos < l.run_bytes) {
        node->sector_copy_pos = kNotPositioned;  // overwritten by the run
    }
    *moved = len;
    return LYFS_OK;
}

}  // namespace lyfs
