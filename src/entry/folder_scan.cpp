#include "entry/folder_scan.h"

#include "api/log.h"
#include "device/window.h"
#include "entry/file_entry.h"
#include "entry/file_entry_cache.h"
#include "entry/file_object.h"
#include "entry/ring.h"
#include "file/reclaim.h"
#include "lyfs/lyfs.h"
#include "volume/codec.h"

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

// Starts a pass of the area with nothing reused from before it.
int32_t fresh_windows(stPARTITION* part) {
    empty_read_window(part->p_disk);
    return flush_write_window(part->p_disk);
}

// Brings the slot's sector into the cache through the read window.
int32_t load_for_scan(stPARTITION* part, stFOLDER* folder, std::uint32_t index) {
    const std::uint32_t sector = file_entry_sector(part, folder, index);
    if (folder->fe_cache_sector == sector) {
        return LYFS_OK;
    }
    folder->fe_cache_sector = kNoSector;
    int32_t status = read_file_entry_sector_cache(part, folder, device_sector(part, sector));
    if (status != LYFS_OK) {
        log_error("[ERROR]setup_folder_file_list, read_file_entry_sector failed, sector:%d\n",
                  sector);
        return status;
    }
    folder->fe_cache_sector = sector;
    return LYFS_OK;
}

struct DecodedEntry {
    char name[kFileNameBytes];
    std::uint32_t start_cluster;
    std::uint32_t size;
};

int32_t decode_slot(const std::uint8_t* record, DecodedEntry* out) {
    std::uint8_t attribute = 0;
    if (extract_file_entry(record, out->name, &attribute, &out->start_cluster, &out->size) !=
        LYFS_OK) {
        log_error("[ERROR]setup_folder_file_list, invalid file entry\n");
        return LYFS_FAIL;
    }
    return LYFS_OK;
}

int32_t find_ring(stPARTITION* part, stFOLDER* folder) {
    RingSearch search;
    for (std::uint32_t i = 0; i < folder->fe_totals; ++i) {
        if (int32_t status = load_for_scan(part, folder, i); status != LYFS_OK) {
            return status;
        }
        const std::uint8_t* record = cached_file_entry(folder, i);
        const bool used = file_entry_in_use(record);
        DecodedEntry entry;
        if (used && decode_slot(record, &entry) != LYFS_OK) {
            return LYFS_FAIL;
        }
        update_file_entry_ring(folder, &search, i, used);
    }
    return LYFS_OK;
}

// Lists the file of one slot and charges its size; a file that does not fit
// in what is left is deleted where it stands.
int32_t list_slot(stPARTITION* part, stFOLDER* folder, std::uint32_t index) {
    const std::uint8_t* record = cached_file_entry(folder, index);
    if (!file_entry_in_use(record)) {
        return LYFS_OK;
    }
    DecodedEntry entry;
    if (decode_slot(record, &entry) != LYFS_OK) {
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
        std::uint64_t freed = 0;
        int32_t status = delete_file(part, folder, file, &freed, DeleteFrom::kAnywhere);
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

int32_t list_files(stPARTITION* part, stFOLDER* folder) {
    const std::uint32_t header = folder->fe_hdr_index;
    const std::uint32_t count = folder->fe_valid_entries;
    std::uint32_t slot = header;
    for (std::uint32_t n = 0; n < count; ++n, slot = next_ring_slot(folder, slot)) {
        if (int32_t status = load_for_scan(part, folder, slot); status != LYFS_OK) {
            return status;
        }
        if (int32_t status = list_slot(part, folder, slot); status != LYFS_OK) {
            return status;
        }
    }
    return LYFS_OK;
}

int32_t scan_folder(stPARTITION* part, stFOLDER* folder) {
    if (int32_t status = create_folder_locks(folder); status != LYFS_OK) {
        return status;
    }
    set_folder_layout(folder, part->n_scts_per_clus);
    folder->free_space = folder->total_space;
    folder->fe_hdr_index = kNone;
    folder->fe_tail_index = kNone;
    folder->fe_valid_entries = 0;
    folder->fc_cursor = kNone;
    if (int32_t status = fresh_windows(part); status != LYFS_OK) {
        return status;
    }
    if (int32_t status = find_ring(part, folder); status != LYFS_OK) {
        return status;
    }
    log_debug("setup_folder_file_list, fold:%s, hdr:%d, tail:%d, count:%d, totals:%d\n",
              folder->fold_name, folder->fe_hdr_index, folder->fe_tail_index,
              folder->fe_valid_entries, folder->fe_totals);
    log_info("[RVFS]SETUP, fold:%s, hdr:%d, tail:%d, count:%d, totals:%d\n", folder->fold_name,
             folder->fe_hdr_index, folder->fe_tail_index, folder->fe_valid_entries,
             folder->fe_totals);
    if (folder->fe_valid_entries == 0) {
        log_info("[INFO]setup_folder_file_list, no file found\n");
        return LYFS_OK;
    }
    if (int32_t status = fresh_windows(part); status != LYFS_OK) {
        return status;
    }
    return list_files(part, folder);
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

int32_t setup_folder_file_list(stPARTITION* part, stFOLDER* folder) {
    log_debug("+setup_folder_file_list, fold_name:%s\n", folder->fold_name);
    if (alloc_file_entry_cache(folder) != LYFS_OK) {
        log_error(
            "[ERROR]setup_folder_file_list, alloc_file_entry_cache for file_entry_cache "
            "failed\n");
        return LYFS_ERR_NO_MEMORY;
    }
    const int32_t status = scan_folder(part, folder);
    if (status != LYFS_OK) {
        free_file_object_list(folder);
        free_file_entry_cache(folder);
    }
    log_info("[RVFS]SETUP, Folder:%s, n_free_space:%llu\n", folder->fold_name,
             static_cast<unsigned long long>(folder->free_space));
    return status;
}

}  // namespace lyfs
