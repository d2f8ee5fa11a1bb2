#include "platform/platform.h"

#include <atomic>

namespace lyfs::platform {
namespace {

// Null while the native table is in force.
std::atomic<const PlatformTable*> g_replacement{nullptr};

}  // namespace

const PlatformTable& table() {
    const PlatformTable* replacement = g_replacement.load(std::memory_order_acquire);
    return replacement != nullptr ? *replacement : native_table();
}

void install_table(const PlatformTable* replacement) {
    g_replacement.store(replacement, std::memory_order_release);
}

}  // namespace lyfs::platform
