#include "entry/folder_scan.h"

#include <algorithm>
#include <cstring>

#include "core/log.h"
#include "device/sector_io.h"
#include "device/window.h"
#include "entry/file_entry.h"
#include "entry/file_entry_cache.h"
#include "entry/file_object.h"
#include "entry/ring.h"
#include "layout/codec.h"
#include "lyfs/lyfs.h"
#include "platform/memory.h"

namespace lyfs {
namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFF;

int32_t create_folder_locks(stFOLDER* folder) {
    for (platform::Mutex** lock :
         {&folder->h_fe_mutex, &folder->h_space_mutex, &folder->h_file_list_mutex}) {
        *lock = platform::create_mutex();
        if (*lock == nullptr) {
            log_error("[ERROR]setup_folder_file_list, CreateMutex failed\n");
            return LYFS_ERR_NO_MEMORY;
        }
    }
    return LYFS_OK;
}

// Starts the scan with nothing reused from before it.
int32_t fresh_windows(stPARTITION* part) {
    empty_read_window(part->p_disk);
    return flush_write_window(part->p_disk);
}

// The file-entry area in memory for the scan, as much of it as fits: an
// area of up to kAreaCopyBytes is read from the card once and serves both
// passes; a larger one is read a stretch at a time. Requests are of one
// cluster, as for the read window.
constexpr std::uint64_t kAreaCopyBytes = 16u << 20;

struct AreaCopy {
    std::uint8_t* bytes = nullptr;
    std::uint32_t capacity = 0;    // sectors the buffer holds
    std::uint32_t first = 0;       // first area sector held
    std::uint32_t count = 0;       // sectors held
    std::uint32_t last_index = 0;  // the slot looked at last
    bool changed = false;          // a record was erased on the card since it was read
};

int32_t alloc_area_copy(const stPARTITION* part, const stFOLDER* folder, AreaCopy* copy) {
    const std::uint64_t sectors =
        static_cast<std::uint64_t>(folder->n_fe_clusters) * part->n_scts_per_clus;
    copy->capacity =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors, kAreaCopyBytes / kSectorBytes));
    if (copy->capacity == 0) {
        return LYFS_OK;
    }
    copy->bytes = static_cast<std::uint8_t*>(
        platform::allocate_zeroed(static_cast<std::size_t>(copy->capacity) * kSectorBytes));
    if (copy->bytes == nullptr) {
        log_error("[ERROR]setup_folder_file_list, malloc for the file entry area failed\n");
        return LYFS_ERR_NO_MEMORY;
    }
    return LYFS_OK;
}

// Reads the stretch of the area that starts at area sector `first`.
int32_t fill_area_copy(stPARTITION* part, const stFOLDER* folder, AreaCopy* copy,
                       std::uint32_t first) {
    const std::uint32_t area_sectors = folder->n_fe_clusters * part->n_scts_per_clus;
    const std::uint32_t count = std::min(copy->capacity, area_sectors - first);
    const std::uint32_t base = file_entry_sector(part, folder, 0);
    copy->count = 0;
    for (std::uint32_t done = 0; done < count; done += part->n_scts_per_clus) {
        const std::uint32_t sector = device_sector(part, base + first + done);
        if (int32_t status = read_sectors(part->p_disk->h_disk, copy->bytes + done * kSectorBytes,
                                          sector, std::min(part->n_scts_per_clus, count - done));
            status != LYFS_OK) {
            log_error("[ERROR]read_file_entry_sector_cache, read_sectors failed, sector:%d\n",
                      sector);
            log_error("[ERROR]setup_folder_file_list, read_file_entry_sector failed, sector:%d\n",
                      base + first + done);
            return status;
        }
    }
    copy->first = first;
    copy->count = count;
    return LYFS_OK;
}

// The record of slot `index`, read from the card if the copy lacks it.
int32_t scanned_record(stPARTITION* part, const stFOLDER* folder, AreaCopy* copy,
                       std::uint32_t index, const std::uint8_t** record) {
    const std::uint32_t sector = index / folder->file_entries_per_sct;
    if (sector - copy->first >= copy->count) {
        if (int32_t status = fill_area_copy(part, folder, copy, sector); status != LYFS_OK) {
            return status;
        }
    }
    *record =
        copy->bytes + (sector - copy->first) * kSectorBytes + file_entry_offset(folder, index);
    copy->last_index = index;
    return LYFS_OK;
}

// Leaves the folder's record cache holding the sector the scan looked at
// last, as a scan through that cache would, so that the first record
// written after the mount near the ring's tail needs no read.
void keep_last_sector(stPARTITION* part, stFOLDER* folder, const AreaCopy& copy) {
    if (copy.changed || copy.count == 0) {
        return;  // the erasing went through the cache, which holds what the card holds
    }
    const std::uint32_t sector = copy.last_index / folder->file_entries_per_sct;
    std::memcpy(folder->file_entry_cache, copy.bytes + (sector - copy.first) * kSectorBytes,
                kSectorBytes);
    folder->fe_cache_sector = file_entry_sector(part, folder, copy.last_index);
}

struct DecodedEntry {
    char name[kFileNameBytes];
    std::uint32_t start_cluster;
    std::uint32_t size;
};

// A record in use that cannot be decoded costs that record alone: it keeps
// its place in the ring, so header and tail are found as for a file, but it
// is not listed and stays on the card as it is. The reclaim erases it once
// it reaches the ring's header.
void note_unreadable(stFOLDER* folder, std::uint32_t index) {
    log_error("[ERROR]setup_folder_file_list, invalid file entry\n");
    log_info("[INFO]setup_folder_file_list, entry left as it is, not listed, folder:%s, index:%d\n",
             folder->fold_name, index);
    ++folder->n_bad_entries;
}

int32_t find_ring(stPARTITION* part, stFOLDER* folder, AreaCopy* copy) {
    RingSearch search;
    for (std::uint32_t i = 0; i < folder->fe_totals; ++i) {
        const std::uint8_t* record = nullptr;
        if (int32_t status = scanned_record(part, folder, copy, i, &record); status != LYFS_OK) {
            return status;
        }
        const bool used = file_entry_in_use(record);
        if (used && !file_entry_decodes(record)) {
            note_unreadable(folder, i);
        }
        update_file_entry_ring(folder, &search, i, used);
    }
    return LYFS_OK;
}

// Lists the file of one slot and charges its size; a file that does not fit
// in what is left is deleted where it stands.
int32_t list_slot(stPARTITION* part, stFOLDER* folder, std::uint32_t index,
                  const std::uint8_t* record, AreaCopy* copy, DeleteListedFile delete_misfit) {
    if (!file_entry_in_use(record) || !file_entry_decodes(record)) {
        return LYFS_OK;
    }
    DecodedEntry entry;
    std::uint8_t attribute = 0;
    if (extract_file_entry(record, entry.name, &attribute, &entry.start_cluster, &entry.size) !=
        LYFS_OK) {
        return LYFS_FAIL;
    }
    if (entry.size == 0) {
        log_info(
            "[INFO]setup_folder_file_list, find not committed file, start_cluster_no:%d, "
            "just skip it, %s\n",
            entry.start_cluster, entry.name);
    }
    stFILE* file = create_file_object(folder, entry.name, entry.start_cluster, index, record);
    if (file == nullptr) {
        log_error("[ERROR]setup_folder_file_list, create_file_object failed\n");
        return LYFS_ERR_NO_MEMORY;
    }
    const std::uint64_t cluster_bytes = part->bytes_per_clus;
    const std::uint64_t need = (entry.size + cluster_bytes - 1) / cluster_bytes * cluster_bytes;
    if (folder->free_space >= need) {
        folder->free_space -= need;
    } else {
        int32_t status = delete_misfit(part, folder, file);
        // Only this slot's record changes on the card, and it is not looked
        // at again: the area copy stays good for the others.
        copy->changed = true;
        if (status != LYFS_OK) {
            log_error("[ERROR]setup_folder_file_list, delete_file failed\n");
            return status;
        }
        // The deletion wrote past the read window's copy.
        empty_read_window(part->p_disk);
    }
    log_debug("folder:%s, file_name:%s, file_size:%d, cluster file size:%d, free_space:%llu\n",
              folder->fold_name, entry.name, entry.size, static_cast<std::uint32_t>(need),
              static_cast<unsigned long long>(folder->free_space));
    return LYFS_OK;
}

int32_t list_files(stPARTITION* part, stFOLDER* folder, AreaCopy* copy,
                   DeleteListedFile delete_misfit) {
    const std::uint32_t header = folder->fe_hdr_index;
    const std::uint32_t count = folder->fe_valid_entries;
    std::uint32_t slot = header;
    for (std::uint32_t n = 0; n < count; ++n, slot = next_ring_slot(folder, slot)) {
        const std::uint8_t* record = nullptr;
        if (int32_t status = scanned_record(part, folder, copy, slot, &record); status != LYFS_OK) {
            return status;
        }
        if (int32_t status = list_slot(part, folder, slot, record, copy, delete_misfit);
            status != LYFS_OK) {
            return status;
        }
    }
    return LYFS_OK;
}

int32_t scan_folder(stPARTITION* part, stFOLDER* folder, AreaCopy* copy,
                    DeleteListedFile delete_misfit) {
    if (int32_t status = create_folder_locks(folder); status != LYFS_OK) {
        return status;
    }
    set_folder_layout(folder, part->n_scts_per_clus);
    folder->free_space = folder->total_space;
    folder->fe_hdr_index = kNone;
    folder->fe_tail_index = kNone;
    folder->fe_valid_entries = 0;
    folder->n_bad_entries = 0;
    folder->fc_cursor = kNone;
    if (int32_t status = alloc_area_copy(part, folder, copy); status != LYFS_OK) {
        return status;
    }
    if (int32_t status = fresh_windows(part); status != LYFS_OK) {
        return status;
    }
    if (int32_t status = find_ring(part, folder, copy); status != LYFS_OK) {
        return status;
    }
    log_debug("setup_folder_file_list, fold:%s, hdr:%d, tail:%d, count:%d, totals:%d\n",
              folder->fold_name, folder->fe_hdr_index, folder->fe_tail_index,
              folder->fe_valid_entries, folder->fe_totals);
    log_info("[RVFS]SETUP, fold:%s, hdr:%d, tail:%d, count:%d, totals:%d\n", folder->fold_name,
             folder->fe_hdr_index, folder->fe_tail_index, folder->fe_valid_entries,
             folder->fe_totals);
    if (folder->n_bad_entries != 0) {
        log_info("[RVFS]SETUP, Folder:%s, unreadable entries:%d\n", folder->fold_name,
                 folder->n_bad_entries);
    }
    if (folder->fe_valid_entries == 0) {
        log_info("[INFO]setup_folder_file_list, no file found\n");
    } else if (int32_t status = list_files(part, folder, copy, delete_misfit); status != LYFS_OK) {
        return status;
    }
    keep_last_sector(part, folder, *copy);
    return LYFS_OK;
}

}  // namespace

void update_file_entry_ring(stFOLDER* folder, RingSearch* s, std::uint32_t index, bool used) {
    if (index == 0) {
        *s = RingSearch{};
    }
    if (used) {
        if (s->first_free == kNone) {
            s->run_from_zero = true;
        }
        if (s->header == kNone) {
            s->header = index;
        }
    } else if (s->first_free == kNone) {
        s->first_free = index;
    }
    if (s->run_from_zero) {
        if (used && s->first_free == kNone) {
            s->tail = index;
        } else if (used && !s->second_run) {
            s->second_run = true;
            s->header = index;
        }
    } else if (used) {
        s->tail = index;
    } else if (s->header != kNone && !s->second_run) {
        s->second_run = true;
        s->first_free = index;
    }
    folder->fe_hdr_index = s->header;
    folder->fe_tail_index = s->tail;
    folder->fe_valid_entries = s->header == kNone || s->tail == kNone
                                   ? 0
                                   : get_file_entry_count(s->header, s->tail, folder->fe_totals);
}

int32_t setup_folder_file_list(stPARTITION* part, stFOLDER* folder,
                               DeleteListedFile delete_misfit) {
    log_debug("+setup_folder_file_list, fold_name:%s\n", folder->fold_name);
    if (alloc_file_entry_cache(folder) != LYFS_OK) {
        log_error(
            "[ERROR]setup_folder_file_list, alloc_file_entry_cache for file_entry_cache "
            "failed\n");
        return LYFS_ERR_NO_MEMORY;
    }
    AreaCopy copy;
    const int32_t status = scan_folder(part, folder, &copy, delete_misfit);
    platform::release(copy.bytes);
    if (status != LYFS_OK) {
        free_file_object_list(folder);
        free_file_entry_cache(folder);
    }
    log_info("[RVFS]SETUP, Folder:%s, n_free_space:%llu\n", folder->fold_name,
             static_cast<unsigned long long>(folder->free_space));
    return status;
}

}  // namespace lyfs
