#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "failure.h"
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

bool is_system_stream(const std::string& path) {
    return path.starts_with("/dev/") || path.starts_with("/proc/");
}

void replace_file(const std::string& from, const std::string& to) {
    if (std::rename(from.c_str(), to.c_str()) != 0) {
        throw Failure("cannot put the copy in place of " + to + ": " + std::strerror(errno));
    }
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
