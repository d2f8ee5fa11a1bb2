#include "core/handles.h"

#include <mutex>
#include <new>
#include <unordered_map>

namespace lyfs {
namespace {

struct Entry {
    HandleKind kind;
    void* object;
};

// The registry is touched while other library locks are held, so it has a
// leaf lock of its own rather than one from the lock inventory.
struct Registry {
    std::mutex mutex;
    std::unordered_map<std::uint32_t, Entry> entries;
    std::uint32_t last = 0;
};

Registry& registry() {
    static Registry* instance = new Registry;  // lives as long as the process
    return *instance;
}

}  // namespace

std::uint32_t register_handle(HandleKind kind, void* object) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    std::uint32_t handle = r.last + 1;
    if (handle == 0xFFFFFFFFu) {
        return 0;  // four billion objects in one process: refuse rather than reuse
    }
    try {
        r.entries.emplace(handle, Entry{kind, object});
    } catch (const std::bad_alloc&) {
        return 0;
    }
    r.last = handle;
    return handle;
}

void* resolve_handle(std::uint32_t handle, HandleKind kind) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    auto it = r.entries.find(handle);
    if (it == r.entries.end() || it->second.kind != kind) {
        return nullptr;
    }
    return it->second.object;
}

void release_handle(std::uint32_t handle) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    r.entries.erase(handle);
}

std::uint64_t live_handle_count() {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    return r.entries.size();
}

}  // namespace lyfs
