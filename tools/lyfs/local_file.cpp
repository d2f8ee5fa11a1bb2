#include "local_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <utility>

#include "failure.h"
#include "system.h"

namespace lyfs::tool {
namespace {

constexpr int kTemporaryNameTries = 100;

[[noreturn]] void fail_with_errno(const std::string& what) {
    throw Failure(what + ": " + std::strerror(errno));
}

}  // namespace

LocalFile LocalFile::open_for_reading(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | kOpenFlags);
    if (fd < 0) {
        fail_with_errno(path);
    }
    LocalFile file(path, fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        fail_with_errno(path);
    }
    if (!S_ISREG(info.st_mode)) {
        throw Failure(path + ": not a regular file");
    }
    return file;
}

LocalFile LocalFile::open_for_writing(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | kOpenFlags);
    if (fd < 0) {
        fail_with_errno("cannot write " + path);
    }
    return LocalFile(path, fd);
}

LocalFile LocalFile::create_beside(const std::string& target, std::string* temporary) {
    const std::filesystem::path place = local_path(target);
    std::random_device seed;
    for (int attempt = 0; attempt < kTemporaryNameTries; ++attempt) {
        *temporary = path_text(place.parent_path() /
                               local_path("." + path_text(place.filename()) + ".lyfs-" +
                                          std::to_string(seed() % 1000000)));
        const int fd = ::open(temporary->c_str(), O_WRONLY | O_CREAT | O_EXCL | kOpenFlags, 0644);
        if (fd >= 0) {
            return LocalFile(*temporary, fd);
        }
        if (errno != EEXIST) {
            break;
        }
    }
    fail_with_errno("cannot create " + target);
}

LocalFile LocalFile::standard_output() {
    LocalFile file("standard output", standard_output_for_bytes());
    file.close_at_end_ = false;
    return file;
}

LocalFile::~LocalFile() {
    finish_quietly();
}

LocalFile::LocalFile(LocalFile&& other) noexcept
    : path_(std::move(other.path_)),
      fd_(std::exchange(other.fd_, -1)),
      close_at_end_(other.close_at_end_) {}

std::uint64_t LocalFile::size() const {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        fail_with_errno(path_);
    }
    return static_cast<std::uint64_t>(info.st_size);
}

void LocalFile::read_exactly(std::span<std::uint8_t> piece) {
    std::size_t done = 0;
    while (done < piece.size()) {
        const ssize_t n = ::read(fd_, piece.data() + done, piece.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            fail_with_errno("reading " + path_);
        }
        if (n == 0) {
            throw Failure("reading " + path_ + ": the file became shorter while it was copied");
        }
        done += static_cast<std::size_t>(n);
    }
}

void LocalFile::write_all(std::span<const std::uint8_t> piece) {
    std::size_t done = 0;
    while (done < piece.size()) {
        const ssize_t n = ::write(fd_, piece.data() + done, piece.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            fail_with_errno("writing " + path_);
        }
        done += static_cast<std::size_t>(n);
    }
}

bool LocalFile::truncate(std::uint64_t bytes) {
    return truncate_file(fd_, bytes);
}

void LocalFile::sync() {
    if (!sync_file(fd_)) {
        fail_with_errno("writing " + path_);
    }
}

void LocalFile::finish() {
    const int fd = std::exchange(fd_, -1);
    if (close_at_end_ && ::close(fd) != 0) {
        fail_with_errno("writing " + path_);
    }
}

void LocalFile::finish_quietly() {
    const int fd = std::exchange(fd_, -1);
    if (fd >= 0 && close_at_end_) {
        ::close(fd);
    }
}

void LocalFile::discard() {
    finish_quietly();
    ::unlink(path_.c_str());
}

}  // namespace lyfs::tool
