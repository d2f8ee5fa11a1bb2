// Opening files by path or by fd, creating new ones, and recovering files
// whose writer never closed them.
#include <cstring>

#include "core/log.h"
#include "device/dev_desc.h"
#include "entry/file_entry.h"
#include "entry/ring.h"
#include "fat/fat.h"
#include "file/file_io.h"
#include "file/reclaim.h"
#include "folder/content_area.h"
#include "folder/folder.h"
#include "layout/codec.h"
#include "lyfs/lyfs.h"

namespace lyfs {
namespace {

constexpr std::size_t kMaxPathTail = 127;  // characters after the leading "/"

struct ParsedPath {
    char folder[kFolderNameBytes];
    char name[kFileNameBytes];
};

// Splits /FOLDER/NAME; false (with its line logged) for what names no file.
bool parse_path(const char* path, ParsedPath* out) {
    const char* tail = path + (path[0] != '\0' ? 1 : 0);
    const std::size_t length = strnlen(tail, kMaxPathTail + 1);
    if (length > kMaxPathTail) {
        log_error("[ERROR]CL_LyFS_File_Open, file_path is over limit\n");
        return false;
    }
    const char* slash = std::strrchr(tail, '/');
    if (slash == nullptr || slash[1] == '\0') {
        log_error("[ERROR]CL_LyFS_File_Open, no file name in file_path, %s\n", path);
        return false;
    }
    const std::size_t folder_length = static_cast<std::size_t>(slash - tail);
    const std::size_t name_length = std::strlen(slash + 1);
    if (name_length > kMaxFileNameLength) {
        log_error("[ERROR]CL_LyFS_File_Open, file_name length is over limit, %s, %d\n", slash + 1,
                  static_cast<int>(name_length));
        return false;
    }
    if (folder_length >= kFolderNameBytes) {
        log_error("[ERROR]CL_LyFS_File_Open, get_folder_object failed\n");
        return false;
    }
    std::memcpy(out->folder, tail, folder_length);
    out->folder[folder_length] = '\0';
    std::memcpy(out->name, slash + 1, name_length + 1);
    return true;
}

// The folder of this partition that holds the file the host's fd names, or null.
stFOLDER* folder_of_fd(stPARTITION* part, std::uint32_t fd) {
    const stFILE* wanted = resolve<stFILE>(fd, HandleKind::kFile);
    if (wanted == nullptr) {
        return nullptr;
    }
    platform::MutexGuard guard(part->h_folder_list_mutex);
    for (stFOLDER* folder = part->folder_list; folder != nullptr; folder = folder->next) {
        if (check_file_object(folder, wanted) != nullptr) {
            return folder;
        }
    }
    return nullptr;
}

int32_t reserve_and_write_entry(stPARTITION* part, stFOLDER* folder, const char* name,
                                std::uint32_t* slot, std::uint32_t* start, std::uint8_t* record) {
    platform::MutexGuard commit_guard(part->h_file_commit_mutex);
    std::uint32_t previous_tail = 0;
    {
        platform::MutexGuard fe_guard(folder->h_fe_mutex);
        previous_tail = folder->fe_tail_index;
    }
    int32_t status = find_free_file_entry(part, folder, slot);
    if (status == LYFS_ERR_RING_FULL) {
        log_error("[ERROR]create_file, find_free_file_entry, no free entry\n");
        return status;
    }
    if (status != LYFS_OK) {
        log_error("[ERROR]create_file, find_free_file_entry failed, ret:%d\n", status);
        return status;
    }
    // From here on a failure gives the slot back, so the ring never keeps a
    // reserved hole that would stop the reclaim.
    status = find_free_fcon_fat_entry(part, folder, start, held_by_open_writer);
    if (status == LYFS_ERR_NO_FREE_CLUSTER) {
        log_error("[ERROR]create_file, find_free_fcon_fat_entry failed, fat is full, ret:%d\n",
                  status);
    }
    if (status == LYFS_OK) {
        platform::MutexGuard fe_guard(folder->h_fe_mutex);
        log_info(
            "[RVFS]+WR File, Folder:%s, File:%s, Start Clus:%d, File Entry:%d, hdr:%d, "
            "tail:%d, free:%d\n",
            folder->fold_name, name, *start, *slot, folder->fe_hdr_index, folder->fe_tail_index,
            folder->fe_totals - folder->fe_valid_entries);
    }
    if (status == LYFS_OK && (status = setup_file_entry(record, name, *start)) != LYFS_OK) {
        log_error("[ERROR]create_file_entry, fill_file_entry failed\n");
        log_error("[ERROR]create_file, write_file_entry failed\n");
    }
    if (status == LYFS_OK && (status = write_file_entry(part, folder, *slot, record)) != LYFS_OK) {
        log_error("[ERROR]create_file_entry, write_file_entry failed\n");
        log_error("[ERROR]create_file, write_file_entry failed\n");
    }
    if (status != LYFS_OK) {
        release_reserved_file_entry(folder, *slot, previous_tail);
    }
    return status;
}

// Finishes a file whose writer never closed it: its size becomes its whole
// clusters, on the card too.
int32_t recover_not_committed(stPARTITION* part, stOPEN_FILE* node) {
    stFILE* file = node->p_file;
    {
        platform::MutexGuard guard(file->p_fold->h_file_list_mutex);
        file->file_size = node->clus_chain.n_clus * part->bytes_per_clus;
        put_u32(file->file_entry + record::kSize, file->file_size);
    }
    log_info("[INFO]CL_LyFS_File_Open, recover not committed file, file_name:%s, file_size:%d\n",
             file->file_name, file->file_size);
    if (write_file_entry(part, file->p_fold, file->file_entry_index, file->file_entry) != LYFS_OK) {
        log_error("[ERROR]CL_LyFS_File_Open, recover file, write_file_entry failed\n");
        return LYFS_FAIL;
    }
    return LYFS_OK;
}

stFILE* resolve_file(stPARTITION* part, stFOLDER* folder, const char* name, bool for_writing) {
    stFILE* file = find_file_object(folder, name);
    if (for_writing) {
        if (file != nullptr) {
            log_info("[INFO]CL_LyFS_File_Open, find_file_object for writing, same file existed\n");
            return nullptr;
        }
        file = create_file(part, folder, name);
    } else if (file == nullptr) {
        log_error("[ERROR]CL_LyFS_File_Open for read, find_file_object failed\n");
        file = generate_file_object(part, folder, name);
    }
    if (file == nullptr) {
        log_error("[ERROR]CL_LyFS_File_Open, create_file_entry failed\n");
    }
    return file;
}

std::uint32_t register_and_prepare(stPARTITION* part, stFILE* file, bool for_writing) {
    if (find_open_file(part, file) != nullptr) {
        return file->handle;  // already open: nothing is reset
    }
    stOPEN_FILE* node = nullptr;
    if (register_open_file_list(part, file, for_writing ? kOpenForWriting : kOpenForReading,
                                &node) != LYFS_OK) {
        log_error("[ERROR]CL_LyFS_File_Open, register_open_file_list failed\n");
        return LYFS_INVALID_FD;
    }
    if (alloc_cluster_chain_mem(part, &node->clus_chain) != LYFS_OK) {
        log_error("[ERROR]CL_LyFS_File_Open, alloc_cluster_chain_mem failed\n");
        release_open_file(part, node);
        return LYFS_INVALID_FD;
    }
    if (for_writing) {
        return file->handle;
    }
    node->file_pos = 0;
    if (construct_file_cluster_chain(&node->clus_chain, part, file->p_fold, file->start_cluster,
                                     nullptr) != LYFS_OK ||
        (file->file_size == 0 && recover_not_committed(part, node) != LYFS_OK)) {
        release_open_file(part, node);
        return LYFS_INVALID_FD;
    }
    return file->handle;
}

}  // namespace

stFILE* create_file(stPARTITION* part, stFOLDER* folder, const char* name) {
    if (verify_fold_space_ex(part, folder) != LYFS_OK) {
        log_error("[ERROR]create_file, verify_fold_space failed\n");
        return nullptr;
    }
    std::uint32_t slot = 0;
    std::uint32_t start = 0;
    std::uint8_t record[kFileEntryBytes];
    if (reserve_and_write_entry(part, folder, name, &slot, &start, record) != LYFS_OK) {
        return nullptr;
    }
    stFILE* file = create_file_object(folder, name, start, slot, record);
    if (file == nullptr) {
        log_error("[ERROR]write_file_entry, create_file_object failed\n");
    }
    return file;
}

}  // namespace lyfs

using namespace lyfs;

extern "C" {

LYFS_API uint32_t CL_LyFS_File_Open(dev_desc* dev_handle, const char* file_path, const char* mode,
                                    uint32_t reserved1, uint32_t reserved2, uint32_t fd) {
    (void)reserved1;
    (void)reserved2;
    log_debug("+CL_LyFS_File_Open, dev_handle:0x%x, file_path:%s, mode:%s\n",
              dev_handle != nullptr ? dev_handle->part_handle : 0,
              file_path != nullptr ? file_path : "", mode != nullptr ? mode : "");
    stPARTITION* part = partition_of(dev_handle);
    if (part == nullptr) {
        log_error("[ERROR]CL_LyFS_File_Open, doesn't find part object\n");
        return LYFS_INVALID_FD;
    }
    const bool exactly_read = mode != nullptr && std::strcmp(mode, "r") == 0;
    const bool for_writing = mode != nullptr && std::strcmp(mode, "w") == 0;
    // Refused before the reclaim could delete anything.
    if (for_writing && part->p_disk->read_only != 0) {
        log_error(
            "[ERROR]CL_LyFS_File_Open, the card is mounted read-only, no file is created, %s\n",
            file_path != nullptr ? file_path : "");
        return LYFS_INVALID_FD;
    }
    if (file_path == nullptr && !exactly_read) {
        log_error("[ERROR]CL_LyFS_File_Open, null file_path with mode %s\n",
                  mode != nullptr ? mode : "(null)");
        return LYFS_INVALID_FD;
    }
    if (exactly_read && (file_path == nullptr || std::strchr(file_path, '/') == nullptr)) {
        stFOLDER* folder = folder_of_fd(part, fd);
        // The reclaim deletes a file that is not open under this lock: the file stays until
        // it is registered as open. Looked up again under it, as it may have gone already.
        const platform::MutexGuard space_guard(folder != nullptr ? folder->h_space_mutex : nullptr);
        stFILE* file = folder != nullptr
                           ? check_file_object(folder, resolve<stFILE>(fd, HandleKind::kFile))
                           : nullptr;
        if (file == nullptr) {
            log_error(
                "[ERROR]CL_LyFS_File_Open, doesn't find p_file in case null file_path, "
                "fd:0x%x\n",
                fd);
            return LYFS_INVALID_FD;
        }
        log_debug("find file from the file list by fd:0x%x, file_name:%s, folder_name:%s\n", fd,
                  file->file_name, file->p_fold->fold_name);
        return register_and_prepare(part, file, false);
    }
    ParsedPath path{};
    if (!parse_path(file_path, &path)) {
        return LYFS_INVALID_FD;
    }
    stFOLDER* folder = get_folder_object(part, path.folder);
    if (folder == nullptr) {
        log_error("[ERROR]CL_LyFS_File_Open, get_folder_object failed\n");
        return LYFS_INVALID_FD;
    }
    // As above: no file this open finds is deleted before it is registered as open.
    const platform::MutexGuard space_guard(folder->h_space_mutex);
    if (exactly_read) {
        if (stOPEN_FILE* open = find_open_file_list_name(part, folder, path.name)) {
            log_info("[INFO]CL_LyFS_File_Open, find_open_file_list_name, already opened, %s\n",
                     path.name);
            return open->p_file->handle;
        }
    }
    stFILE* file = resolve_file(part, folder, path.name, for_writing);
    if (file == nullptr) {
        return LYFS_INVALID_FD;
    }
    return register_and_prepare(part, file, for_writing);
}

}  // extern "C"
