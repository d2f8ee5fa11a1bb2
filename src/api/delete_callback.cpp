// Registering the host's callback for files the library deletes on its own.
#include "core/log.h"
#include "core/state.h"
#include "lyfs/lyfs.h"

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
