#include "api/delete_callback.h"

#include "api/log.h"
#include "api/state.h"
#include "lyfs/lyfs.h"

namespace lyfs {

void CB_FILE_DELETED(std::uint32_t fd, std::uint32_t length, char* path) {
    lyfs_file_delete_cb callback = nullptr;
    if (stRvFS* rvfs = library_state()) {
        platform::MutexGuard guard(rvfs->h_lib_mutex);
        callback = rvfs->delete_cb;
    }
    if (callback != nullptr) {
        callback(fd, length, path);
    }
    log_debug("CB_FILE_DELETED, fd:0x%x, file_name:%s\n", fd, path);
}

}  // namespace lyfs

extern "C" {

// Hosts written against the old interface find the symbol; the library
// never reads it.
LYFS_API uint32_t fptr_file_delete_cb = 0;

LYFS_API void CL_LyFS_File_Delete_Callback_Register(lyfs_file_delete_cb callback) {
    lyfs::stRvFS* rvfs = lyfs::library_state();
    if (rvfs == nullptr) {
        lyfs::log_error("[ERROR]CL_LyFS_File_Delete_Callback_Register, library not started\n");
        return;
    }
    lyfs::platform::MutexGuard guard(rvfs->h_lib_mutex);
    rvfs->delete_cb = callback;
}

}  // extern "C"
