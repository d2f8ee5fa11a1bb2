// Re-entrant locks with an infinite wait, and the one scoped guard that every
// lock of the library is taken through.
#pragma once

#include <mutex>

namespace lyfs::platform {

using Mutex = std::recursive_mutex;

// A new lock, or null when it cannot be created (out of memory).
Mutex* create_mutex();
// Destroys the lock and nulls the pointer; a null pointer is left alone.
void close_mutex(Mutex*& mutex);

// Holds `mutex` for its scope. A null lock is not taken: records built for a
// single-threaded job (formatting) have none.
class MutexGuard {
public:
    explicit MutexGuard(Mutex* mutex) : mutex_(mutex) {
        if (mutex_ != nullptr) {
            mutex_->lock();
        }
    }
    ~MutexGuard() {
        if (mutex_ != nullptr) {
            mutex_->unlock();
        }
    }
    MutexGuard(const MutexGuard&) = delete;
    MutexGuard& operator=(const MutexGuard&) = delete;

private:
    Mutex* mutex_;
};

}  // namespace lyfs::platform
