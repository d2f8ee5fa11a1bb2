// Cancelling a file while it is written: what it took goes back, and the
// card and the folder are as they were before it was created.
#include "core/log.h"
#include "device/disk.h"
#include "device/sector_io.h"
#include "entry/ring.h"
#include "file/open_files.h"
#include "file/reclaim.h"
#include "layout/codec.h"
#include "lyfs/lyfs.h"

namespace lyfs {
namespace {

bool is_newest(stFOLDER* folder, const stFILE* file) {
    platform::MutexGuard guard(folder->h_fe_mutex);
    return file->file_entry_index == folder->fe_tail_index;
}

// A close then commits nothing: the chain on the card may be half freed.
void leave_nothing_to_commit(stFILE* file) {
    platform::MutexGuard guard(file->p_fold->h_file_list_mutex);
    file->file_size = 0;
    put_u32(file->file_entry + record::kSize, 0);
}

// The node as right after the create: nothing written, nothing charged.
void forget_written(stPARTITION* part, stOPEN_FILE* node) {
    platform::MutexGuard guard(part->h_fat_mutex);  // other writers' searches read the chain
    stCLUS_CHAIN& chain = node->clus_chain;
    chain.cur_clus = 0;
    chain.clus_pos = 0;
    chain.n_clus = 0;
    chain.end_clus = 0;
    chain.n_chain_entries = 0;
    node->file_pos = kNotPositioned;
    node->page_copy.file_pos = kNotPositioned;
}

// The clusters go first, the last one first, so that a cut anywhere leaves
// a file whose writer never closed it, its chain a shorter prefix ending on
// a free entry, which the next read-open or mount ends there. The entry goes
// last. A failure leaves the file open with nothing to commit, to be
// discarded again (its clusters are freed again) or closed.
int32_t discard_file(stPARTITION* part, stOPEN_FILE* node) {
    stFILE* file = node->p_file;
    stFOLDER* folder = file->p_fold;
    // The reclaim and the charges of other writers keep off the free space,
    // creates and commits off the ring's tail, until the file is gone.
    platform::MutexGuard space_guard(folder->h_space_mutex);
    platform::MutexGuard commit_guard(part->h_file_commit_mutex);
    if (!is_newest(folder, file)) {
        log_error(
            "[ERROR]lyfs_file_discard, not the newest file of its folder, folder:%s, file:%s\n",
            folder->fold_name, file->file_name);
        return LYFS_FAIL;
    }
    const std::uint32_t clusters = node->clus_chain.n_chain_entries;
    // What the file holds back would land in clusters that are no longer its own.
    node->page_copy.held = false;
    leave_nothing_to_commit(file);
    if (clusters != 0) {
        if (int32_t status = delete_file_fat_entries(part, &node->clus_chain); status != LYFS_OK) {
            log_error("[ERROR]lyfs_file_discard, delete_file_fat_entries failed\n");
            return status;
        }
        folder->free_space += static_cast<std::uint64_t>(part->bytes_per_clus) * clusters;
        forget_written(part, node);
    }
    if (int32_t status = delete_tail_entry(part, folder, file->file_entry_index);
        status != LYFS_OK) {
        log_error("[ERROR]lyfs_file_discard, delete_tail_entry failed\n");
        return status;
    }
    log_info("[RVFS]DISCARD File, Folder:%s, File:%s, Start Clus:%d, File Entry:%d, Clusters:%d\n",
             folder->fold_name, file->file_name, file->start_cluster, file->file_entry_index,
             clusters);
    release_open_file(part, node);
    destroy_file_object(folder, file);
    // Gone for good, like a commit.
    if (int32_t status = flush_device(part->p_disk->h_disk); status != LYFS_OK) {
        log_error("[ERROR]lyfs_file_discard, flush_device failed\n");
        return status;
    }
    return LYFS_OK;
}

}  // namespace
}  // namespace lyfs

using namespace lyfs;

extern "C" {

LYFS_API int32_t lyfs_file_discard(dev_desc* dev_handle, uint32_t fd) {
    stPARTITION* part = nullptr;
    stOPEN_FILE* node = open_file_of(dev_handle, fd, "lyfs_file_discard", &part);
    if (part == nullptr) {
        return LYFS_ERR_NO_PARTITION;
    }
    if (int32_t status = refuse_if_read_only(part->p_disk, "lyfs_file_discard");
        status != LYFS_OK) {
        return status;
    }
    if (node == nullptr) {
        return LYFS_FAIL;
    }
    if ((node->open_mode & kOpenForWriting) == 0) {
        log_error("[ERROR]lyfs_file_discard, not opened for writing, fd:0x%x\n", fd);
        return LYFS_FAIL;
    }
    return discard_file(part, node);
}

}  // extern "C"
