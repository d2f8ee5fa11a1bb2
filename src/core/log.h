// The library's diagnostic log. Trace lines cost a flag test unless verbose
// output is switched on; info and error lines are formatted into at most 511
// characters and sent as they are, each format carrying its own "\n".
#pragma once

#define LYFS_PRINTF_CHECK(fmt_index, first_arg) \
    __attribute__((format(printf, fmt_index, first_arg)))

namespace lyfs {

inline constexpr int kLogLineBytes = 512;

void log_debug(const char* format, ...) LYFS_PRINTF_CHECK(1, 2);
void log_info(const char* format, ...) LYFS_PRINTF_CHECK(1, 2);
void log_error(const char* format, ...) LYFS_PRINTF_CHECK(1, 2);

}  // namespace lyfs
