#include "file/open_files.h"

#include <cstring>

#include "core/handles.h"
#include "core/list.h"
#include "core/log.h"
#include "device/dev_desc.h"
#include "device/sector_io.h"
#include "lyfs/lyfs.h"
#include "platform/memory.h"

namespace lyfs {

int32_t register_open_file_list(stPARTITION* part, stFILE* file, std::uint8_t mode,
                                stOPEN_FILE** out) {
    auto* node = platform::allocate_record<stOPEN_FILE>();
    if (node == nullptr) {
        log_error("[ERROR]register_open_file_list, malloc for stOPEN_FILE failed\n");
        return LYFS_ERR_NO_MEMORY;
    }
    node->page_copy.capacity = device_page_bytes();
    node->page_copy.data =
        static_cast<std::uint8_t*>(platform::allocate_zeroed(node->page_copy.capacity));
    if (node->page_copy.data == nullptr) {
        log_error("[ERROR]register_open_file_list, malloc for page copy failed\n");
        platform::release(node);
        return LYFS_ERR_NO_MEMORY;
    }
    node->p_file = file;
    node->file_pos = kNotPositioned;
    node->page_copy.file_pos = kNotPositioned;
    node->open_mode = mode;
    platform::MutexGuard guard(part->h_open_file_mutex);
    list_append(part->open_file_list, node);
    *out = node;
    return LYFS_OK;
}

stOPEN_FILE* find_open_file(stPARTITION* part, const stFILE* file) {
    if (file == nullptr) {
        return nullptr;
    }
    platform::MutexGuard guard(part->h_open_file_mutex);
    return list_find(part->open_file_list, [&](stOPEN_FILE* n) { return n->p_file == file; });
}

stOPEN_FILE* find_open_file_list(stPARTITION* part, std::uint32_t fd) {
    return find_open_file(part, resolve<stFILE>(fd, HandleKind::kFile));
}

stOPEN_FILE* find_open_file_list_name(stPARTITION* part, const stFOLDER* folder, const char* name) {
    platform::MutexGuard guard(part->h_open_file_mutex);
    return list_find(part->open_file_list, [&](stOPEN_FILE* n) {
        return n->p_file->p_fold == folder && std::strcmp(n->p_file->file_name, name) == 0;
    });
}

stOPEN_FILE* get_file_open_file_list(stPARTITION* part, std::uint32_t fd) {
    stOPEN_FILE* node = find_open_file_list(part, fd);
    if (node == nullptr) {
        log_error("[ERROR]get_file_open_file_list, find_open_file_list failed, fd:0x%x\n", fd);
    }
    return node;
}

stOPEN_FILE* open_file_of(const dev_desc* record, std::uint32_t fd, const char* export_name,
                          stPARTITION** part) {
    *part = partition_of(record);
    if (*part == nullptr) {
        log_error("[ERROR]%s, doesn't find part object\n", export_name);
        return nullptr;
    }
    stOPEN_FILE* node = get_file_open_file_list(*part, fd);
    if (node == nullptr) {
        log_error("[ERROR]%s, get_file_open_file_list failed\n", export_name);
    }
    return node;
}

bool held_by_open_writer(stPARTITION* part, std::uint32_t cluster) {
    platform::MutexGuard guard(part->h_open_file_mutex);
    const auto holds = [cluster](const stOPEN_FILE* n) {
        // A reader's chain is built without the FAT lock, and ends on the card anyway.
        if ((n->open_mode & kOpenForWriting) == 0) {
            return false;
        }
        const stCLUS_CHAIN& chain = n->clus_chain;
        const std::uint32_t newest = chain.n_chain_entries == 0
                                         ? n->p_file->start_cluster
                                         : chain.p_clus_chain[chain.n_chain_entries - 1];
        return newest == cluster;
    };
    return list_find(part->open_file_list, holds) != nullptr;
}

void unlink_open_file(stPARTITION* part, stOPEN_FILE* node) {
    platform::MutexGuard guard(part->h_open_file_mutex);
    list_remove(part->open_file_list, node);
}

void release_open_file(stPARTITION* part, stOPEN_FILE* node) {
    unlink_open_file(part, node);
    free_cluster_chain_mem(&node->clus_chain);
    platform::release(node->page_copy.data);
    platform::release(node);
}

void release_open_files(stPARTITION* part) {
    while (stOPEN_FILE* node = part->open_file_list) {
        release_open_file(part, node);
    }
}

}  // namespace lyfs
