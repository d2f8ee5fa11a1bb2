#include "core/log.h"

#include <cstdarg>
#include <cstdio>

#include "platform/debug_output.h"

namespace lyfs {
namespace {

void format_and_send(const char* format, va_list args) {
    char line[kLogLineBytes];
    line[0] = '\0';
    // Bounded: a longer text is cut after its 511th character.
    (void)std::vsnprintf(line, sizeof line, format, args);
    line[sizeof line - 1] = '\0';
    platform::debug_output(line);
}

}  // namespace

void log_debug(const char* format, ...) {
    if (!platform::debug_traces_enabled()) {
        return;
    }
    va_list args;
    va_start(args, format);
    format_and_send(format, args);
    va_end(args);
}

void log_info(const char* format, ...) {
    va_list args;
    va_start(args, format);
    format_and_send(format, args);
    va_end(args);
}

void log_error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    format_and_send(format, args);
    va_end(args);
}

}  // namespace lyfs
