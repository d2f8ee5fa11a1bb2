// The sink for diagnostic lines (the stand-in for a debugger's output).
#pragma once

#include "lyfs/lyfs.h"

namespace lyfs::platform {

// Sends one finished line to the installed sink. Without one it goes to the
// system's debug output on Windows (OutputDebugStringA), and to stderr when
// the environment variable LYFS_DEBUG is set.
void debug_output(const char* line);
// Whether trace lines should be formatted at all.
bool debug_traces_enabled();
void set_debug_output(lyfs_debug_sink sink, void* user, bool verbose);

}  // namespace lyfs::platform
