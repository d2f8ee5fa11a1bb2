// Sizes as people type and read them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lyfs::tool {

// "8G", "256M", "512MiB", "64k" or plain bytes; units are binary (K = 1024).
std::optional<std::uint64_t> parse_size(std::string_view text);

// "512 B", "1.5 KiB", "7.4 GiB".
std::string format_size(std::uint64_t bytes);

// "90s", "5m", "1h30m", "2d" or plain seconds: a length of time in seconds.
std::optional<std::int64_t> parse_duration(std::string_view text);

// "45s", "5m", "1h 30m", "2d 3h": the largest units, to the second.
std::string format_duration(std::int64_t seconds);

// "393184 sectors (192.0 MiB)"
std::string format_sectors(std::uint64_t sectors);

// "1 file", "3 files".
std::string counted(std::uint64_t count, std::string_view noun);

inline constexpr std::uint64_t kSectorBytes = 512;
inline constexpr std::uint64_t kMiB = 1024 * 1024;

}  // namespace lyfs::tool
