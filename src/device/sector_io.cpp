#include "device/sector_io.h"

#include <algorithm>

#include "core/log.h"
#include "device/kept_writes.h"
#include "lyfs/lyfs.h"
#include "platform/mutex.h"

namespace lyfs {
namespace {

// One lock for every transfer of every disk, alive as long as the library,
// so each positioning is paired with its own transfer.
platform::Mutex& sector_io_mutex() {
    static platform::Mutex mutex;
    return mutex;
}

// Largest request whose byte count still fits 32 bits.
constexpr std::uint32_t kMaxSectorsPerRequest = 0xFFFFFFFFu / kSectorBytes;

struct Direction {
    const char* name;        // "read_sectors" / "write_sectors"
    const char* call;        // "ReadFile" / "WriteFile"
    int32_t failure_status;  // 41 / 42
};

constexpr Direction kRead{"read_sectors", "ReadFile", LYFS_ERR_READ};
constexpr Direction kWrite{"write_sectors", "WriteFile", LYFS_ERR_WRITE};

template <typename Transfer>
int32_t transfer_sectors(const Direction& dir, platform::DeviceHandle device,
                         std::uint32_t first_sector, std::uint32_t sector_count,
                         Transfer transfer) {
    if (device == nullptr || device == platform::kInvalidDevice) {
        log_error("[ERROR]%s, invalid handle, sector:%d\n", dir.name, first_sector);
        return LYFS_ERR_NO_DEVICE_HANDLE;
    }
    if (sector_count > kMaxSectorsPerRequest) {
        log_error("[ERROR]%s, %s bytes count failed, sector:%d, %d, %d, %d\n", dir.name, dir.call,
                  first_sector, 0, sector_count, 0);
        return dir.failure_status;
    }
    const std::uint32_t bytes = sector_count * kSectorBytes;
    const std::uint64_t position = static_cast<std::uint64_t>(first_sector) * kSectorBytes;

    platform::MutexGuard guard(&sector_io_mutex());
    platform::IoResult result;
    for (std::uint32_t attempt = 1;; ++attempt) {
        result = transfer(bytes, position);
        if (result.outcome == platform::IoOutcome::kSeekFailed) {
            log_error("[ERROR]%s, SetFilePointer failed, sector:%d\n", dir.name, first_sector);
            return LYFS_ERR_SEEK;
        }
        if (result.outcome == platform::IoOutcome::kDone) {
            break;
        }
        log_error("[ERROR]%s, %s failed, sector:%d, %d\n", dir.name, dir.call, first_sector,
                  result.last_error);
        if (result.last_error != platform::kErrorNotReady) {
            return dir.failure_status;
        }
        // A card that is still settling in its reader answers "not ready"
        // for a moment; give it time and position again.
        platform::table().sleep_ms(kNotReadyPauseMs);
        if (attempt == kNotReadyAttempts) {
            return dir.failure_status;
        }
    }
    if (result.transferred != bytes) {
        log_error("[ERROR]%s, %s bytes count failed, sector:%d, %d, %d, %d\n", dir.name, dir.call,
                  first_sector, result.last_error, bytes, result.transferred);
        return dir.failure_status;
    }
    return LYFS_OK;
}

template <typename Part>
std::uint64_t sectors_of(const Part* parts, std::uint32_t count) {
    std::uint64_t bytes = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        bytes += parts[i].bytes;
    }
    return bytes / kSectorBytes;
}

// A count past what one request carries is refused by transfer_sectors.
std::uint32_t clamped(std::uint64_t sectors) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors, 0xFFFFFFFFu));
}

}  // namespace

int32_t read_sectors(platform::DeviceHandle device, void* buffer, std::uint32_t first_sector,
                     std::uint32_t sector_count) {
    const int32_t status =
        transfer_sectors(kRead, device, first_sector, sector_count,
                         [&](std::uint32_t bytes, std::uint64_t position) {
                             return platform::table().read_at(device, buffer, bytes, position);
                         });
    if (status == LYFS_OK) {
        if (KeptWrites* kept = kept_writes_of(device)) {
            const platform::IoPart part{buffer, sector_count * kSectorBytes};
            overlay_kept_sectors(kept, &part, 1, first_sector);
        }
    }
    return status;
}

int32_t write_sectors(platform::DeviceHandle device, const void* buffer, std::uint32_t first_sector,
                      std::uint32_t sector_count) {
    // An oversized count is refused below before anything moves.
    if (KeptWrites* kept = kept_writes_of(device);
        kept != nullptr && sector_count <= kMaxSectorsPerRequest) {
        const platform::ConstIoPart part{buffer, sector_count * kSectorBytes};
        return keep_sectors(kept, &part, 1, first_sector);
    }
    return transfer_sectors(kWrite, device, first_sector, sector_count,
                            [&](std::uint32_t bytes, std::uint64_t position) {
                                return platform::table().write_at(device, buffer, bytes, position);
                            });
}

int32_t read_sector_parts(platform::DeviceHandle device, const platform::IoPart* parts,
                          std::uint32_t count, std::uint32_t first_sector) {
    const int32_t status =
        transfer_sectors(kRead, device, first_sector, clamped(sectors_of(parts, count)),
                         [&](std::uint32_t, std::uint64_t position) {
                             return platform::table().read_parts_at(device, parts, count, position);
                         });
    if (status == LYFS_OK) {
        if (KeptWrites* kept = kept_writes_of(device)) {
            overlay_kept_sectors(kept, parts, count, first_sector);
        }
    }
    return status;
}

int32_t write_sector_parts(platform::DeviceHandle device, const platform::ConstIoPart* parts,
                           std::uint32_t count, std::uint32_t first_sector) {
    if (KeptWrites* kept = kept_writes_of(device)) {
        return keep_sectors(kept, parts, count, first_sector);
    }
    return transfer_sectors(kWrite, device, first_sector, clamped(sectors_of(parts, count)),
                            [&](std::uint32_t, std::uint64_t position) {
                                return platform::table().write_parts_at(device, parts, count,
                                                                        position);
                            });
}

std::uint32_t device_page_bytes() {
    constexpr std::uint32_t kLargestPage = 1u << 20;
    const std::uint32_t bytes = platform::table().page_bytes();
    const bool usable =
        bytes >= kSectorBytes && bytes <= kLargestPage && (bytes & (bytes - 1)) == 0;
    return usable ? bytes : platform::kDefaultPageBytes;
}

int32_t flush_device(platform::DeviceHandle device) {
    if (device == nullptr || device == platform::kInvalidDevice) {
        return LYFS_ERR_NO_DEVICE_HANDLE;
    }
    if (kept_writes_of(device) != nullptr) {
        return LYFS_OK;  // nothing of this library's reached it
    }
    platform::MutexGuard guard(&sector_io_mutex());
    if (!platform::table().flush_device(device)) {
        log_error("[ERROR]flush_device, flush failed\n");
        return LYFS_ERR_WRITE;
    }
    return LYFS_OK;
}

}  // namespace lyfs
