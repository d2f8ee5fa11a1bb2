// Byte transfers between the host and the clusters of an open file. A
// transfer is one device request: a partial head sector, the whole sectors
// straight from or to the host's buffer, and a partial tail sector. What a
// write leaves inside a page waits in the node's page copy for the next one.
#include <algorithm>
#include <cstring>

#include "core/log.h"
#include "device/sector_io.h"
#include "file/file_io.h"
#include "lyfs/lyfs.h"

namespace lyfs {
namespace {

using SectorBytes = std::uint8_t[kSectorBytes];

std::uint64_t byte_of(std::uint32_t sector) {
    return std::uint64_t{sector} * kSectorBytes;
}
std::uint32_t sector_of(std::uint64_t byte) {
    return static_cast<std::uint32_t>(byte / kSectorBytes);
}

// The copy's bytes of the sector at `file_pos` (a sector's start), or null.
std::uint8_t* copied_sector(const PageCopy& copy, std::uint32_t file_pos) {
    if (copy.file_pos == kNotPositioned || file_pos < copy.file_pos ||
        file_pos - copy.file_pos >= copy.bytes) {
        return nullptr;
    }
    return copy.data + (file_pos - copy.file_pos);
}

void keep_sector(PageCopy& copy, const SectorBytes bytes, std::uint32_t file_pos,
                 std::uint32_t sector) {
    std::memcpy(copy.data, bytes, kSectorBytes);
    copy.file_pos = file_pos;
    copy.sector = sector;
    copy.bytes = kSectorBytes;
    copy.held = false;
}

void forget_copy(PageCopy& copy) {
    copy.file_pos = kNotPositioned;
    copy.held = false;
}

// How a read of `len` bytes from `at` falls onto sectors.
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

// The sector at `file_pos` (partition sector `sector`) as the card holds it,
// for a write that covers only its bytes [from, to): from the copy, else
// read when the rest holds bytes of the file, else (nothing of the file
// left in it) zeros.
int32_t sector_image(stPARTITION* part, const stOPEN_FILE* node, std::uint32_t sector,
                     std::uint32_t file_pos, std::uint32_t from, std::uint32_t to,
                     std::uint8_t* out) {
    const std::uint32_t size = node->p_file->file_size;
    const bool keeps_file_bytes = (from > 0 && size > file_pos) || size > file_pos + to;
    if (const std::uint8_t* copied = copied_sector(node->page_copy, file_pos)) {
        std::memcpy(out, copied, kSectorBytes);
    } else if (keeps_file_bytes) {
        if (read_sectors(part->p_disk->h_disk, out, device_sector(part, sector), 1) != LYFS_OK) {
            log_error("[ERROR]write_cluster, read_sectors failed, sector:%d\n", sector);
            return LYFS_FAIL;
        }
    } else {
        std::memset(out, 0, kSectorBytes);
    }
    return LYFS_OK;
}

// Whether a write at file position `pos`, partition byte `at`, continues the
// held bytes: it starts inside them or right behind them, at the same place
// of the file.
bool continues_held(const PageCopy& copy, std::uint32_t pos, std::uint64_t at) {
    return copy.held && pos >= copy.file_pos && pos - copy.file_pos <= copy.bytes &&
           byte_of(copy.sector) + (pos - copy.file_pos) == at;
}

// The end of what a write that settles the bytes [start, to) of the
// partition sends to the card now: the last page boundary of the device
// before `to`, or `start` when there is none behind it.
std::uint64_t page_cut(const stPARTITION* part, std::uint32_t page, std::uint64_t start,
                       std::uint64_t to) {
    const std::uint64_t base = byte_of(part->part_start);
    return std::max(base + start, (base + to) / page * page) - base;
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
    PageCopy& copy = node->page_copy;
    SectorBytes head;
    SectorBytes tail;
    Request<platform::IoPart> request;
    const std::uint8_t* head_copy = l.head_bytes != 0 ? copied_sector(copy, l.file_pos) : nullptr;
    const std::uint8_t* tail_copy =
        l.tail_bytes != 0 ? copied_sector(copy, tail_file_pos(l)) : nullptr;
    if (l.head_bytes != 0 && head_copy == nullptr) {
        request.add(l.first_sector, head, kSectorBytes);
    }
    if (l.run_bytes != 0) {
        request.add(l.first_sector + head_sectors(l), dst + l.head_bytes, l.run_bytes);
    }
    if (l.tail_bytes != 0 && tail_copy == nullptr) {
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
        std::memcpy(dst, (head_copy != nullptr ? head_copy : head) + l.head_offset, l.head_bytes);
    }
    if (l.tail_bytes != 0) {
        std::memcpy(dst + l.head_bytes + l.run_bytes, tail_copy != nullptr ? tail_copy : tail,
                    l.tail_bytes);
    }
    // A reader in pieces continues in the tail's sector.
    if (l.tail_bytes != 0 && tail_copy == nullptr) {
        keep_sector(copy, tail, tail_file_pos(l), tail_sector(l));
    } else if (l.tail_bytes == 0 && l.head_bytes != 0 && head_copy == nullptr) {
        keep_sector(copy, head, l.file_pos, l.first_sector);
    }
    *moved = len;
    return LYFS_OK;
}

int32_t write_cluster(stPARTITION* part, stOPEN_FILE* node, ClusterPosition at,
                      const std::uint8_t* src, std::uint32_t len, std::uint32_t* moved) {
    *moved = 0;
    PageCopy& copy = node->page_copy;
    const std::uint32_t pos = node->file_pos;
    const std::uint32_t first_sector =
        cluster_first_sector(part, at.cluster) + at.offset / kSectorBytes;
    const std::uint32_t head_offset = at.offset % kSectorBytes;
    const std::uint64_t from = byte_of(first_sector) + head_offset;
    const std::uint64_t to = from + len;
    const std::uint64_t end = (to + kSectorBytes - 1) / kSectorBytes * kSectorBytes;
    const bool continuing = continues_held(copy, pos, from);
    if (copy.held && !continuing && write_held_bytes(part, node) != LYFS_OK) {
        return LYFS_FAIL;
    }

    // The sectors the write settles start with the held ones it continues,
    // else with its own first sector, whose head the copy then takes over.
    const std::uint64_t start = continuing ? byte_of(copy.sector) : byte_of(first_sector);
    const std::uint64_t kept_end = continuing         ? start + copy.bytes
                                   : head_offset != 0 ? start + kSectorBytes
                                                      : start;
    const std::uint32_t tail_bytes = static_cast<std::uint32_t>(to % kSectorBytes);
    SectorBytes tail;
    if (tail_bytes != 0 && end - kSectorBytes >= kept_end &&
        sector_image(part, node, sector_of(end - kSectorBytes),
                     pos + static_cast<std::uint32_t>(end - kSectorBytes - from), 0, tail_bytes,
                     tail) != LYFS_OK) {
        return LYFS_FAIL;
    }
    if (!continuing) {
        SectorBytes head;
        if (head_offset != 0) {
            if (sector_image(part, node, first_sector, pos - head_offset, head_offset,
                             std::min(head_offset + len, kSectorBytes), head) != LYFS_OK) {
                return LYFS_FAIL;
            }
            std::memcpy(copy.data, head, kSectorBytes);
        }
        copy.file_pos = pos - head_offset;
        copy.sector = first_sector;
        copy.bytes = static_cast<std::uint32_t>(kept_end - start);
        copy.held = false;
    }

    const std::uint64_t cut = page_cut(part, copy.capacity, start, to);
    if (cut == start) {
        // Nothing reaches a page boundary: all of it waits for the next piece.
        if (end - kSectorBytes >= kept_end && tail_bytes != 0) {
            std::memcpy(copy.data + (end - kSectorBytes - start), tail, kSectorBytes);
        }
        std::memcpy(copy.data + (from - start), src, len);
        copy.bytes = std::max(copy.bytes, static_cast<std::uint32_t>(end - start));
        copy.held = true;
        *moved = len;
        return LYFS_OK;
    }

    // To the card now: the copy's sectors before the write's first one, that
    // sector patched, and the whole sectors up to the page boundary.
    const std::uint64_t head_start = from / kSectorBytes * kSectorBytes;
    const std::uint64_t run_start = head_start + (head_offset != 0 ? kSectorBytes : 0);
    SectorBytes head;
    Request<platform::ConstIoPart> request;
    if (head_start > start) {
        request.add(sector_of(start), copy.data, static_cast<std::uint32_t>(head_start - start));
    }
    if (head_offset != 0) {
        std::memcpy(head, copy.data + (head_start - start), kSectorBytes);
        std::memcpy(head + head_offset, src, kSectorBytes - head_offset);
        request.add(sector_of(head_start), head, kSectorBytes);
    }
    if (cut > run_start) {
        request.add(sector_of(run_start), src + (run_start - from),
                    static_cast<std::uint32_t>(cut - run_start));
    }
    const int32_t status = write_sector_parts(part->p_disk->h_disk, request.parts, request.count,
                                              device_sector(part, request.first_sector));
    if (status != LYFS_OK) {
        // Held bytes stay held for the next attempt; a copy of what the card
        // held may no longer be true.
        if (!continuing) {
            forget_copy(copy);
        }
        log_error("[ERROR]write_cluster, write_sectors failed, sector:%d\n", request.first_sector);
        return LYFS_FAIL;
    }
    if (to == cut) {
        forget_copy(copy);
    } else {
        copy.file_pos = pos + static_cast<std::uint32_t>(cut - from);
        copy.sector = sector_of(cut);
        copy.bytes = static_cast<std::uint32_t>(end - cut);
        if (tail_bytes != 0) {
            std::memcpy(copy.data + (end - kSectorBytes - cut), tail, kSectorBytes);
        }
        std::memcpy(copy.data, src + (cut - from), static_cast<std::size_t>(to - cut));
        copy.held = true;
    }
    *moved = len;
    return LYFS_OK;
}

int32_t write_held_bytes(stPARTITION* part, stOPEN_FILE* node) {
    PageCopy& copy = node->page_copy;
    if (!copy.held) {
        return LYFS_OK;
    }
    const int32_t status =
        write_sectors(part->p_disk->h_disk, copy.data, device_sector(part, copy.sector),
                      copy.bytes / kSectorBytes);
    if (status != LYFS_OK) {
        log_error("[ERROR]write_held_bytes, write_sectors failed, sector:%d\n", copy.sector);
        return status;
    }
    copy.held = false;
    return LYFS_OK;
}

}  // namespace lyfs
