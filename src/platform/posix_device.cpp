// POSIX implementation of the platform table: raw devices and card images
// through file descriptors, the local clock, and the C runtime's rand.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "platform/platform.h"

namespace lyfs::platform {
namespace {

static_assert(sizeof(off_t) == 8, "card offsets pass 4 GiB: build with _FILE_OFFSET_BITS=64");

// A descriptor is stored in the handle as fd + 1 so that a valid handle is
// never null, which the sector layer reads as "never opened".
DeviceHandle handle_of(int fd) {
    return reinterpret_cast<DeviceHandle>(static_cast<std::intptr_t>(fd) + 1);
}

int fd_of(DeviceHandle device) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(device) - 1);
}

std::uint32_t last_error_of(int err) {
    switch (err) {
        case ENOMEDIUM:
        case ENXIO:
            return kErrorNotReady;
        case EROFS:
            return kErrorWriteProtect;
        case EACCES:
        case EPERM:
            return kErrorAccessDenied;
        case ENOSPC:
            return kErrorDiskFull;
        case EIO:
            return kErrorIoDevice;
        default:
            return kErrorGenFailure;
    }
}

bool is_positioning_error(int err) {
    return err == EINVAL || err == EOVERFLOW || err == ESPIPE;
}

// A block device the kernel holds read-only (a card reader's write-protect
// switch, `losetup -r`, `blockdev --setro`) can still open for writing on
// some kernels; only its writes fail.
bool is_read_only_block_device(int fd) {
    struct stat st {};
    int read_only = 0;
    return ::fstat(fd, &st) == 0 && S_ISBLK(st.st_mode) && ::ioctl(fd, BLKROGET, &read_only) == 0 &&
           read_only != 0;
}

DeviceHandle posix_open(const char* path, DeviceAccess access, bool* read_only,
                        std::uint32_t* last_error) {
    int fd = -1;
    if (access == DeviceAccess::kReadWrite) {
        fd = ::open(path, O_RDWR | O_CLOEXEC);
        if (fd >= 0 && is_read_only_block_device(fd)) {
            ::close(fd);
            fd = -1;
            errno = EROFS;
        }
    }
    if (access == DeviceAccess::kReadOnly || (fd < 0 && (errno == EROFS || errno == EACCES))) {
        // A locked card can still be read.
        fd = ::open(path, O_RDONLY | O_CLOEXEC);
        *read_only = true;
    } else {
        *read_only = false;
    }
    if (fd < 0) {
        *last_error = last_error_of(errno);
        return kInvalidDevice;
    }
    return handle_of(fd);
}

void posix_close(DeviceHandle device) {
    ::close(fd_of(device));
}

// Loops over partial transfers of one or several buffers; stops early only
// at the end of the device.
template <typename Part, typename Transfer>
IoResult transfer_all_parts(const Part* parts, std::uint32_t count, Transfer transfer) {
    IoResult result;
    if (count > kMaxIoParts) {
        result.last_error = last_error_of(EINVAL);
        return result;
    }
    iovec vec[kMaxIoParts];
    for (std::uint32_t i = 0; i < count; ++i) {
        vec[i].iov_base = const_cast<void*>(static_cast<const void*>(parts[i].data));
        vec[i].iov_len = parts[i].bytes;
    }
    std::uint32_t first = 0;
    while (first < count) {
        ssize_t done = transfer(vec + first, static_cast<int>(count - first), result.transferred);
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            result.outcome =
                is_positioning_error(errno) ? IoOutcome::kSeekFailed : IoOutcome::kFailed;
            result.last_error = last_error_of(errno);
            return result;
        }
        if (done == 0) {
            break;
        }
        result.transferred += static_cast<std::uint32_t>(done);
        auto left = static_cast<std::size_t>(done);
        while (first < count && left >= vec[first].iov_len) {
            left -= vec[first].iov_len;
            ++first;
        }
        if (first < count) {
            vec[first].iov_base = static_cast<char*>(vec[first].iov_base) + left;
            vec[first].iov_len -= left;
        }
    }
    result.outcome = IoOutcome::kDone;
    return result;
}

IoResult posix_read_parts(DeviceHandle device, const IoPart* parts, std::uint32_t count,
                          std::uint64_t offset) {
    return transfer_all_parts(parts, count, [&](iovec* vec, int n, std::uint32_t done) {
        return ::preadv(fd_of(device), vec, n, static_cast<off_t>(offset + done));
    });
}

IoResult posix_write_parts(DeviceHandle device, const ConstIoPart* parts, std::uint32_t count,
                           std::uint64_t offset) {
    return transfer_all_parts(parts, count, [&](iovec* vec, int n, std::uint32_t done) {
        return ::pwritev(fd_of(device), vec, n, static_cast<off_t>(offset + done));
    });
}

IoResult posix_read(DeviceHandle device, void* buffer, std::uint32_t bytes, std::uint64_t offset) {
    const IoPart part{buffer, bytes};
    return posix_read_parts(device, &part, 1, offset);
}

IoResult posix_write(DeviceHandle device, const void* buffer, std::uint32_t bytes,
                     std::uint64_t offset) {
    const ConstIoPart part{buffer, bytes};
    return posix_write_parts(device, &part, 1, offset);
}

bool posix_geometry(DeviceHandle device, std::uint64_t* size_bytes, std::uint32_t* bytes_per_sector,
                    std::uint32_t* last_error) {
    struct stat st {};
    if (::fstat(fd_of(device), &st) != 0) {
        *last_error = last_error_of(errno);
        return false;
    }
    if (S_ISREG(st.st_mode)) {
        *size_bytes = static_cast<std::uint64_t>(st.st_size);
        *bytes_per_sector = 512;
        return true;
    }
    if (S_ISBLK(st.st_mode)) {
        std::uint64_t size = 0;
        int sector_size = 0;
        if (::ioctl(fd_of(device), BLKGETSIZE64, &size) != 0 ||
            ::ioctl(fd_of(device), BLKSSZGET, &sector_size) != 0) {
            *last_error = last_error_of(errno);
            return false;
        }
        *size_bytes = size;
        *bytes_per_sector = static_cast<std::uint32_t>(sector_size);
        return true;
    }
    *last_error = kErrorGenFailure;
    return false;
}

bool posix_flush(DeviceHandle device) {
    return ::fdatasync(fd_of(device)) == 0;
}

void posix_refresh_partitions(DeviceHandle device) {
    struct stat st {};
    if (::fstat(fd_of(device), &st) == 0 && S_ISBLK(st.st_mode)) {
        // The kernel refuses while a partition is in use; the table on the
        // card is right either way, so the answer is not needed.
        (void)::ioctl(fd_of(device), BLKRRPART);
    }
}

bool posix_lock(DeviceHandle device, DeviceLock kind, std::uint32_t* last_error) {
    const int operation = kind == DeviceLock::kNone        ? LOCK_UN
                          : kind == DeviceLock::kExclusive ? LOCK_EX | LOCK_NB
                                                           : LOCK_SH | LOCK_NB;
    int result = 0;
    do {
        result = ::flock(fd_of(device), operation);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        *last_error = errno == EWOULDBLOCK ? kErrorSharingViolation : last_error_of(errno);
        return false;
    }
    return true;
}

std::uint32_t posix_page_bytes() {
    const long bytes = ::sysconf(_SC_PAGESIZE);
    return bytes > 0 ? static_cast<std::uint32_t>(bytes) : kDefaultPageBytes;
}

void posix_sleep_ms(std::uint32_t milliseconds) {
    timespec wait{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

void posix_local_time(LocalTime* now) {
    std::time_t t = std::time(nullptr);
    std::tm parts{};
    ::localtime_r(&t, &parts);
    now->year = static_cast<std::uint16_t>(parts.tm_year + 1900);
    now->month = static_cast<std::uint8_t>(parts.tm_mon + 1);
    now->day = static_cast<std::uint8_t>(parts.tm_mday);
    now->hour = static_cast<std::uint8_t>(parts.tm_hour);
    now->minute = static_cast<std::uint8_t>(parts.tm_min);
    now->second = static_cast<std::uint8_t>(parts.tm_sec);
}

int posix_random15() {
    return std::rand() & 0x7FFF;
}

const PlatformTable kPosixTable = {
    posix_open,       posix_close,      posix_read,
    posix_write,      posix_read_parts, posix_write_parts,
    posix_geometry,   posix_flush,      posix_refresh_partitions,
    posix_lock,       posix_page_bytes, posix_sleep_ms,
    posix_local_time, posix_random15,
};

}  // namespace

const PlatformTable& native_table() {
    return kPosixTable;
}

}  // namespace lyfs::platform
