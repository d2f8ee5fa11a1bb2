#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <winioctl.h>

#include <cstdio>

#include "card_checker.h"
#include "layout.h"

namespace lyfs::check {

namespace {

// Drives and volumes answer the geometry query, image files have a size.
std::uint64_t device_bytes(int fd) {
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    DISK_GEOMETRY_EX geometry{};
    DWORD returned = 0;
    if (DeviceIoControl(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, &geometry,
                        sizeof geometry, &returned, nullptr)) {
        return static_cast<std::uint64_t>(geometry.DiskSize.QuadPart);
    }
    LARGE_INTEGER size{};
    if (GetFileType(handle) == FILE_TYPE_DISK && GetFileSizeEx(handle, &size)) {
        return static_cast<std::uint64_t>(size.QuadPart);
    }
    return 0;
}

}  // namespace

FileSectorReader::FileSectorReader(const std::string& path)
    : fd_(::_open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT)) {
    if (fd_ >= 0) {
        sectors_ = device_bytes(fd_) / kSectorBytes;
    }
}

FileSectorReader::~FileSectorReader() {
    if (fd_ >= 0) {
        ::_close(fd_);
    }
}

bool FileSectorReader::read(std::uint32_t lba, std::uint8_t* out512) {
    if (fd_ < 0 || lba >= sectors_) {
        return false;
    }
    const auto offset = static_cast<long long>(std::uint64_t{lba} * kSectorBytes);
    if (::_lseeki64(fd_, offset, SEEK_SET) != offset) {
        return false;
    }
    std::size_t done = 0;
    while (done < kSectorBytes) {
        const int n = ::_read(fd_, out512 + done, static_cast<unsigned>(kSectorBytes - done));
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace lyfs::check
