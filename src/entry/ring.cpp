#include "entry/ring.h"

#include <cstring>

#include "core/log.h"
#include "entry/file_entry_cache.h"
#include "lyfs/lyfs.h"

namespace lyfs {
namespace {

void make_ring_empty(stFOLDER* folder) {
    folder->fe_hdr_index = kNoSector;
    folder->fe_tail_index = kNoSector;
    folder->fe_valid_entries = 0;
}

// The first slot after `index` that holds a file, looking no further than
// the tail. The tail itself always counts: it may be a slot a creation has
// reserved and not written yet. Returns the tail when nothing before it
// holds a file.
std::uint32_t next_live_slot(stPARTITION* part, stFOLDER* folder, std::uint32_t index) {
    for (std::uint32_t slot = next_ring_slot(folder, index); slot != folder->fe_tail_index;
         slot = next_ring_slot(folder, slot)) {
        if (load_file_entry_sector(part, folder, slot) != LYFS_OK) {
            // Unreadable: take the next slot as the header, which the scan
            // at the next mount corrects if it is a hole.
            return next_ring_slot(folder, index);
        }
        if (file_entry_in_use(cached_file_entry(folder, slot))) {
            return slot;
        }
    }
    return folder->fe_tail_index;
}

// Moves the header past the erased slot `index`. The caller holds h_fe_mutex.
void advance_header(stPARTITION* part, stFOLDER* folder, std::uint32_t index) {
    if (folder->fe_valid_entries == 0) {
        log_error("[ERROR]delete_file_entry, fe_valid_entries is zero\n");
        make_ring_empty(folder);
    } else if (folder->fe_valid_entries == 1 || index == folder->fe_tail_index) {
        make_ring_empty(folder);
    } else {
        // Holes behind a deleted header are skipped, so the next
        // deletion finds the oldest file at the header.
        folder->fe_hdr_index = next_live_slot(part, folder, index);
        folder->fe_valid_entries =
            get_file_entry_count(folder->fe_hdr_index, folder->fe_tail_index, folder->fe_totals);
    }
    log_debug("delete_file_entry, fold:%s, hdr:%d, tail:%d, count:%d, totals:%d\n",
              folder->fold_name, folder->fe_hdr_index, folder->fe_tail_index,
              folder->fe_valid_entries, folder->fe_totals);
}

}  // namespace

std::uint32_t get_file_entry_count(std::uint32_t header, std::uint32_t tail, std::uint32_t totals) {
    return tail >= header ? tail - header + 1 : totals + 1 + tail - header;
}

std::uint32_t next_ring_slot(const stFOLDER* folder, std::uint32_t index) {
    return folder->fe_totals == 0 ? 0 : (index + 1) % folder->fe_totals;
}

std::uint32_t get_free_file_entries(stFOLDER* folder) {
    platform::MutexGuard guard(folder->h_fe_mutex);
    return folder->fe_totals - folder->fe_valid_entries;
}

int32_t find_free_file_entry(stPARTITION* part, stFOLDER* folder, std::uint32_t* entry_index) {
    platform::MutexGuard guard(folder->h_fe_mutex);
    if (folder->fe_totals == 0) {
        log_error("[ERROR]find_free_file_entry, folder has no file entry, folder:%s\n",
                  folder->fold_name);
        return LYFS_ERR_RING_FULL;
    }
    if (folder->fe_tail_index == kNoSector) {
        folder->fe_hdr_index = 0;
        folder->fe_tail_index = 0;
        folder->fe_valid_entries = 1;
        *entry_index = 0;
        return LYFS_OK;
    }
    const std::uint32_t candidate = next_ring_slot(folder, folder->fe_tail_index);
    if (int32_t status = load_file_entry_sector(part, folder, candidate); status != LYFS_OK) {
        log_error("[ERROR]set_file_entry, read_file_entry_sector failed, sector:%d\n",
                  file_entry_sector(part, folder, candidate));
        return status;
    }
    if (file_entry_in_use(cached_file_entry(folder, candidate))) {
        log_error(
            "[ERROR]find_free_file_entry, entry is valid, doesn't find free file entry, "
            "hdr:%d, tail:%d, entry_index:%d\n",
            folder->fe_hdr_index, folder->fe_tail_index, candidate);
        return LYFS_ERR_RING_FULL;
    }
    folder->fe_tail_index = candidate;
    folder->fe_valid_entries =
        get_file_entry_count(folder->fe_hdr_index, candidate, folder->fe_totals);
    *entry_index = candidate;
    return LYFS_OK;
}

void release_reserved_file_entry(stFOLDER* folder, std::uint32_t entry_index,
                                 std::uint32_t previous_tail) {
    platform::MutexGuard guard(folder->h_fe_mutex);
    if (folder->fe_tail_index != entry_index) {
        return;  // the ring moved on; the slot stays a hole the scan skips
    }
    if (previous_tail == kNoSector) {
        make_ring_empty(folder);
        return;
    }
    folder->fe_tail_index = previous_tail;
    folder->fe_valid_entries =
        get_file_entry_count(folder->fe_hdr_index, previous_tail, folder->fe_totals);
}

int32_t delete_file_entry(stPARTITION* part, stFOLDER* folder, stFILE* file) {
    const std::uint32_t index = file->file_entry_index;
    int32_t status = write_file_entry_dirty(part, folder, index);
    if (status != LYFS_OK) {
        log_error("[ERROR]delete_file_entry, write_file_entry_dirty failed\n");
        return status;
    }
    {
        platform::MutexGuard guard(folder->h_fe_mutex);
        if (index != folder->fe_hdr_index) {
            log_error("[ERROR]delete_file_entry, entry_index:%d is not header, fe_hdr_index:%d\n",
                      index, folder->fe_hdr_index);
            return LYFS_ERR_NOT_RING_HEADER;
        }
        advance_header(part, folder, index);
    }
    log_info("[RVFS]DEL File, Folder:%s, File:%s, Start Clus:%d, File Entry:%d\n",
             folder->fold_name, file->file_name, file->start_cluster, index);
    destroy_file_object(folder, file);
    return LYFS_OK;
}

int32_t delete_header_entry(stPARTITION* part, stFOLDER* folder) {
    platform::MutexGuard guard(folder->h_fe_mutex);
    const std::uint32_t index = folder->fe_hdr_index;
    if (index == kNoSector) {
        return LYFS_OK;
    }
    if (int32_t status = write_file_entry_dirty(part, folder, index); status != LYFS_OK) {
        log_error("[ERROR]delete_header_entry, write_file_entry_dirty failed\n");
        return status;
    }
    advance_header(part, folder, index);
    return LYFS_OK;
}

int32_t delete_tail_entry(stPARTITION* part, stFOLDER* folder, std::uint32_t index) {
    platform::MutexGuard guard(folder->h_fe_mutex);
    if (index != folder->fe_tail_index) {
        log_error("[ERROR]delete_tail_entry, entry_index:%d is not tail, fe_tail_index:%d\n", index,
                  folder->fe_tail_index);
        return LYFS_FAIL;
    }
    if (int32_t status = write_file_entry_dirty(part, folder, index); status != LYFS_OK) {
        log_error("[ERROR]delete_tail_entry, write_file_entry_dirty failed\n");
        return status;
    }
    if (index == folder->fe_hdr_index || folder->fe_valid_entries <= 1) {
        make_ring_empty(folder);
    } else {
        folder->fe_tail_index = (index + folder->fe_totals - 1) % folder->fe_totals;
        folder->fe_valid_entries =
            get_file_entry_count(folder->fe_hdr_index, folder->fe_tail_index, folder->fe_totals);
    }
    log_debug("delete_tail_entry, fold:%s, hdr:%d, tail:%d, count:%d, totals:%d\n",
              folder->fold_name, folder->fe_hdr_index, folder->fe_tail_index,
              folder->fe_valid_entries, folder->fe_totals);
    return LYFS_OK;
}

stFILE* generate_file_object(stPARTITION* part, stFOLDER* folder, const char* name) {
    std::uint8_t record[kFileEntryBytes];
    std::uint32_t start_cluster = 0;
    std::uint32_t found = kNoSector;
    {
        platform::MutexGuard guard(folder->h_fe_mutex);
        std::uint32_t slot = folder->fe_hdr_index;
        for (std::uint32_t n = 0; folder->fe_tail_index != kNoSector &&
                                  n < folder->fe_valid_entries && n < folder->fe_totals;
             ++n, slot = next_ring_slot(folder, slot)) {
            if (load_file_entry_sector(part, folder, slot) != LYFS_OK) {
                log_error("[ERROR]generate_file_object, read_file_entry_sector failed, sector:%d\n",
                          file_entry_sector(part, folder, slot));
                break;
            }
            const std::uint8_t* entry = cached_file_entry(folder, slot);
            if (!file_entry_in_use(entry)) {
                continue;
            }
            char decoded[kFileNameBytes];
            std::uint8_t attribute = 0;
            std::uint32_t size = 0;
            if (extract_file_entry(entry, decoded, &attribute, &start_cluster, &size) != LYFS_OK) {
                log_error("[ERROR]generate_file_object, invalid file entry\n");
                continue;  // it names no file; the others still may
            }
            if (std::strcmp(decoded, name) == 0) {
                std::memcpy(record, entry, kFileEntryBytes);
                found = slot;
                break;
            }
            if (slot == folder->fe_tail_index) {
                log_error(
                    "[ERROR]generate_file_object, doesn't find file entry, reach last, "
                    "entry_index:%d, %d, %d\n",
                    slot, folder->fe_hdr_index, folder->fe_tail_index);
            }
        }
    }
    if (found == kNoSector) {
        log_error("[ERROR]find_file_entry, doesn't find file entry\n");
        return nullptr;
    }
    stFILE* file = create_file_object(folder, name, start_cluster, found, record);
    if (file == nullptr) {
        log_error("[ERROR]generate_file_object, create_file_object failed\n");
    }
    return file;
}

}  // namespace lyfs
