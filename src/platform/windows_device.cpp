// Windows implementation of the platform table: physical drives
// (\\.\PhysicalDriveN), volumes (\\.\E:) and card images through file
// handles, the local clock, and the C runtime's rand.
#include <windows.h>
#include <winioctl.h>

#include <cstdlib>

#include "platform/platform.h"

namespace lyfs::platform {
namespace {

// A file handle is a valid DeviceHandle as it is: CreateFileA never returns
// null, and its failure value is kInvalidDevice.
HANDLE handle_of(DeviceHandle device) {
    return static_cast<HANDLE>(device);
}

HANDLE open_path(const char* path, DWORD access) {
    return CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

DeviceHandle windows_open(const char* path, DeviceAccess access, bool* read_only,
                          std::uint32_t* last_error) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    *read_only = access == DeviceAccess::kReadOnly;
    if (access == DeviceAccess::kReadWrite) {
        handle = open_path(path, GENERIC_READ | GENERIC_WRITE);
        const DWORD error = GetLastError();
        // A locked card (or a read-only image) can still be read.
        *read_only = handle == INVALID_HANDLE_VALUE &&
                     (error == ERROR_WRITE_PROTECT || error == ERROR_ACCESS_DENIED);
    }
    if (*read_only) {
        handle = open_path(path, GENERIC_READ);
    }
    if (handle == INVALID_HANDLE_VALUE) {
        *last_error = GetLastError();
        return kInvalidDevice;
    }
    return handle;
}

void windows_close(DeviceHandle device) {
    CloseHandle(handle_of(device));
}

bool is_positioning_error(DWORD error) {
    return error == ERROR_NEGATIVE_SEEK || error == ERROR_SEEK || error == ERROR_SEEK_ON_DEVICE;
}

// One synchronous transfer at a 64-bit offset, repeated over partial
// transfers; stops early only at the end of the device.
template <typename Byte, typename Call>
IoResult transfer_at(Byte* data, std::uint32_t bytes, std::uint64_t offset, IoResult result,
                     Call call) {
    std::uint32_t done = 0;
    while (done < bytes) {
        const std::uint64_t at = offset + done;
        OVERLAPPED position{};
        position.Offset = static_cast<DWORD>(at);
        position.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD moved = 0;
        if (!call(data + done, bytes - done, &moved, &position)) {
            const DWORD error = GetLastError();
            if (error == ERROR_HANDLE_EOF) {
                break;
            }
            result.outcome =
                is_positioning_error(error) ? IoOutcome::kSeekFailed : IoOutcome::kFailed;
            result.last_error = error;
            return result;
        }
        if (moved == 0) {
            break;
        }
        done += moved;
        result.transferred += moved;
    }
    result.outcome = IoOutcome::kDone;
    return result;
}

// Windows has no gathered transfer for synchronous handles: parts that lie
// back to back in memory go as one request, the others one after another.
template <typename Byte, typename Part, typename Call>
IoResult transfer_parts(const Part* parts, std::uint32_t count, std::uint64_t offset, Call call) {
    IoResult result;
    if (count > kMaxIoParts) {
        result.last_error = ERROR_INVALID_PARAMETER;
        return result;
    }
    result.outcome = IoOutcome::kDone;
    std::uint32_t first = 0;
    while (first < count) {
        Byte* data = static_cast<Byte*>(parts[first].data);
        std::uint32_t bytes = parts[first].bytes;
        std::uint32_t next = first + 1;
        for (; next < count && static_cast<Byte*>(parts[next].data) == data + bytes; ++next) {
            bytes += parts[next].bytes;
        }
        const std::uint32_t before = result.transferred;
        result = transfer_at(data, bytes, offset + before, result, call);
        if (result.outcome != IoOutcome::kDone || result.transferred - before != bytes) {
            return result;
        }
        first = next;
    }
    return result;
}

IoResult windows_read_parts(DeviceHandle device, const IoPart* parts, std::uint32_t count,
                            std::uint64_t offset) {
    return transfer_parts<char>(
        parts, count, offset,
        [device](char* data, std::uint32_t bytes, DWORD* moved, OVERLAPPED* position) {
            return ReadFile(handle_of(device), data, bytes, moved, position);
        });
}

IoResult windows_write_parts(DeviceHandle device, const ConstIoPart* parts, std::uint32_t count,
                             std::uint64_t offset) {
    return transfer_parts<const char>(
        parts, count, offset,
        [device](const char* data, std::uint32_t bytes, DWORD* moved, OVERLAPPED* position) {
            return WriteFile(handle_of(device), data, bytes, moved, position);
        });
}

IoResult windows_read(DeviceHandle device, void* buffer, std::uint32_t bytes,
                      std::uint64_t offset) {
    const IoPart part{buffer, bytes};
    return windows_read_parts(device, &part, 1, offset);
}

IoResult windows_write(DeviceHandle device, const void* buffer, std::uint32_t bytes,
                       std::uint64_t offset) {
    const ConstIoPart part{buffer, bytes};
    return windows_write_parts(device, &part, 1, offset);
}

// Drives and volumes answer the geometry query; an image file does not, and
// is measured by its size in 512-byte sectors. Pipes, consoles and the like
// are no cards.
bool windows_geometry(DeviceHandle device, std::uint64_t* size_bytes,
                      std::uint32_t* bytes_per_sector, std::uint32_t* last_error) {
    DISK_GEOMETRY_EX geometry{};
    DWORD returned = 0;
    if (DeviceIoControl(handle_of(device), IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, &geometry,
                        sizeof geometry, &returned, nullptr)) {
        *size_bytes = static_cast<std::uint64_t>(geometry.DiskSize.QuadPart);
        *bytes_per_sector = geometry.Geometry.BytesPerSector;
        return true;
    }
    const DWORD query_error = GetLastError();
    LARGE_INTEGER size{};
    if (GetFileType(handle_of(device)) == FILE_TYPE_DISK &&
        GetFileSizeEx(handle_of(device), &size)) {
        *size_bytes = static_cast<std::uint64_t>(size.QuadPart);
        *bytes_per_sector = 512;
        return true;
    }
    *last_error = query_error;
    return false;
}

bool windows_flush(DeviceHandle device) {
    return FlushFileBuffers(handle_of(device)) != 0;
}

void windows_refresh_partitions(DeviceHandle device) {
    // Fails on an image file, and the table on the card is right either way.
    DWORD returned = 0;
    (void)DeviceIoControl(handle_of(device), IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0,
                          &returned, nullptr);
}

// Devices are opened with FILE_SHARE_READ | FILE_SHARE_WRITE so that the
// system's own file-system driver and other programs can keep the card open
// beside the library. Other users of the library see each other through a
// byte-range lock instead, taken on a byte far past the end of any card:
// there it keeps out a second locker and never a transfer, as an advisory
// lock would. A device that takes no byte-range lock goes unlocked, as on a
// POSIX file system without advisory locks.
constexpr std::uint64_t kLockedByte = std::uint64_t{1} << 62;

bool windows_lock(DeviceHandle device, DeviceLock kind, std::uint32_t* last_error) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(kLockedByte);
    at.OffsetHigh = static_cast<DWORD>(kLockedByte >> 32);
    // A lock is not changed in place: the one held goes first, as with flock.
    (void)UnlockFileEx(handle_of(device), 0, 1, 0, &at);
    if (kind == DeviceLock::kNone) {
        return true;
    }
    const DWORD flags =
        LOCKFILE_FAIL_IMMEDIATELY | (kind == DeviceLock::kExclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    if (LockFileEx(handle_of(device), flags, 0, 1, 0, &at)) {
        return true;
    }
    const DWORD error = GetLastError();
    *last_error = error == ERROR_LOCK_VIOLATION ? kErrorSharingViolation : error;
    return false;
}

std::uint32_t windows_page_bytes() {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return info.dwPageSize != 0 ? info.dwPageSize : kDefaultPageBytes;
}

void windows_sleep_ms(std::uint32_t milliseconds) {
    Sleep(milliseconds);
}

void windows_local_time(LocalTime* now) {
    SYSTEMTIME parts{};
    GetLocalTime(&parts);
    now->year = parts.wYear;
    now->month = static_cast<std::uint8_t>(parts.wMonth);
    now->day = static_cast<std::uint8_t>(parts.wDay);
    now->hour = static_cast<std::uint8_t>(parts.wHour);
    now->minute = static_cast<std::uint8_t>(parts.wMinute);
    now->second = static_cast<std::uint8_t>(parts.wSecond);
}

int windows_random15() {
    return std::rand() & 0x7FFF;
}

const PlatformTable kWindowsTable = {
    windows_open,       windows_close,      windows_read,
    windows_write,      windows_read_parts, windows_write_parts,
    windows_geometry,   windows_flush,      windows_refresh_partitions,
    windows_lock,       windows_page_bytes, windows_sleep_ms,
    windows_local_time, windows_random15,
};

}  // namespace

const PlatformTable& native_table() {
    return kWindowsTable;
}

}  // namespace lyfs::platform
