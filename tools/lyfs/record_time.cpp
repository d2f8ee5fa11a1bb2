#include "record_time.h"

#include <chrono>
#include <cstdio>

namespace lyfs::tool {
namespace {

std::chrono::year_month_day date_of(const lyfs_file_time& stamp) {
    return std::chrono::year(stamp.year) / std::chrono::month(stamp.month) /
           std::chrono::day(stamp.day);
}

std::string formatted(const lyfs_file_time& stamp, char between) {
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u%c%02u:%02u:%02u", unsigned{stamp.year},
                  unsigned{stamp.month}, unsigned{stamp.day}, between, unsigned{stamp.hour},
                  unsigned{stamp.minute}, unsigned{stamp.second});
    return text;
}

}  // namespace

std::optional<lyfs_file_time> valid_time(const lyfs_file_time& stamp) {
    if (!date_of(stamp).ok() || stamp.hour > 23 || stamp.minute > 59 || stamp.second > 59) {
        return std::nullopt;
    }
    return stamp;
}

std::string iso_time(const lyfs_file_time& stamp) {
    return formatted(stamp, 'T');
}

std::string shown_time(const lyfs_file_time& stamp) {
    return formatted(stamp, ' ');
}

std::int64_t clock_seconds(const lyfs_file_time& stamp) {
    const std::chrono::sys_days day(date_of(stamp));
    return std::int64_t{day.time_since_epoch().count()} * 86400 + stamp.hour * 3600 +
           stamp.minute * 60 + stamp.second;
}

std::time_t epoch_of(const lyfs_file_time& stamp) {
    std::tm parts{};
    parts.tm_year = stamp.year - 1900;
    parts.tm_mon = stamp.month - 1;
    parts.tm_mday = stamp.day;
    parts.tm_hour = stamp.hour;
    parts.tm_min = stamp.minute;
    parts.tm_sec = stamp.second;
    parts.tm_isdst = -1;  // the recorder's clock is local time
    return std::mktime(&parts);
}

}  // namespace lyfs::tool
