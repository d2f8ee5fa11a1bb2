// The library-wide state: the disk list and the host's delete callback.
#pragma once

#include <cstdint>

#include "lyfs/lyfs.h"
#include "platform/mutex.h"

namespace lyfs {

struct stDISK;

struct stRvFS {
    stDISK* disk_list;
    platform::Mutex* h_lib_mutex;
    lyfs_file_delete_cb delete_cb;
};

// Null while the library is stopped.
stRvFS* library_state();
// Set by start, cleared by stop.
void set_library_state(stRvFS* state);

}  // namespace lyfs
