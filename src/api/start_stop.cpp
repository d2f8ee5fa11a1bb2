// Library start and stop.
#include "api/release.h"
#include "core/log.h"
#include "core/state.h"
#include "device/disk.h"
#include "lyfs/lyfs.h"
#include "platform/memory.h"

using namespace lyfs;

extern "C" {

LYFS_API int32_t CL_LyFS_Start(void) {
    if (library_state() != nullptr) {
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
    set_library_state(rvfs);
    return LYFS_OK;
}

LYFS_API int32_t CL_LyFS_Stop(void) {
    stRvFS* rvfs = library_state();
    if (rvfs == nullptr) {
        log_info("[INFO], CL_LyFS_Stop, already stopped\n");
        return LYFS_OK;
    }
    // Whatever the host left open is released, not committed: a file that
    // was not closed stays on the card as a not-committed file, which its
    // next read-open recovers.
    while (stDISK* disk = rvfs->disk_list) {
        log_debug("CL_LyFS_Stop, delete disk:0x%x\n", disk->handle);
        release_disk(disk);
    }
    set_library_state(nullptr);
    platform::close_mutex(rvfs->h_lib_mutex);
    platform::release(rvfs);
    return LYFS_OK;
}

}  // extern "C"
