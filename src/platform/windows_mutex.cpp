#include <windows.h>

#include "platform/mutex.h"

namespace lyfs::platform {
namespace {

CRITICAL_SECTION* section_of(unsigned char* storage) {
    return reinterpret_cast<CRITICAL_SECTION*>(storage);
}

}  // namespace

Mutex::Mutex() {
    static_assert(sizeof(CRITICAL_SECTION) == sizeof(section_) &&
                  alignof(CRITICAL_SECTION) <= alignof(void*));
    // Never fails on the Windows versions that can run the library.
    InitializeCriticalSection(section_of(section_));
}

Mutex::~Mutex() {
    DeleteCriticalSection(section_of(section_));
}

void Mutex::lock() {
    EnterCriticalSection(section_of(section_));
}

void Mutex::unlock() {
    LeaveCriticalSection(section_of(section_));
}

}  // namespace lyfs::platform
