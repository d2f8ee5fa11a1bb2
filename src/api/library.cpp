// Library start and stop.
#include "api/library.h"

#include "api/log.h"
#include "api/open_files.h"
#include "api/state.h"
#include "device/disk.h"
#include "device/partition.h"
#include "file/file_io.h"
#include "folder/folder.h"
#include "lyfs/lyfs.h"
#include "platform/memory.h"

namespace lyfs {
namespace {

stRvFS* g_rvfs = nullptr;

}  // namespace

stRvFS* library_state() {
    return g_rvfs;
}

void release_partition(stPARTITION* part) {
    write_held_bytes_of_open_files(part);
    release_open_files(part);
    release_folder_objects(part);
    teardown_partition(part);
}

void release_disk(stDISK* disk) {
    while (disk->part_list != nullptr) {
        release_partition(disk->part_list);
    }
    remove_disk(disk);
}

}  // namespace lyfs

using namespace lyfs;

extern "C" {

LYFS_API int32_t CL_LyFS_Start(void) {
    if (g_rvfs != nullptr) {
        log_info("[INFO], CL_LyFS_Start, already started\n");
        return LYFS_OK;
    }
    auto* rvfs = platform::allocate_record<stRvFS>();
    if (rvfs == nullptr) {
        log_error("[ERROR], CL_LyFS_Start malloc for stRvFS failed\n");
        return LYFS_ERR_NO_MEMORY;
    }
    rvfs->h_lib_mutex = platform::create_mutex();
    if (rvfs->h_lib_mutex == nullptr) {
        log_error("[ERROR]CL_LyFS_Start, CreateMutex failed\n");
        platform::release(rvfs);
        return LYFS_ERR_NO_MEMORY;
    }
    g_rvfs = rvfs;
    return LYFS_OK;
}

LYFS_API int32_t CL_LyFS_Stop(void) {
    if (g_rvfs == nullptr) {
        log_info("[INFO], CL_LyFS_Stop, already stopped\n");
        return LYFS_OK;
    }
    // Whatever the host left open is released, not committed: a file that
    // was not closed stays on the card as a not-committed file, which its
    // next read-open recovers.
    while (stDISK* disk = g_rvfs->disk_list) {
        log_debug("CL_LyFS_Stop, delete disk:0x%x\n", disk->handle);
        release_disk(disk);
    }
    platform::close_mutex(g_rvfs->h_lib_mutex);
    platform::release(g_rvfs);
    return LYFS_OK;
}

}  // extern "C"
