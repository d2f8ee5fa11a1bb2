// Every byte of a card moves through these two calls.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace lyfs {

inline constexpr std::uint32_t kSectorBytes = 512;
inline constexpr std::uint32_t kNotReadyAttempts = 3;
inline constexpr std::uint32_t kNotReadyPauseMs = 100;

int32_t read_sectors(platform::DeviceHandle device, void* buffer, std::uint32_t first_sector,
                     std::uint32_t sector_count);
int32_t write_sectors(platform::DeviceHandle device, const void* buffer, std::uint32_t first_sector,
                      std::uint32_t sector_count);
// The same for up to platform::kMaxIoParts buffers of whole sectors that
// lie one behind the other on the device, in one request.
int32_t read_sector_parts(platform::DeviceHandle device, const platform::IoPart* parts,
                          std::uint32_t count, std::uint32_t first_sector);
int32_t write_sector_parts(platform::DeviceHandle device, const platform::ConstIoPart* parts,
                           std::uint32_t count, std::uint32_t first_sector);
// The size of the pages the operating system caches the device in: a power
// of two of at least a sector (the platform's default where it names none
// such), so that whole pages are whole sectors.
std::uint32_t device_page_bytes();
// Makes the writes so far durable (a committed file must survive pulling the
// card). Returns 0 or 42.
int32_t flush_device(platform::DeviceHandle device);

}  // namespace lyfs
