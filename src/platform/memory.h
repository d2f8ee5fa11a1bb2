// Every allocation of the library goes through here, zero-filled, so that
// tests can make the k-th one fail and walk every out-of-memory path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>

namespace lyfs::platform {

// Zero-filled memory, or null. Free with release_memory.
void* allocate_zeroed(std::size_t bytes);
void release_memory(void* memory);

// A zero-filled plain record, or null.
template <typename T>
T* allocate_record() {
    static_assert(
        std::is_trivially_default_constructible_v<T> && std::is_trivially_destructible_v<T>,
        "library records are plain data");
    void* memory = allocate_zeroed(sizeof(T));
    return memory != nullptr ? new (memory) T : nullptr;
}

// Frees and nulls a record or buffer pointer.
template <typename T>
void release(T*& memory) {
    release_memory(memory);
    memory = nullptr;
}

// Test hook: the allocation with this 1-based number (counted from the call)
// fails; with `for_good`, every later one fails too. 0 switches it off.
void fail_allocation_at(std::uint64_t nth, bool for_good = false);
// Allocations made since the process started (tests count them).
std::uint64_t allocation_count();
// Allocations not released yet: tests find what an operation left behind.
std::int64_t live_allocations();

}  // namespace lyfs::platform
