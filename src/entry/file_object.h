// One object per file of a folder, on the folder's list in ring order
// (oldest first). Its handle is the file's descriptor.
#pragma once

#include <cstdint>

#include "entry/file_entry.h"
#include "folder/folder.h"

namespace lyfs {

struct stFILE {
    char file_name[kFileNameBytes];
    std::uint32_t start_cluster;
    std::uint32_t file_size;
    std::uint8_t file_entry[kFileEntryBytes];  // what the card holds, or will at commit
    std::uint32_t file_entry_index;
    stFILE* next;  // newer
    stFILE* prev;  // older
    stFOLDER* p_fold;
    std::uint32_t handle;  // the host's fd
};

// A new object appended to the folder's list, or null.
stFILE* create_file_object(stFOLDER* folder, const char* name, std::uint32_t start_cluster,
                           std::uint32_t entry_index, const std::uint8_t* record);
void add_file_object(stFOLDER* folder, stFILE* file);
void remove_file_object(stFOLDER* folder, stFILE* file);
// Unlinks the object and frees it with its handle.
void destroy_file_object(stFOLDER* folder, stFILE* file);
void free_file_object_list(stFOLDER* folder);
stFILE* get_last_file_object(stFOLDER* folder);
stFILE* find_file_object(stFOLDER* folder, const char* name);
stFILE* check_file_object(stFOLDER* folder, const stFILE* file);

// Frees every folder of the partition with its files, file-entry cache and locks.
void release_folder_objects(stPARTITION* part);

}  // namespace lyfs
