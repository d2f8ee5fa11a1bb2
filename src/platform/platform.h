// The operating-system services the library needs, behind one replaceable
// table so that tests can put an in-memory, fault-injecting or counting device
// (or a pinned clock) underneath the whole library.
#pragma once

#include <cstdint>

namespace lyfs::platform {

// Opaque device handle. Null means "never opened", kInvalidDevice "closed".
using DeviceHandle = void*;
inline DeviceHandle const kInvalidDevice = reinterpret_cast<DeviceHandle>(~std::uintptr_t{0});

// Windows-style last-error codes, so the sector layer's retry rule reads the
// same whatever device sits below.
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorWriteProtect = 19;
inline constexpr std::uint32_t kErrorNotReady = 21;
inline constexpr std::uint32_t kErrorGenFailure = 31;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorDiskFull = 112;
inline constexpr std::uint32_t kErrorIoDevice = 1117;

enum class IoOutcome {
    kDone,        // the call itself succeeded; `transferred` says how much moved
    kSeekFailed,  // the position could not be set
    kFailed,      // the transfer failed; `last_error` says why
};

struct IoResult {
    IoOutcome outcome = IoOutcome::kFailed;
    std::uint32_t transferred = 0;
    std::uint32_t last_error = 0;
};

// The buffers of one request that moves several buffers to or from
// consecutive bytes of a device, each part's bytes right behind the last's.
inline constexpr std::uint32_t kMaxIoParts = 3;
struct IoPart {
    void* data;
    std::uint32_t bytes;
};
struct ConstIoPart {
    const void* data;
    std::uint32_t bytes;
};

// What an open asks of a device.
enum class DeviceAccess {
    kReadWrite,  // reading and writing; reading only when the medium is write-protected
    kReadOnly,   // reading only, whatever the medium allows
};

// An advisory lock that other processes opening the same device see.
enum class DeviceLock {
    kNone,       // releases what this open holds
    kShared,     // readers: any number of them together
    kExclusive,  // one writer, nobody beside it
};

// The page size assumed where the platform cannot tell its own.
inline constexpr std::uint32_t kDefaultPageBytes = 4096;

struct LocalTime {
    std::uint16_t year = 1980;  // full year
    std::uint8_t month = 1;     // 1..12
    std::uint8_t day = 1;       // 1..31
    std::uint8_t hour = 0;
    std::uint8_t minute = 0;
    std::uint8_t second = 0;
};

struct PlatformTable {
    // Opens an existing device path as `access` asks; `*read_only` tells
    // whether writes will be refused. Returns kInvalidDevice on failure.
    DeviceHandle (*open_device)(const char* path, DeviceAccess access, bool* read_only,
                                std::uint32_t* last_error);
    void (*close_device)(DeviceHandle device);
    IoResult (*read_at)(DeviceHandle device, void* buffer, std::uint32_t bytes,
                        std::uint64_t offset);
    IoResult (*write_at)(DeviceHandle device, const void* buffer, std::uint32_t bytes,
                         std::uint64_t offset);
    // The same for up to kMaxIoParts buffers in one request.
    IoResult (*read_parts_at)(DeviceHandle device, const IoPart* parts, std::uint32_t count,
                              std::uint64_t offset);
    IoResult (*write_parts_at)(DeviceHandle device, const ConstIoPart* parts, std::uint32_t count,
                               std::uint64_t offset);
    // Size of the device in bytes and its logical sector size.
    bool (*get_geometry)(DeviceHandle device, std::uint64_t* size_bytes,
                         std::uint32_t* bytes_per_sector, std::uint32_t* last_error);
    // Makes what was written durable.
    bool (*flush_device)(DeviceHandle device);
    // Asks the operating system to re-read the partition table.
    void (*refresh_partitions)(DeviceHandle device);
    // Takes (or changes) the device's advisory lock without waiting; false
    // with last_error kErrorSharingViolation when another process holds one
    // that conflicts. Closing the device releases it.
    bool (*lock_device)(DeviceHandle device, DeviceLock kind, std::uint32_t* last_error);
    // The size of the pages the operating system caches a device in: a
    // write that ends inside one makes it read that page first.
    std::uint32_t (*page_bytes)();
    void (*sleep_ms)(std::uint32_t milliseconds);
    void (*local_time)(LocalTime* now);
    // 0 to 32,767, as the classic C runtime's rand gives them.
    int (*random15)();
};

// The table in force.
const PlatformTable& table();
// The implementation for the operating system the library was built for
// (POSIX or Windows): real devices and card-image files.
const PlatformTable& native_table();
// Replaces the table (tests); null restores the native one.
void install_table(const PlatformTable* replacement);

}  // namespace lyfs::platform
