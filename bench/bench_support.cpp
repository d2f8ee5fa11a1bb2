#include "bench_support.h"

#include <fcntl.h>
#include <linux/falloc.h>
#include <linux/fs.h>
#include <malloc.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace lyfs::bench {

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double ratio_of(const std::vector<double>& measured, const std::vector<double>& baseline) {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < measured.size(); ++i) {
        ratios.push_back(baseline[i] / measured[i]);
    }
    return median(ratios);
}

namespace {

// Scratch images alive now, removed on the way out of a failed run too.
std::vector<std::string>& live_images() {
    static std::vector<std::string> paths;
    return paths;
}

}  // namespace

void fail(const std::string& what) {
    std::fprintf(stderr, "lyfs_bench: %s\n", what.c_str());
    for (const std::string& path : live_images()) {
        ::unlink(path.c_str());
    }
    std::exit(1);
}

void check(bool ok, const std::string& what) {
    if (!ok) {
        fail(what);
    }
}

std::string format(const char* fmt, ...) {
    char buffer[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    return buffer;
}

void print_figure(const std::string& name, const std::string& value, const std::string& target,
                  int met) {
    std::string line = name + ": " + value;
    if (!target.empty()) {
        line += "  [target " + target + (met < 0 ? "" : met != 0 ? ": met" : ": MISSED") + "]";
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

namespace {

int open_or_fail(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) {
        fail("cannot open " + path + ": " + std::strerror(errno));
    }
    return fd;
}

}  // namespace

ScratchImage::ScratchImage(const Options& options, const char* tag, std::uint64_t bytes) {
    if (!options.device.empty()) {
        path_ = options.device;
        is_device_ = true;
        const int fd = open_or_fail(path_, O_RDONLY);
        std::uint64_t device_bytes = 0;
        check(::ioctl(fd, BLKGETSIZE64, &device_bytes) == 0, "BLKGETSIZE64 on " + path_);
        ::close(fd);
        size_ = std::min(bytes, device_bytes);
        return;
    }
    path_ = options.dir + "/lyfs-bench-" + tag + "-XXXXXX";
    const int fd = ::mkstemp(path_.data());
    if (fd >= 0) {
        live_images().push_back(path_);
    }
    check(fd >= 0 && ::ftruncate(fd, static_cast<off_t>(bytes)) == 0,
          "cannot make a scratch image in " + options.dir);
    ::close(fd);
    size_ = bytes;
}

ScratchImage::~ScratchImage() {
    if (!is_device_) {
        ::unlink(path_.c_str());
        std::erase(live_images(), path_);
    }
}

void ScratchImage::drop_cache() const {
    const int fd = open_or_fail(path_, O_RDWR);
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

void ScratchImage::punch(std::uint64_t offset, std::uint64_t length) const {
    if (is_device_) {
        return;
    }
    const int fd = open_or_fail(path_, O_RDWR);
    check(::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset),
                      static_cast<off_t>(length)) == 0,
          "cannot punch a hole into " + path_);
    ::fdatasync(fd);
    ::close(fd);
}

double raw_write(const std::string& path, std::uint64_t offset, const std::uint8_t* src,
                 std::uint64_t total, std::uint32_t piece) {
    const auto start = Clock::now();
    const int fd = open_or_fail(path, O_RDWR);
    for (std::uint64_t at = 0; at < total; at += piece) {
        const std::size_t n = std::min<std::uint64_t>(piece, total - at);
        check(::pwrite(fd, src + at, n, static_cast<off_t>(offset + at)) == static_cast<ssize_t>(n),
              "pwrite");
    }
    check(::fdatasync(fd) == 0, "fdatasync");
    ::close(fd);
    return seconds_since(start);
}

double raw_read(const std::string& path, std::uint64_t offset, std::uint8_t* dst,
                std::uint64_t total, std::uint32_t piece) {
    const auto start = Clock::now();
    const int fd = open_or_fail(path, O_RDONLY);
    for (std::uint64_t at = 0; at < total; at += piece) {
        const std::size_t n = std::min<std::uint64_t>(piece, total - at);
        check(::pread(fd, dst + at, n, static_cast<off_t>(offset + at)) == static_cast<ssize_t>(n),
              "pread");
    }
    ::close(fd);
    return seconds_since(start);
}

double raw_read_ranges(const std::string& path,
                       const std::vector<std::pair<std::uint64_t, std::uint64_t>>& ranges,
                       std::uint32_t request) {
    std::vector<std::uint8_t> buffer(request);
    const auto start = Clock::now();
    const int fd = open_or_fail(path, O_RDONLY);
    for (const auto& [offset, length] : ranges) {
        for (std::uint64_t at = 0; at < length; at += request) {
            const std::size_t n = std::min<std::uint64_t>(request, length - at);
            check(::pread(fd, buffer.data(), n, static_cast<off_t>(offset + at)) ==
                      static_cast<ssize_t>(n),
                  "pread");
        }
    }
    ::close(fd);
    return seconds_since(start);
}

lyfs_folder_table folder_table(std::uint32_t max_files, std::uint64_t data_share) {
    lyfs_folder_table table{};
    const char* names[] = {"DATA", "EVENT", "PHOTO", "PARKED"};
    const std::uint64_t shares[] = {data_share, 30, 10, 0};
    table.count = 4;
    for (int i = 0; i < 4; ++i) {
        std::strcpy(table.folders[i].name, names[i]);
        table.folders[i].share_percent = shares[i];
        table.folders[i].max_file_num = max_files;
        table.folders[i].fold_type = 0x10;
    }
    return table;
}

void prepare_card(const std::string& path, const lyfs_folder_table& table) {
    check(CL_LyFS_Start() == LYFS_OK, "start");
    std::uint32_t slot = 0;
    std::uint32_t sectors = 0;
    int32_t status = CL_LyFS_Create_Partition(path.c_str(), LYFS_PART_FAT32, 1, &slot, &sectors, 0);
    if (status == LYFS_OK) {
        status =
            CL_LyFS_Create_Partition(path.c_str(), LYFS_PART_LYFS, UINT64_MAX, &slot, &sectors, 0);
    }
    if (status == LYFS_OK) {
        status = CL_LyFS_Format(path.c_str(), "", LYFS_PART_LYFS, 0, &table);
    }
    CL_LyFS_Stop();
    check(status == LYFS_OK, format("preparing %s failed: %d", path.c_str(), status));
}

Mount::Mount(const std::string& path) {
    check(CL_LyFS_Start() == LYFS_OK, "start");
    const int32_t status = CL_LyFS_Device_Open(path.c_str(), "card", 0, &desc_);
    check(status == LYFS_OK, format("mounting %s failed: %d", path.c_str(), status));
}

Mount::~Mount() {
    CL_LyFS_Device_Close(&desc_);
    CL_LyFS_Stop();
}

std::uint64_t heap_in_use() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;  // large buffers are mapped, not on the heap
}

}  // namespace lyfs::bench
