#include "platform/debug_output.h"

#if defined(_WIN32)
#include <windows.h>
#endif

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace lyfs::platform {
namespace {

struct Sink {
    lyfs_debug_sink function = nullptr;
    void* user = nullptr;
};

std::mutex g_sink_mutex;
Sink g_sink;
std::atomic<bool> g_verbose{false};

bool environment_asks_for_output() {
    static const bool asked = std::getenv("LYFS_DEBUG") != nullptr;
    return asked;
}

}  // namespace

void debug_output(const char* line) {
    Sink sink;
    {
        std::lock_guard<std::mutex> guard(g_sink_mutex);
        sink = g_sink;
    }
    if (sink.function != nullptr) {
        sink.function(line, sink.user);
        return;
    }
#if defined(_WIN32)
    // Where debuggers and debug-output viewers listen.
    OutputDebugStringA(line);
#endif
    if (environment_asks_for_output()) {
        std::fputs(line, stderr);
    }
}

bool debug_traces_enabled() {
    return g_verbose.load(std::memory_order_relaxed);
}

void set_debug_output(lyfs_debug_sink sink, void* user, bool verbose) {
    std::lock_guard<std::mutex> guard(g_sink_mutex);
    g_sink.function = sink;
    g_sink.user = user;
    g_verbose.store(verbose, std::memory_order_relaxed);
}

}  // namespace lyfs::platform
