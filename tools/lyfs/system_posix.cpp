#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device.h"
#include "failure.h"
#include "lyfs/lyfs.h"
#include "system.h"

namespace lyfs::tool {

const int kOpenFlags = O_CLOEXEC;

PathKind path_kind(const std::string& path, std::string* why) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        *why = std::strerror(errno);
        return PathKind::kMissing;
    }
    return S_ISREG(info.st_mode)   ? PathKind::kFile
           : S_ISBLK(info.st_mode) ? PathKind::kDevice
                                   : PathKind::kOther;
}

void create_sparse_file(const std::string& path, std::uint64_t bytes) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        throw Failure("cannot create " + path + ": " + std::strerror(errno));
    }
    const bool sized = ::ftruncate(fd, static_cast<off_t>(bytes)) == 0;
    const int size_error = errno;
    ::close(fd);
    if (!sized) {
        ::unlink(path.c_str());
        throw Failure("cannot size " + path + ": " + std::strerror(size_error));
    }
}

std::filesystem::path local_path(const std::string& text) {
    return text;
}

std::string path_text(const std::filesystem::path& path) {
    return path.string();
}

std::filesystem::path make_temporary_folder(const std::string& prefix) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/" + prefix + "XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw Failure("cannot create a temporary folder in " + pattern);
    }
    return pattern;
}

bool is_write_protected(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;  // whatever is wrong is reported by what comes next
    }
    struct stat info {};
    int read_only = 0;
    const bool protected_device = ::fstat(fd, &info) == 0 && S_ISBLK(info.st_mode) &&
                                  ::ioctl(fd, BLKROGET, &read_only) == 0 && read_only != 0;
    ::close(fd);
    return protected_device ||
           (::access(path.c_str(), W_OK) != 0 && (errno == EROFS || errno == EACCES));
}

bool stdout_is_terminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

bool stdin_is_terminal() {
    return ::isatty(STDIN_FILENO) == 1;
}

int standard_output_for_bytes() {
    return STDOUT_FILENO;
}

bool sync_file(int fd) {
    return ::fsync(fd) == 0;
}

bool truncate_file(int fd, std::uint64_t bytes) {
    return ::ftruncate(fd, static_cast<off_t>(bytes)) == 0;
}

bool is_system_stream(const std::string& path) {
    if (!path.starts_with("/dev/") && !path.starts_with("/proc/")) {
        return false;
    }
    // /dev/shm holds files of their own, which a copy replaces whole; written over in place, a
    // longer one would keep its old end. /dev/stdout and /proc/self/fd/1 are links.
    struct stat info {};
    return ::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode);
}

void replace_file(const std::string& from, const std::string& to) {
    if (std::rename(from.c_str(), to.c_str()) != 0) {
        throw Failure("cannot put the copy in place of " + to + ": " + std::strerror(errno));
    }
}

DeviceReader::DeviceReader(const std::string& path) : path_(path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw Failure("cannot open " + path + " for reading: " + std::strerror(errno));
    }
    handle_ = fd;
    // The library holds a card it writes to exclusively, and a read-only mount shares it.
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        ::close(fd);
        require_not_in_use(path, LYFS_ERR_SHARING_VIOLATION);
    }
    struct stat info {};
    std::uint64_t device_bytes = 0;
    if (::fstat(fd, &info) == 0 && S_ISBLK(info.st_mode) &&
        ::ioctl(fd, BLKGETSIZE64, &device_bytes) == 0) {
        size_ = device_bytes;
    } else {
        size_ = static_cast<std::uint64_t>(info.st_size);
    }
}

DeviceReader::~DeviceReader() {
    ::close(static_cast<int>(handle_));
}

std::size_t DeviceReader::read(std::span<std::uint8_t> piece) {
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), size_ - offset_));
    std::size_t done = 0;
    while (done < wanted) {
        const ssize_t got = ::pread(static_cast<int>(handle_), piece.data() + done, wanted - done,
                                    static_cast<off_t>(offset_ + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            throw Failure("reading " + path_ + " failed at byte " + std::to_string(offset_ + done) +
                          ": " + (got == 0 ? "it ends early" : std::strerror(errno)));
        }
        done += static_cast<std::size_t>(got);
    }
    offset_ += done;
    return done;
}

namespace {

volatile std::sig_atomic_t g_interruption = 0;

extern "C" void note_interruption(int signal_number) {
    g_interruption = signal_number;
}

}  // namespace

void catch_interruptions() {
    struct sigaction action {};
    action.sa_handler = note_interruption;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(signal_number, &action, nullptr);
    }
}

int interruption() {
    return g_interruption;
}

std::string signal_name(int signal_number) {
    return signal_number == SIGINT    ? "SIGINT"
           : signal_number == SIGTERM ? "SIGTERM"
           : signal_number == SIGHUP  ? "SIGHUP"
                                      : "signal " + std::to_string(signal_number);
}

}  // namespace lyfs::tool
