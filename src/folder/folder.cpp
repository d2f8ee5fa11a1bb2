#include "folder/folder.h"

#include <cstring>

#include "core/handles.h"
#include "core/list.h"
#include "core/log.h"

namespace lyfs {

std::uint32_t file_entry_clusters(std::uint32_t max_file_num, std::uint32_t sects_per_clus) {
    // Worked in 64 bits: a maximum near 2^32 read from a card must not wrap
    // into a small area.
    const std::uint64_t per_sector = 512 / kFileEntryBytes;
    const std::uint64_t sectors = (max_file_num + per_sector - 1) / per_sector;
    return static_cast<std::uint32_t>((sectors + sects_per_clus - 1) / sects_per_clus);
}

void set_folder_layout(stFOLDER* folder, std::uint32_t sects_per_clus) {
    folder->start_sector_offset = (folder->start_cluster - 2) * sects_per_clus;
    folder->file_entries_per_sct = 512 / kFileEntryBytes;
    folder->n_fe_clusters = file_entry_clusters(folder->max_file_num, sects_per_clus);
    folder->fe_totals = sects_per_clus * folder->n_fe_clusters * folder->file_entries_per_sct;
    folder->n_fc_clusters = folder->total_clusters - folder->n_fe_clusters;
    folder->n_fc_start_cluster = folder->start_cluster + folder->n_fe_clusters;
    folder->total_space = static_cast<std::uint64_t>(folder->n_fc_clusters) * sects_per_clus * 512;
}

stFOLDER* create_folder_object(stPARTITION* part) {
    auto* folder = allocate_with_handle<stFOLDER>(HandleKind::kFolder);
    if (folder == nullptr) {
        log_error("[ERROR]create_folder_object, malloc for p_fold failed\n");
        return nullptr;
    }
    add_folder_object(part, folder);
    return folder;
}

void add_folder_object(stPARTITION* part, stFOLDER* folder) {
    platform::MutexGuard guard(part->h_folder_list_mutex);
    list_append(part->folder_list, folder);
}

void remove_folder_object(stPARTITION* part, stFOLDER* folder) {
    platform::MutexGuard guard(part->h_folder_list_mutex);
    list_remove(part->folder_list, folder);
}

stFOLDER* get_folder_object(stPARTITION* part, const char* name) {
    if (name == nullptr) {
        return nullptr;
    }
    platform::MutexGuard guard(part->h_folder_list_mutex);
    return list_find(part->folder_list,
                     [&](stFOLDER* f) { return std::strcmp(f->fold_name, name) == 0; });
}

std::uint32_t get_fold_min_free_space(const stFOLDER* folder) {
    constexpr std::uint32_t kTenMiB = 10485760;
    constexpr std::uint32_t kHundredMiB = 104857600;
    constexpr std::uint32_t kOtherFolders = 209715200;
    const char* name = folder->fold_name;
    if (std::strcmp(name, "DATA") == 0 || std::strcmp(name, "PHOTO") == 0) {
        return kTenMiB;
    }
    if (std::strcmp(name, "EVENT") == 0 || std::strcmp(name, "PARKED") == 0) {
        return kHundredMiB;
    }
    return kOtherFolders;
}

}  // namespace lyfs
