// Writing and committing, and their exports.
#include <algorithm>

#include "core/log.h"
#include "device/sector_io.h"
#include "entry/file_entry.h"
#include "entry/ring.h"
#include "fat/fat.h"
#include "file/file_io.h"
#include "file/reclaim.h"
#include "folder/content_area.h"
#include "layout/codec.h"
#include "lyfs/lyfs.h"

namespace lyfs {
namespace {

// Takes one cluster off the folder's free space; -1 when it has none left.
int32_t charge_cluster(stPARTITION* part, stFOLDER* folder) {
    platform::MutexGuard guard(folder->h_space_mutex);
    if (folder->free_space < part->bytes_per_clus) {
        log_error("[ERROR]write_file:invalid free space:%llu\n",
                  static_cast<unsigned long long>(folder->free_space));
        return LYFS_FAIL;
    }
    folder->free_space -= part->bytes_per_clus;
    return LYFS_OK;
}

void refund_cluster(stPARTITION* part, stFOLDER* folder) {
    platform::MutexGuard guard(folder->h_space_mutex);
    folder->free_space += part->bytes_per_clus;
}

// The caller has made sure the array has room.
void append_to_chain(stCLUS_CHAIN& chain, std::uint32_t cluster) {
    chain.p_clus_chain[chain.n_chain_entries++] = cluster;
    chain.n_clus = chain.n_chain_entries;
    chain.cur_clus = cluster;
}

// The first piece of a node enters the file's start cluster (the open gave
// the node its chain array, which holds at least one cluster).
int32_t begin_chain(stPARTITION* part, stOPEN_FILE* node) {
    stCLUS_CHAIN& chain = node->clus_chain;
    if (charge_cluster(part, node->p_file->p_fold) != LYFS_OK) {
        return LYFS_FAIL;
    }
    {
        platform::MutexGuard guard(part->h_fat_mutex);  // other writers' searches read the chain
        append_to_chain(chain, node->p_file->start_cluster);
    }
    chain.clus_pos = 0;
    node->file_pos = 0;
    put_u32(node->p_file->file_entry + record::kSize, 0);
    return LYFS_OK;
}

// Links a new cluster behind the chain's last one and charges it. Nothing
// is appended or charged when no cluster can be had.
int32_t grow_chain(stPARTITION* part, stOPEN_FILE* node) {
    stCLUS_CHAIN& chain = node->clus_chain;
    stFOLDER* folder = node->p_file->p_fold;
    if (chain.n_chain_entries == chain.max_chain_entries) {
        log_error("[ERROR]write_file, file size is over limit\n");
        return LYFS_FAIL;
    }
    if (charge_cluster(part, folder) != LYFS_OK) {
        return LYFS_FAIL;
    }
    const std::uint32_t last = chain.p_clus_chain[chain.n_chain_entries - 1];
    std::uint32_t next = 0;
    int32_t status = LYFS_OK;
    {
        // Until this chain holds the new cluster, only the FAT lock keeps other writers from it.
        platform::MutexGuard guard(part->h_fat_mutex);
        status = get_next_free_cluster(part, folder, last, &next, held_by_open_writer);
        if (status == LYFS_OK) {
            append_to_chain(chain, next);
        }
    }
    if (status != LYFS_OK) {
        refund_cluster(part, folder);
        log_error("[ERROR]write_file, get_next_free_cluster failed, ret:%d\n", status);
        return LYFS_FAIL;
    }
    return LYFS_OK;
}

// Puts cur_clus on the cluster of the node's position, growing the chain
// right behind its end. A position further out would make the chain on the
// card fork, so it is refused. A seek to the chain's end leaves cur_clus at
// 0, so only the chain's length tells a file not yet begun. A reader only
// patches its file in place: its close commits nothing, so a cluster it took
// would stay free on the card behind a committed chain, for another to take.
int32_t place_for_write(stPARTITION* part, stOPEN_FILE* node) {
    stCLUS_CHAIN& chain = node->clus_chain;
    const bool writer = (node->open_mode & kOpenForWriting) != 0;
    if (chain.n_chain_entries == 0 && writer) {
        return begin_chain(part, node);
    }
    const std::uint32_t index = node->file_pos / part->bytes_per_clus;
    chain.clus_pos = node->file_pos % part->bytes_per_clus;
    if (index < chain.n_chain_entries) {
        chain.cur_clus = chain.p_clus_chain[index];
        return LYFS_OK;
    }
    if (index == chain.n_chain_entries && chain.clus_pos == 0 && writer) {
        return grow_chain(part, node);
    }
    log_error("[ERROR]write_file, position beyond the cluster chain, file_pos:%d\n",
              node->file_pos);
    return LYFS_FAIL;
}

int32_t commit(stPARTITION* part, stOPEN_FILE* node) {
    stFILE* file = node->p_file;
    stFOLDER* folder = file->p_fold;
    const std::uint32_t end = last_cluster_of(node->clus_chain);
    if (end == 0) {
        log_error("[ERROR]close_file, cluster chain is not setup\n");
        return LYFS_ERR_NO_CHAIN;
    }
    // The data must be on the card before the entry that makes it a file.
    if (int32_t status = flush_device(part->p_disk->h_disk); status != LYFS_OK) {
        log_error("[ERROR]close_file, flush_device failed\n");
        return status;
    }
    {
        platform::MutexGuard guard(part->h_file_commit_mutex);
        if (int32_t status = write_fat_entry(part, end); status != LYFS_OK) {
            log_error("[ERROR]close_file, write_fat_entry EOC failed\n");
            return status;
        }
        if (int32_t status =
                write_file_entry(part, folder, file->file_entry_index, file->file_entry);
            status != LYFS_OK) {
            log_error("[ERROR]close_file, write_file_entry failed\n");
            return status;
        }
    }
    {
        platform::MutexGuard guard(folder->h_fe_mutex);
        log_info(
            "[RVFS]-WR File, Folder:%s, File:%s, End Clus:%d, File Entry:%d, hdr:%d, "
            "tail:%d, free:%d\n",
            folder->fold_name, file->file_name, end, file->file_entry_index, folder->fe_hdr_index,
            folder->fe_tail_index, folder->fe_totals - folder->fe_valid_entries);
    }
    // A committed file survives pulling the card.
    if (int32_t status = flush_device(part->p_disk->h_disk); status != LYFS_OK) {
        log_error("[ERROR]close_file, flush_device failed\n");
        return status;
    }
    return LYFS_OK;
}

// A file closed with nothing written still owns its start cluster, whose FAT
// entry reads free until its chain is ended: ended, no newer file takes it,
// so the next read-open finds this file one cluster long and no other's. A
// longer chain is one a failed discard left half freed: the read-open ends
// it where it is free.
int32_t end_unwritten(stPARTITION* part, stOPEN_FILE* node) {
    stFOLDER* folder = node->p_file->p_fold;
    const stCLUS_CHAIN& chain = node->clus_chain;
    if (chain.n_chain_entries > 1) {
        return LYFS_OK;
    }
    {
        platform::MutexGuard guard(part->h_file_commit_mutex);
        if (int32_t status = write_fat_entry(part, node->p_file->start_cluster);
            status != LYFS_OK) {
            log_error("[ERROR]close_file, write_fat_entry EOC failed\n");
            return status;
        }
    }
    if (chain.n_chain_entries == 0) {  // not charged by a first write
        platform::MutexGuard guard(folder->h_space_mutex);
        folder->free_space -= std::min<std::uint64_t>(folder->free_space, part->bytes_per_clus);
    }
    return LYFS_OK;
}

}  // namespace

int32_t write_file(stPARTITION* part, stOPEN_FILE* node, const std::uint8_t* src,
                   std::uint32_t len) {
    stFILE* file = node->p_file;
    std::uint32_t done = 0;
    while (done < len) {
        if (verify_fold_space_ex(part, file->p_fold) != LYFS_OK) {
            log_error("[ERROR]write_file, verify_fold_space_ex failed\n");
            return LYFS_FAIL;
        }
        if (place_for_write(part, node) != LYFS_OK) {
            return LYFS_FAIL;
        }
        stCLUS_CHAIN& chain = node->clus_chain;
        const std::uint32_t n = std::min(len - done, part->bytes_per_clus - chain.clus_pos);
        std::uint32_t written = 0;
        if (write_cluster(part, node, {chain.cur_clus, chain.clus_pos}, src + done, n, &written) !=
            LYFS_OK) {
            log_error("[ERROR]write_file, write_cluster failed, cluster_no:%d\n", chain.cur_clus);
            return LYFS_FAIL;
        }
        chain.clus_pos += written;
        done += written;
        node->file_pos += written;
        {
            // Listers read the size while the file is written.
            platform::MutexGuard guard(file->p_fold->h_file_list_mutex);
            file->file_size = std::max(file->file_size, node->file_pos);
            put_u32(file->file_entry + record::kSize, file->file_size);
        }
    }
    return static_cast<int32_t>(done);
}

int32_t close_file(stPARTITION* part, stOPEN_FILE* node) {
    // What the commit makes durable includes the bytes held back; when they
    // cannot be written the file is left uncommitted, as a failed commit is.
    int32_t status = write_held_bytes(part, node);
    if (status != LYFS_OK) {
        log_error("[ERROR]close_file, write_held_bytes failed\n");
    } else if ((node->open_mode & kOpenForWriting) != 0) {
        status = get_u32(node->p_file->file_entry + record::kSize) > 0 ? commit(part, node)
                                                                       : end_unwritten(part, node);
    }
    release_open_file(part, node);
    return status;
}

int32_t write_held_bytes_of_open_files(stPARTITION* part) {
    bool wrote = false;
    int32_t status = LYFS_OK;
    {
        platform::MutexGuard guard(part->h_open_file_mutex);
        for (stOPEN_FILE* node = part->open_file_list; node != nullptr; node = node->next) {
            if (node->page_copy.held) {
                wrote = true;
                if (const int32_t written = write_held_bytes(part, node); written != LYFS_OK) {
                    log_error("[ERROR]write_held_bytes_of_open_files, file:%s\n",
                              node->p_file->file_name);
                    status = status != LYFS_OK ? status : written;
                }
            }
        }
    }
    if (wrote) {
        if (const int32_t flushed = flush_device(part->p_disk->h_disk); flushed != LYFS_OK) {
            log_error("[ERROR]write_held_bytes_of_open_files, flush_device failed\n");
            status = status != LYFS_OK ? status : flushed;
        }
    }
    return status;
}

}  // namespace lyfs

using namespace lyfs;

extern "C" {

LYFS_API int32_t CL_LyFS_File_Write(dev_desc* dev_handle, const void* buf, uint32_t len,
                                    uint32_t fd) {
    stPARTITION* part = nullptr;
    stOPEN_FILE* node = open_file_of(dev_handle, fd, "CL_LyFS_File_Write", &part);
    if (node == nullptr) {
        return LYFS_FAIL;
    }
    if (part->p_disk->read_only != 0) {
        log_error("[ERROR]CL_LyFS_File_Write, the card is mounted read-only, nothing is written\n");
        return LYFS_FAIL;
    }
    if (len == 0) {
        return 0;
    }
    if (buf == nullptr || len > 0x7FFFFFFF) {
        log_error("[ERROR]CL_LyFS_File_Write, invalid buffer, len:%u\n", len);
        return LYFS_FAIL;
    }
    const int32_t written = write_file(part, node, static_cast<const std::uint8_t*>(buf), len);
    if (written < 0) {
        log_error("[ERROR]CL_LyFS_File_Write, write_file failed, ret:%d\n", written);
        return LYFS_FAIL;
    }
    return written;
}

LYFS_API int32_t CL_LyFS_File_Close(dev_desc* dev_handle, uint32_t fd) {
    stPARTITION* part = nullptr;
    stOPEN_FILE* node = open_file_of(dev_handle, fd, "CL_LyFS_File_Close", &part);
    if (node == nullptr) {
        return LYFS_FAIL;
    }
    if (close_file(part, node) != LYFS_OK) {
        log_error("[ERROR]CL_LyFS_File_Close, close_file failed\n");
        return LYFS_FAIL;
    }
    return LYFS_OK;
}

LYFS_API int32_t lyfs_file_flush(dev_desc* dev_handle, uint32_t fd) {
    stPARTITION* part = nullptr;
    stOPEN_FILE* node = open_file_of(dev_handle, fd, "lyfs_file_flush", &part);
    if (node == nullptr) {
        return LYFS_FAIL;
    }
    if ((node->open_mode & kOpenForWriting) == 0 || part->p_disk->read_only != 0) {
        return LYFS_OK;  // a reader holds nothing back
    }
    if (int32_t status = write_held_bytes(part, node); status != LYFS_OK) {
        log_error("[ERROR]lyfs_file_flush, write_held_bytes failed\n");
        return status;
    }
    if (int32_t status = flush_device(part->p_disk->h_disk); status != LYFS_OK) {
        log_error("[ERROR]lyfs_file_flush, flush_device failed\n");
        return status;
    }
    return LYFS_OK;
}

}  // extern "C"
