#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "card_checker.h"
#include "layout.h"

namespace lyfs::check {

namespace {

std::uint64_t device_bytes(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return 0;
    }
    if (S_ISREG(info.st_mode)) {
        return static_cast<std::uint64_t>(info.st_size);
    }
    std::uint64_t bytes = 0;
    if (S_ISBLK(info.st_mode) && ::ioctl(fd, BLKGETSIZE64, &bytes) == 0) {
        return bytes;
    }
    return 0;
}

}  // namespace

FileSectorReader::FileSectorReader(const std::string& path)
    : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd_ >= 0) {
        sectors_ = device_bytes(fd_) / kSectorBytes;
    }
}

FileSectorReader::~FileSectorReader() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool FileSectorReader::read(std::uint32_t lba, std::uint8_t* out512) {
    if (fd_ < 0 || lba >= sectors_) {
        return false;
    }
    std::size_t done = 0;
    while (done < kSectorBytes) {
        const auto offset = static_cast<off_t>(std::uint64_t{lba} * kSectorBytes + done);
        const ssize_t n = ::pread(fd_, out512 + done, kSectorBytes - done, offset);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace lyfs::check
