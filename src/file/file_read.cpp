// Reading and positioning, and their exports.
#include <algorithm>

#include "core/handles.h"
#include "core/log.h"
#include "fat/fat.h"
#include "file/cluster_chain.h"
#include "file/file_io.h"
#include "layout/layout.h"
#include "lyfs/lyfs.h"

namespace lyfs {
namespace {

enum class Step { kRead, kEnd, kFailed };

// Puts cur_clus on the cluster of the node's position: from the array, or,
// right behind its last entry, by following the FAT. A position further out
// is not part of what the file is known to hold: nothing is read there.
Step place_on_position(stPARTITION* part, stOPEN_FILE* node, std::uint32_t wanted) {
    stCLUS_CHAIN& chain = node->clus_chain;
    const std::uint32_t index = node->file_pos / part->bytes_per_clus;
    chain.clus_pos = node->file_pos % part->bytes_per_clus;
    if (index < chain.n_chain_entries) {
        chain.cur_clus = chain.p_clus_chain[index];
        return Step::kRead;
    }
    if (index > chain.n_chain_entries || chain.clus_pos != 0 || chain.n_chain_entries == 0) {
        log_error("[ERROR]read_file, position beyond the cluster chain, file_pos:%d\n",
                  node->file_pos);
        return Step::kEnd;
    }
    const std::uint32_t last = chain.p_clus_chain[chain.n_chain_entries - 1];
    std::uint32_t next = 0;
    if (get_next_cluster(part, last, &next) != LYFS_OK) {
        log_error("[ERROR]read_file, get_next_cluster failed, cluster_no:%d\n", last);
        return Step::kFailed;
    }
    chain.cur_clus = last;
    switch (classify_fat_entry(next)) {
        case FatEntryClass::kEndOfChain:
            log_error("[ERROR]read_file, EOC:0x%x, total_bytes:%d\n", next, wanted);
            return Step::kEnd;
        case FatEntryClass::kFree:
            log_error("[ERROR]read_file, free cluster:0x%x, total_bytes:%d\n", next, wanted);
            return Step::kEnd;
        case FatEntryClass::kInvalid:
            log_error("[ERROR]read_file, invalid cluster:0x%x, total_bytes:%d\n", next, wanted);
            return Step::kEnd;
        case FatEntryClass::kLink:
            break;
    }
    // The open ends a chain that leaves the folder or loops, but a repair it could not write
    // leaves the link on the card: reading on would hand out the file's own clusters again.
    if (!chain_may_follow(chain, part, node->p_file->p_fold, next)) {
        log_error("[ERROR]read_file, invalid cluster:0x%x, total_bytes:%d\n", next, wanted);
        return Step::kEnd;
    }
    if (chain.n_chain_entries == chain.max_chain_entries) {
        log_error("[ERROR]read_file, file size is over limit\n");
        return Step::kFailed;
    }
    chain.p_clus_chain[chain.n_chain_entries++] = next;
    chain.n_clus = chain.n_chain_entries;
    chain.cur_clus = next;
    return Step::kRead;
}

// Bytes of a request that one transfer can move from the node's position:
// to the end of its cluster, and on through the clusters the chain array
// already holds that follow it on the card.
std::uint32_t adjacent_bytes(const stPARTITION* part, const stCLUS_CHAIN& chain,
                             std::uint32_t file_pos, std::uint32_t wanted) {
    std::uint32_t index = file_pos / part->bytes_per_clus;
    std::uint32_t n = std::min(wanted, part->bytes_per_clus - chain.clus_pos);
    while (n < wanted && index + 1 < chain.n_chain_entries &&
           chain.p_clus_chain[index + 1] == chain.p_clus_chain[index] + 1) {
        ++index;
        n += std::min(wanted - n, part->bytes_per_clus);
    }
    return n;
}

}  // namespace

int32_t read_file(stPARTITION* part, stOPEN_FILE* node, std::uint8_t* dst, std::uint32_t len) {
    if (len == 0) {
        return 0;
    }
    if (write_held_bytes(part, node) != LYFS_OK) {
        log_error("[ERROR]read_file, write_held_bytes failed\n");
        return LYFS_FAIL;
    }
    // A file being written that was never written to holds nothing yet: its start cluster
    // holds whatever the card had there before.
    if (node->file_pos == kNotPositioned) {
        return 0;
    }
    std::uint32_t done = 0;
    while (done < len) {
        const Step step = place_on_position(part, node, len - done);
        if (step == Step::kFailed) {
            return LYFS_FAIL;
        }
        if (step == Step::kEnd) {
            break;
        }
        stCLUS_CHAIN& chain = node->clus_chain;
        const std::uint32_t first = chain.cur_clus;
        const std::uint32_t n = adjacent_bytes(part, chain, node->file_pos, len - done);
        std::uint32_t moved = 0;
        if (read_cluster(part, node, {first, chain.clus_pos}, dst + done, n, &moved) != LYFS_OK) {
            log_error("[ERROR]read_file, read_cluster failed, cluster_no:%d\n", first);
            return LYFS_FAIL;
        }
        // Left on the last cluster the request reached, as if read one by one.
        const std::uint32_t end = chain.clus_pos + moved;
        const std::uint32_t further = (end - 1) / part->bytes_per_clus;
        chain.cur_clus = first + further;
        chain.clus_pos = end - further * part->bytes_per_clus;
        node->file_pos += moved;
        done += moved;
    }
    return static_cast<int32_t>(done);
}

int32_t setup_file_pos_on_cluster_pos(stPARTITION* part, stOPEN_FILE* node) {
    stCLUS_CHAIN& chain = node->clus_chain;
    const std::uint32_t index = node->file_pos / part->bytes_per_clus;
    for (std::uint32_t i = 0; i <= index; ++i) {
        const std::uint32_t cluster = chain.p_clus_chain != nullptr && i < chain.max_chain_entries
                                          ? chain.p_clus_chain[i]
                                          : 0;
        chain.cur_clus = cluster;
        if (cluster == 0) {
            log_info("[INFO]setup_file_pos_on_cluster_pos, start cluster have to be registered\n");
            return LYFS_OK;
        }
    }
    chain.clus_pos = node->file_pos % part->bytes_per_clus;
    return LYFS_OK;
}

int64_t seek_file(stPARTITION* part, stOPEN_FILE* node, std::uint8_t whence, std::int32_t offset) {
    if (node->file_pos == kNotPositioned) {
        node->file_pos = 0;
        return 0;
    }
    std::int64_t target = 0;
    if (whence == LYFS_SEEK_END || whence == LYFS_SEEK_CUR) {
        const std::uint32_t base =
            whence == LYFS_SEEK_END ? node->p_file->file_size : node->file_pos;
        const std::int32_t sum =
            static_cast<std::int32_t>(base + static_cast<std::uint32_t>(offset));
        target = sum < 0 ? 0 : sum;
    } else {
        target = offset < 0 ? 0 : offset;
        if (target >= node->p_file->file_size) {
            log_error("[ERROR]seek_file, SEEK_SET offset over the file length, offset:%d\n",
                      static_cast<std::int32_t>(target));
            return LYFS_FAIL;
        }
    }
    // Held bytes wait for a write that continues them, which a move rules out.
    if (target != node->file_pos && write_held_bytes(part, node) != LYFS_OK) {
        log_error("[ERROR]seek_file, write_held_bytes failed\n");
        return LYFS_FAIL;
    }
    node->file_pos = static_cast<std::uint32_t>(target);
    setup_file_pos_on_cluster_pos(part, node);
    return target;
}

}  // namespace lyfs

using namespace lyfs;

extern "C" {

LYFS_API int32_t CL_LyFS_File_Read(dev_desc* dev_handle, void* buf, uint32_t len, uint32_t fd) {
    stPARTITION* part = nullptr;
    stOPEN_FILE* node = open_file_of(dev_handle, fd, "CL_LyFS_File_Read", &part);
    if (node == nullptr) {
        return LYFS_FAIL;
    }
    if (buf == nullptr && len != 0) {
        log_error("[ERROR]CL_LyFS_File_Read, no buffer\n");
        return LYFS_FAIL;
    }
    // Counts are reported as 32-bit signed values; files are far smaller.
    len = std::min<std::uint32_t>(len, 0x7FFFFFFF);
    const int32_t read = read_file(part, node, static_cast<std::uint8_t*>(buf), len);
    if (read < 0) {
        log_error("[ERROR]CL_LyFS_File_Read, read_file failed\n");
        return LYFS_FAIL;
    }
    return read;
}

LYFS_API uint32_t CL_LyFS_File_Seek(dev_desc* dev_handle, uint32_t fd, uint8_t whence,
                                    int32_t offset) {
    stPARTITION* part = nullptr;
    stOPEN_FILE* node = open_file_of(dev_handle, fd, "CL_LyFS_File_Seek", &part);
    if (node == nullptr) {
        return 0;
    }
    const int64_t position = seek_file(part, node, whence, offset);
    if (position < 0) {
        log_error("[ERROR]CL_LyFS_File_Seek, seek_file failed, ret:%d\n",
                  static_cast<int32_t>(position));
        return 0;
    }
    return static_cast<uint32_t>(position);
}

LYFS_API int32_t CL_LyFS_File_Tell(dev_desc* dev_handle, uint32_t fd) {
    stPARTITION* part = nullptr;
    stOPEN_FILE* node = open_file_of(dev_handle, fd, "CL_LyFS_File_Tell", &part);
    if (node == nullptr) {
        return LYFS_FAIL;
    }
    return static_cast<int32_t>(node->file_pos);
}

}  // extern "C"
