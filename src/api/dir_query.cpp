// What the host can see of a mounted card's folders and files without
// opening anything.
#include <algorithm>
#include <cstring>

#include "core/log.h"
#include "device/dev_desc.h"
#include "entry/file_object.h"
#include "file/open_files.h"
#include "folder/folder.h"
#include "layout/codec.h"
#include "layout/dir_entry_codec.h"
#include "lyfs/lyfs.h"

using namespace lyfs;

namespace {

void describe(const stFOLDER* folder, DirInfo* info) {
    std::memset(info->fold_name, 0, sizeof info->fold_name);
    std::memcpy(info->fold_name, folder->fold_name,
                std::min(sizeof info->fold_name - 1, std::strlen(folder->fold_name)));
    info->total_space = folder->total_space;
    info->max_file_num = folder->max_file_num;
    info->fold_type = folder->fold_type;
}

// The paging walk: files numbered from 0 in the chosen order, those from
// start - 1 on written, at most `count` of them.
std::uint32_t get_folder_file_list(stFOLDER* folder, std::uint32_t start, std::uint32_t count,
                                   FileInfo* records, std::uint32_t sort) {
    log_debug(
        "+get_folder_file_list, fold_name:%s, start_file_index:%d, num_files:%d, "
        "sort_type:%d\n",
        folder->fold_name, start, count, sort);
    platform::MutexGuard guard(folder->h_file_list_mutex);
    const std::uint32_t first = start - 1;
    const std::uint64_t stop = static_cast<std::uint64_t>(first) + count;
    std::uint32_t written = 0;
    std::uint32_t number = 0;
    for (stFILE* file = sort == 0 ? folder->file_list_head : folder->file_list_tail;
         file != nullptr && number < stop; file = sort == 0 ? file->next : file->prev, ++number) {
        if (start == 0 || number < first) {
            continue;
        }
        FileInfo& info = records[written++];
        std::memset(info.name, 0, sizeof info.name);
        std::memcpy(info.name, file->file_name, std::strlen(file->file_name));
        info.fd = file->handle;
        info.file_size = file->file_size;
    }
    return written;
}

}  // namespace

extern "C" {

LYFS_API int32_t CL_LyFS_Get_Dir_Desciptor(dev_desc* dev_handle, const char* dir_name,
                                           uint32_t* dir_desc) {
    log_debug("+CL_LyFS_Get_Dir_Desciptor, dir_name:%s\n", dir_name != nullptr ? dir_name : "");
    stPARTITION* part = partition_of(dev_handle);
    if (part == nullptr) {
        log_error("[ERROR]CL_LyFS_Get_Dir_Desciptor, invalid p_part, dir_name:%s\n",
                  dir_name != nullptr ? dir_name : "");
        return LYFS_ERR_NO_PARTITION;
    }
    stFOLDER* folder = get_folder_object(part, dir_name);
    if (folder == nullptr) {
        log_error("[ERROR]CL_LyFS_Get_Dir_Desciptor, invalid p_fold, dir_name:%s\n",
                  dir_name != nullptr ? dir_name : "");
        return LYFS_ERR_NO_FOLDER;
    }
    if (dir_desc != nullptr) {
        *dir_desc = folder->handle;
    }
    return LYFS_OK;
}

LYFS_API int32_t CL_LyFS_Get_Dir_Info(dev_desc* dev_handle, const char* dir_name, DirInfo* info,
                                      uint64_t* total_space, uint64_t* free_space) {
    log_debug("+CL_LyFS_Get_Dir_Info, dir_name:%s\n", dir_name != nullptr ? dir_name : "");
    stPARTITION* part = partition_of(dev_handle);
    if (part == nullptr) {
        log_error("[ERROR]CL_LyFS_Get_Dir_Info, invalid dev_desc failed, 0x%x\n",
                  dev_handle != nullptr ? dev_handle->part_handle : 0);
        return LYFS_ERR_NO_PARTITION;
    }
    log_debug("part_dev_name:%s\n", part->name);
    stFOLDER* folder = get_folder_object(part, dir_name);
    if (folder == nullptr) {
        log_error("[ERROR]CL_LyFS_Get_Dir_Info, get_folder_object failed, 0x%x\n",
                  dev_handle->part_handle);
        return LYFS_ERR_NO_FOLDER;
    }
    std::uint64_t free = 0;
    {
        platform::MutexGuard guard(folder->h_space_mutex);
        free = folder->free_space;
    }
    if (info != nullptr) {
        describe(folder, info);
    }
    if (total_space != nullptr) {
        *total_space = folder->total_space;
    }
    if (free_space != nullptr) {
        *free_space = free;
    }
    log_debug(
        "-CL_LyFS_Get_Dir_Info, fold_name:%s, size:%llu, max_files:%d, type:0x%x, "
        "free:%llu\n",
        folder->fold_name, static_cast<unsigned long long>(folder->total_space),
        folder->max_file_num, folder->fold_type, static_cast<unsigned long long>(free));
    return LYFS_OK;
}

LYFS_API int32_t CL_LyFS_Get_Dir_List(dev_desc* dev_handle, lyfs_dir_list* list) {
    stPARTITION* part = partition_of(dev_handle);
    if (part == nullptr || list == nullptr) {
        return LYFS_FAIL;
    }
    platform::MutexGuard guard(part->h_folder_list_mutex);
    list->count = 0;
    for (stFOLDER* folder = part->folder_list; folder != nullptr && list->count < kMaxFolders;
         folder = folder->next) {
        describe(folder, &list->dirs[list->count++]);
    }
    return LYFS_OK;
}

LYFS_API int32_t CL_LyFS_Get_FileList(dev_desc* dev_handle, const char* dir_name,
                                      uint32_t* start_index, lyfs_file_list* list, uint32_t sort) {
    log_debug("+CL_LyFS_Get_FileList, dir_name:%s, num_from:%d, num_file:%d, sort:%d\n",
              dir_name != nullptr ? dir_name : "", start_index != nullptr ? *start_index : 0,
              list != nullptr ? list->count : 0, sort);
    stPARTITION* part = partition_of(dev_handle);
    if (part == nullptr || start_index == nullptr || list == nullptr) {
        return LYFS_FAIL;
    }
    log_debug("part_dev_name:%s\n", part->name);
    stFOLDER* folder = get_folder_object(part, dir_name);
    if (folder == nullptr) {
        return LYFS_FAIL;
    }
    const std::uint32_t written = get_folder_file_list(folder, *start_index, list->count,
                                                       LYFS_FILE_LIST_RECORD(list, 0), sort);
    *start_index += written;
    return static_cast<int32_t>(written);
}

LYFS_API int32_t CL_LyFS_Get_FileInfo(dev_desc* dev_handle, uint32_t fd, FileInfo* info) {
    stPARTITION* part = nullptr;
    stOPEN_FILE* node = open_file_of(dev_handle, fd, "CL_LyFS_Get_FileInfo", &part);
    if (node == nullptr) {
        return LYFS_FAIL;
    }
    if (info != nullptr) {
        std::memset(info->name, 0, sizeof info->name);
        std::memcpy(info->name, node->p_file->file_name, std::strlen(node->p_file->file_name));
        info->fd = node->p_file->handle;
        info->file_size = node->p_file->file_size;
    }
    log_debug("-CL_LyFS_Get_FileInfo, name:%s, size:%d\n", node->p_file->file_name,
              node->p_file->file_size);
    return LYFS_OK;
}

LYFS_API int32_t lyfs_get_file_time(dev_desc* dev_handle, uint32_t fd, lyfs_file_time* time) {
    stPARTITION* part = partition_of(dev_handle);
    if (part == nullptr) {
        log_error("[ERROR]lyfs_get_file_time, doesn't find part object\n");
        return LYFS_ERR_NO_PARTITION;
    }
    const auto* wanted = resolve<stFILE>(fd, HandleKind::kFile);
    platform::MutexGuard folders(part->h_folder_list_mutex);
    for (stFOLDER* folder = wanted != nullptr ? part->folder_list : nullptr; folder != nullptr;
         folder = folder->next) {
        // Held while the stamp is copied: a reclaim frees the file only off the list.
        platform::MutexGuard files(folder->h_file_list_mutex);
        if (check_file_object(folder, wanted) == nullptr) {
            continue;
        }
        const std::uint8_t* entry = wanted->file_entry + record::kShortEntry;
        const platform::LocalTime t = local_time_of(get_u16(entry + short_entry::kWriteDate),
                                                    get_u16(entry + short_entry::kWriteTime));
        if (time != nullptr) {
            *time = lyfs_file_time{t.year, t.month, t.day, t.hour, t.minute, t.second};
        }
        return LYFS_OK;
    }
    log_error("[ERROR]lyfs_get_file_time, no file of fd:0x%x\n", fd);
    return LYFS_FAIL;
}

}  // extern "C"
