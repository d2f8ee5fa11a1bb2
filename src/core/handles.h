// The handles the host holds. An object the host can name gets a 32-bit
// number from a counter (never 0, never 0xFFFFFFFF, never reused while the
// process lives); the host's number is looked up here and never dereferenced,
// so a random or stale handle is simply not found.
#pragma once

#include <cstdint>

#include "platform/memory.h"

namespace lyfs {

enum class HandleKind : std::uint8_t { kDisk, kPartition, kFolder, kFile };

// A new handle for `object`, or 0 when the registry is out of memory.
std::uint32_t register_handle(HandleKind kind, void* object);
// The object of that kind, or null for an unknown, stale or mistyped handle.
void* resolve_handle(std::uint32_t handle, HandleKind kind);
void release_handle(std::uint32_t handle);
// Handles currently registered (tests check that nothing is left behind).
std::uint64_t live_handle_count();

// A zero-filled record with a handle of its own, or null (nothing kept) when memory runs
// short for either.
template <typename T>
T* allocate_with_handle(HandleKind kind) {
    T* record = platform::allocate_record<T>();
    if (record != nullptr && (record->handle = register_handle(kind, record)) == 0) {
        platform::release(record);
    }
    return record;
}

template <typename T>
T* resolve(std::uint32_t handle, HandleKind kind) {
    return static_cast<T*>(resolve_handle(handle, kind));
}

}  // namespace lyfs
