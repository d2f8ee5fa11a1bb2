// The library-wide state: the disk list and the host's delete callback.
#pragma once

#include <cstdint>

#include "platform/mutex.h"

namespace lyfs {

struct stDISK;

using FileDeleteCallback = void (*)(std::uint32_t fd, std::uint32_t length, char* path);

struct stRvFS {
    stDISK* disk_list;
    platform::Mutex* h_lib_mutex;
    FileDeleteCallback delete_cb;
};

// Null while the library is stopped.
stRvFS* library_state();

}  // namespace lyfs
