#include "layout/dir_entry_codec.h"

#include <cstring>

#include "layout/codec.h"

namespace lyfs {
namespace {

// Where the 13 character units of a long-name entry sit: 5, then 6, then 2.
constexpr std::uint32_t kUnitOffsets[kLongNameChars] = {1,  3,  5,  7,  9,  14, 16,
                                                        18, 20, 22, 24, 28, 30};
constexpr std::uint32_t kLongChecksum = 13;
constexpr std::uint32_t kLongFirstCluster = 26;
constexpr std::uint8_t kLastLongEntryFlag = 0x40;

}  // namespace

std::uint16_t fat_time(const platform::LocalTime& t) {
    return static_cast<std::uint16_t>(t.hour * 2048 + (t.minute % 64) * 32 + (t.second / 2) % 32);
}

std::uint16_t fat_date(const platform::LocalTime& t) {
    return static_cast<std::uint16_t>((t.year - 1980) * 512 + (t.month % 16) * 32 + t.day % 32);
}

platform::LocalTime local_time_of(std::uint16_t date, std::uint16_t time) {
    platform::LocalTime t;
    t.year = static_cast<std::uint16_t>(1980 + (date >> 9));
    t.month = static_cast<std::uint8_t>((date >> 5) & 0x0F);
    t.day = static_cast<std::uint8_t>(date & 0x1F);
    t.hour = static_cast<std::uint8_t>(time >> 11);
    t.minute = static_cast<std::uint8_t>((time >> 5) & 0x3F);
    t.second = static_cast<std::uint8_t>((time & 0x1F) * 2);
    return t;
}

void fill_short_entry(std::uint8_t* entry, const char* name8, const std::uint8_t ext[3],
                      std::uint8_t attr, std::uint32_t first_cluster) {
    platform::LocalTime now;
    platform::table().local_time(&now);
    const std::uint16_t time = fat_time(now);
    const std::uint16_t date = fat_date(now);

    std::memset(entry, 0, kDirEntryBytes);
    std::memset(entry + short_entry::kName, ' ', kShortNameBytes);
    for (std::uint32_t i = 0; i < kShortNameBytes && name8[i] != '\0'; ++i) {
        entry[short_entry::kName + i] = static_cast<std::uint8_t>(name8[i]);
    }
    std::memcpy(entry + short_entry::kExt, ext, kShortExtBytes);
    entry[short_entry::kAttr] = attr;
    put_u16(entry + short_entry::kCreateTime, time);
    put_u16(entry + short_entry::kCreateDate, date);
    put_u16(entry + short_entry::kAccessDate, date);
    put_u16(entry + short_entry::kClusterHigh, static_cast<std::uint16_t>(first_cluster >> 16));
    put_u16(entry + short_entry::kWriteTime, time);
    put_u16(entry + short_entry::kWriteDate, date);
    put_u16(entry + short_entry::kClusterLow, static_cast<std::uint16_t>(first_cluster));
}

std::uint8_t short_name_checksum(const std::uint8_t* name11) {
    std::uint8_t sum = 0;
    for (std::uint32_t i = 0; i < kShortNameBytes + kShortExtBytes; ++i) {
        sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + name11[i]);
    }
    return sum;
}

std::uint32_t put_long_name_entries(std::uint8_t* group, const char* name, std::uint32_t length) {
    const std::uint32_t count = (length + kLongNameChars - 1) / kLongNameChars;
    if (count == 0 || count > kMaxLongNameEntries) {
        return 0;
    }
    const std::uint8_t* short_entry = group + kMaxLongNameEntries * kDirEntryBytes;
    const std::uint8_t checksum = short_name_checksum(short_entry);
    for (std::uint32_t seq = 1; seq <= count; ++seq) {
        std::uint8_t* entry = group + (kMaxLongNameEntries - seq) * kDirEntryBytes;
        std::memset(entry, 0, kDirEntryBytes);
        entry[0] = static_cast<std::uint8_t>(seq | (seq == count ? kLastLongEntryFlag : 0));
        entry[short_entry::kAttr] = kAttrLongName;
        entry[kLongChecksum] = checksum;
        put_u16(entry + kLongFirstCluster, 0);
        const std::uint32_t first = (seq - 1) * kLongNameChars;
        for (std::uint32_t i = 0; i < kLongNameChars; ++i) {
            std::uint16_t unit = 0xFFFF;
            if (first + i < length) {
                // Sign extension: a byte above 0x7F becomes 0xFFxx.
                unit = static_cast<std::uint16_t>(
                    static_cast<std::int16_t>(static_cast<signed char>(name[first + i])));
            } else if (first + i == length) {
                unit = 0x0000;
            }
            put_u16(entry + kUnitOffsets[i], unit);
        }
    }
    return count;
}

std::uint32_t short_entry_cluster(const std::uint8_t* entry) {
    return (static_cast<std::uint32_t>(get_u16(entry + short_entry::kClusterHigh)) << 16) |
           get_u16(entry + short_entry::kClusterLow);
}

}  // namespace lyfs
