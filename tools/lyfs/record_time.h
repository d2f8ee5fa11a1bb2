// When a recording was made: the date and time in its record on the card, stamped from the
// recorder's clock in its local time (no zone is recorded).
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "lyfs/lyfs.h"

namespace lyfs::tool {

// The stamp when it is a date and time that can be (a record of zeros or garbage is not).
std::optional<lyfs_file_time> valid_time(const lyfs_file_time& stamp);

// "2025-06-14T08:00:00", ISO 8601 without a zone, as recorded.
std::string iso_time(const lyfs_file_time& stamp);
// "2025-06-14 08:00:00"
std::string shown_time(const lyfs_file_time& stamp);

// Seconds from 1970-01-01 00:00:00 to the stamp on the recorder's own clock: for the distances
// between recordings, which no zone of this computer should bend.
std::int64_t clock_seconds(const lyfs_file_time& stamp);

// The stamp taken as this computer's local time, as the mount shows a file's time.
std::time_t epoch_of(const lyfs_file_time& stamp);

}  // namespace lyfs::tool
