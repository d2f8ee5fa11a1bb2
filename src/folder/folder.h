// The root folders of a partition: one record per folder, each owning one
// contiguous region of clusters (its file-entry area, then its content area).
#pragma once

#include <cstdint>

#include "device/partition.h"
#include "platform/mutex.h"

namespace lyfs {

struct stFILE;

inline constexpr std::uint32_t kFolderNameBytes = 40;
inline constexpr std::uint32_t kMaxFolderNameLength = 8;
inline constexpr std::uint32_t kMaxFolders = 9;
inline constexpr std::uint32_t kFileEntryBytes = 128;

struct stFOLDER {
    char fold_name[kFolderNameBytes];
    std::uint32_t max_file_num;
    std::uint8_t fold_type;
    std::uint32_t start_sector_offset;  // (start_cluster - 2) * S, from the data start
    std::uint32_t start_cluster;
    std::uint32_t total_clusters;
    std::uint64_t total_space;  // bytes of the content area
    std::uint64_t free_space;
    stFILE* file_list_head;  // oldest
    stFILE* file_list_tail;  // newest
    stFOLDER* prev;
    stFOLDER* next;
    std::uint32_t fe_valid_entries;
    std::uint32_t fe_hdr_index;
    std::uint32_t fe_tail_index;
    std::uint32_t file_entries_per_sct;
    std::uint32_t n_fe_clusters;
    std::uint32_t fe_totals;
    std::uint32_t n_fc_clusters;
    std::uint32_t n_fc_start_cluster;
    std::uint32_t fc_cursor;
    std::uint32_t n_used_clusters;
    std::uint32_t n_free_clusters;
    std::uint32_t n_invalid_clusters;
    std::uint32_t n_bad_entries;  // records in use the scan could not decode, left as they are
    std::uint32_t fe_cache_sector;
    std::uint8_t* file_entry_cache;
    platform::Mutex* h_fe_mutex;
    platform::Mutex* h_space_mutex;
    platform::Mutex* h_file_list_mutex;
    std::uint32_t handle;  // the host's folder descriptor
};

// Derives the area layout from start_cluster, total_clusters and
// max_file_num for a card of `sects_per_clus` sectors per cluster.
void set_folder_layout(stFOLDER* folder, std::uint32_t sects_per_clus);
// File-entry clusters needed for `max_file_num` records.
std::uint32_t file_entry_clusters(std::uint32_t max_file_num, std::uint32_t sects_per_clus);

stFOLDER* create_folder_object(stPARTITION* part);
void add_folder_object(stPARTITION* part, stFOLDER* folder);
void remove_folder_object(stPARTITION* part, stFOLDER* folder);
stFOLDER* get_folder_object(stPARTITION* part, const char* name);
// Free space below which the folder's oldest files are reclaimed.
std::uint32_t get_fold_min_free_space(const stFOLDER* folder);

}  // namespace lyfs
