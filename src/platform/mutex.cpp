#include "platform/mutex.h"

#include <new>

#include "platform/memory.h"

namespace lyfs::platform {

Mutex* create_mutex() {
    void* memory = allocate_zeroed(sizeof(Mutex));
    return memory != nullptr ? new (memory) Mutex : nullptr;
}

void close_mutex(Mutex*& mutex) {
    if (mutex != nullptr) {
        mutex->~Mutex();
        release_memory(mutex);
        mutex = nullptr;
    }
}

}  // namespace lyfs::platform
