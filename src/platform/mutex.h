// Re-entrant locks with an infinite wait, and the one scoped guard that every
// lock of the library is taken through.
#pragma once

#if !defined(_WIN32)
#include <mutex>
#endif

namespace lyfs::platform {

#if defined(_WIN32)
// MinGW offers std::recursive_mutex only in its POSIX-threads runtime; a
// critical section is Windows' own re-entrant lock and waits without limit.
class Mutex {
public:
    Mutex();
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock();
    void unlock();

private:
    // The CRITICAL_SECTION itself, kept opaque so that no Windows header
    // reaches the rest of the library.
    alignas(void*) unsigned char section_[sizeof(void*) == 8 ? 40 : 24];
};
#else
using Mutex = std::recursive_mutex;
#endif

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
