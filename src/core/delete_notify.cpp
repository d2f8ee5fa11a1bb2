#include "core/delete_notify.h"

#include "core/log.h"
#include "core/state.h"
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
