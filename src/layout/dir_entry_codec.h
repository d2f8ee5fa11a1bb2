// The 32-byte FAT directory entries the card uses for folder entries and
// file-entry records: the short entry with its time stamps, and the
// long-name entries that carry names longer than the short one.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace lyfs {

inline constexpr std::uint32_t kDirEntryBytes = 32;
inline constexpr std::uint8_t kAttrLongName = 0x0F;
inline constexpr std::uint8_t kEntryErased = 0xE5;
inline constexpr std::uint32_t kLongNameChars = 13;  // per long-name entry
inline constexpr std::uint32_t kMaxLongNameEntries = 3;
inline constexpr std::uint32_t kShortNameBytes = 8;
inline constexpr std::uint32_t kShortExtBytes = 3;

// Field offsets of a short entry.
namespace short_entry {
inline constexpr std::uint32_t kName = 0;
inline constexpr std::uint32_t kExt = 8;
inline constexpr std::uint32_t kAttr = 11;
inline constexpr std::uint32_t kCreateTime = 14;
inline constexpr std::uint32_t kCreateDate = 16;
inline constexpr std::uint32_t kAccessDate = 18;
inline constexpr std::uint32_t kClusterHigh = 20;
inline constexpr std::uint32_t kWriteTime = 22;
inline constexpr std::uint32_t kWriteDate = 24;
inline constexpr std::uint32_t kClusterLow = 26;
inline constexpr std::uint32_t kSize = 28;
}  // namespace short_entry

// FAT time and date encodings of a local time.
std::uint16_t fat_time(const platform::LocalTime& t);
std::uint16_t fat_date(const platform::LocalTime& t);
// The local time a FAT date and time stand for.
platform::LocalTime local_time_of(std::uint16_t date, std::uint16_t time);

// Fills a 32-byte short entry: the 8 name bytes (blank-padded), the 3 `ext`
// bytes as given, the attribute, the current local time in all stamps, the
// first cluster and a size of 0.
void fill_short_entry(std::uint8_t* entry, const char* name8, const std::uint8_t ext[3],
                      std::uint8_t attr, std::uint32_t first_cluster);

// The long-file-name checksum of the 11 name bytes of a short entry.
std::uint8_t short_name_checksum(const std::uint8_t* name11);

// Writes the long-name entries of `name` into a 128-byte group whose fourth
// slot already holds the short entry: sequence 1 (the first 13 characters)
// in slot 3 - 1, sequence 2 before it, and so on; the last carries 0x40.
// Characters are widened to 16 bits with sign extension; the unit after the
// name is 0x0000 unless the name fills its entry; later units are 0xFFFF.
// Returns the number of entries written (1 to 3), or 0 when the name is
// longer than three entries hold.
std::uint32_t put_long_name_entries(std::uint8_t* group, const char* name, std::uint32_t length);

// The cluster a short entry points at.
std::uint32_t short_entry_cluster(const std::uint8_t* entry);

}  // namespace lyfs
