#include "entry/file_object.h"

#include <cstring>

#include "core/handles.h"
#include "core/list.h"
#include "core/log.h"
#include "entry/file_entry_cache.h"
#include "layout/codec.h"
#include "platform/memory.h"

namespace lyfs {

stFILE* create_file_object(stFOLDER* folder, const char* name, std::uint32_t start_cluster,
                           std::uint32_t entry_index, const std::uint8_t* record) {
    auto* file = allocate_with_handle<stFILE>(HandleKind::kFile);
    if (file == nullptr) {
        log_error("[ERROR]create_file_object, malloc for stFILE failed\n");
        return nullptr;
    }
    std::strncpy(file->file_name, name, kFileNameBytes - 1);
    file->start_cluster = start_cluster;
    file->file_entry_index = entry_index;
    file->p_fold = folder;
    std::memcpy(file->file_entry, record, kFileEntryBytes);
    file->file_size = get_u32(record + record::kSize);
    add_file_object(folder, file);
    return file;
}

void add_file_object(stFOLDER* folder, stFILE* file) {
    platform::MutexGuard guard(folder->h_file_list_mutex);
    list_append(folder->file_list_head, folder->file_list_tail, file);
}

void remove_file_object(stFOLDER* folder, stFILE* file) {
    platform::MutexGuard guard(folder->h_file_list_mutex);
    list_remove(folder->file_list_head, folder->file_list_tail, file);
}

void destroy_file_object(stFOLDER* folder, stFILE* file) {
    remove_file_object(folder, file);
    release_handle(file->handle);
    platform::release(file);
}

void free_file_object_list(stFOLDER* folder) {
    platform::MutexGuard guard(folder->h_file_list_mutex);
    while (stFILE* file = folder->file_list_head) {
        destroy_file_object(folder, file);
    }
    folder->file_list_tail = nullptr;
}

stFILE* get_last_file_object(stFOLDER* folder) {
    platform::MutexGuard guard(folder->h_file_list_mutex);
    return folder->file_list_tail;
}

stFILE* find_file_object(stFOLDER* folder, const char* name) {
    platform::MutexGuard guard(folder->h_file_list_mutex);
    return list_find(folder->file_list_head,
                     [&](stFILE* f) { return std::strcmp(f->file_name, name) == 0; });
}

stFILE* check_file_object(stFOLDER* folder, const stFILE* file) {
    platform::MutexGuard guard(folder->h_file_list_mutex);
    return list_find(folder->file_list_head, [&](stFILE* f) { return f == file; });
}

void release_folder_objects(stPARTITION* part) {
    for (stFOLDER* folder = part->folder_list; folder != nullptr; folder = folder->next) {
        free_file_object_list(folder);
        free_file_entry_cache(folder);
        platform::close_mutex(folder->h_fe_mutex);
        platform::close_mutex(folder->h_space_mutex);
        platform::close_mutex(folder->h_file_list_mutex);
    }
    while (stFOLDER* folder = part->folder_list) {
        remove_folder_object(part, folder);
        release_handle(folder->handle);
        platform::release(folder);
    }
}

}  // namespace lyfs
