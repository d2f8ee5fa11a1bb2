// What every benchmark of lyfs_bench shares: scratch card images, the raw
// baselines each figure is measured against, medians, and the one-line
// report of a figure.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "lyfs/lyfs.h"

namespace lyfs::bench {

struct Options {
    std::string dir = "/tmp";  // where scratch images live
    std::string device;        // a block device to run the I/O figures on as well
    int runs = 9;              // rounds of each timing
};

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start);
double median(std::vector<double> values);
// The median of the rounds' ratios baseline/measured: a round takes both
// back to back, so the load of a shared machine, which drifts, weighs on
// both alike.
double ratio_of(const std::vector<double>& measured, const std::vector<double>& baseline);
// Exits with a message; benchmarks have no way to go on after a failure.
[[noreturn]] void fail(const std::string& what);
void check(bool ok, const std::string& what);

// One figure per line: name, value, and where it has one, its target and
// whether this run met it.
void print_figure(const std::string& name, const std::string& value, const std::string& target = "",
                  int met = -1);
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

constexpr std::uint64_t kMiB = 1ull << 20;
constexpr std::uint64_t kGiB = 1ull << 30;

// A sparse image file that is removed with the object. A device path is
// used as it is and never removed.
class ScratchImage {
public:
    ScratchImage(const Options& options, const char* tag, std::uint64_t bytes);
    ~ScratchImage();
    ScratchImage(const ScratchImage&) = delete;
    ScratchImage& operator=(const ScratchImage&) = delete;

    const std::string& path() const { return path_; }
    bool is_device() const { return is_device_; }
    std::uint64_t size() const { return size_; }
    // Makes what was written durable and drops the image's pages from the
    // page cache, so the next read comes from the disk.
    void drop_cache() const;
    // Gives a range back to the file system (a fresh, unwritten range), so a
    // baseline writes where the library wrote and on equal terms. Nothing on
    // a device.
    void punch(std::uint64_t offset, std::uint64_t length) const;

private:
    std::string path_;
    bool is_device_ = false;
    std::uint64_t size_ = 0;
};

// Raw baselines on the same image: the same piece size at the same offsets.
// The write ends with one fdatasync. Each returns its seconds.
double raw_write(const std::string& path, std::uint64_t offset, const std::uint8_t* src,
                 std::uint64_t total, std::uint32_t piece);
double raw_read(const std::string& path, std::uint64_t offset, std::uint8_t* dst,
                std::uint64_t total, std::uint32_t piece);
// Reads the ranges (offset, length) in requests of at most `request` bytes.
double raw_read_ranges(const std::string& path,
                       const std::vector<std::pair<std::uint64_t, std::uint64_t>>& ranges,
                       std::uint32_t request);

// Partitions the image (slot 0 of 1 MiB, slot 1 the rest) and formats slot 1
// with `table`, through the library.
void prepare_card(const std::string& path, const lyfs_folder_table& table);
lyfs_folder_table folder_table(std::uint32_t max_files, std::uint64_t data_share = 40);

// A started library with the card mounted; stopped again on the way out.
class Mount {
public:
    explicit Mount(const std::string& path);
    ~Mount();
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;
    dev_desc* desc() { return &desc_; }

private:
    dev_desc desc_{};
};

// Heap bytes in use (the library allocates through malloc).
std::uint64_t heap_in_use();

// Sections of lyfs_bench.
void run_io_benchmarks(const Options& options);
void run_mount_benchmarks(const Options& options);
void run_reclaim_benchmark(const Options& options);
void run_mount_read_benchmark(const Options& options);

}  // namespace lyfs::bench
