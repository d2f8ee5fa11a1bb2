#include "platform/memory.h"

#include <atomic>
#include <cstdlib>

namespace lyfs::platform {
namespace {

std::atomic<std::uint64_t> g_allocations{0};
std::atomic<std::int64_t> g_live{0};
std::atomic<std::uint64_t> g_fail_at{0};
std::atomic<bool> g_fail_for_good{false};

}  // namespace

void* allocate_zeroed(std::size_t bytes) {
    std::uint64_t number = g_allocations.fetch_add(1, std::memory_order_relaxed) + 1;
    std::uint64_t fail_at = g_fail_at.load(std::memory_order_relaxed);
    if (fail_at != 0 && (number == fail_at || (number > fail_at && g_fail_for_good.load()))) {
        return nullptr;
    }
    void* memory = std::calloc(1, bytes == 0 ? 1 : bytes);
    if (memory != nullptr) {
        g_live.fetch_add(1, std::memory_order_relaxed);
    }
    return memory;
}

void release_memory(void* memory) {
    if (memory != nullptr) {
        g_live.fetch_sub(1, std::memory_order_relaxed);
    }
    std::free(memory);
}

void fail_allocation_at(std::uint64_t nth, bool for_good) {
    g_fail_for_good.store(for_good);
    g_fail_at.store(nth == 0 ? 0 : g_allocations.load() + nth);
}

std::uint64_t allocation_count() {
    return g_allocations.load();
}

std::int64_t live_allocations() {
    return g_live.load();
}

}  // namespace lyfs::platform
