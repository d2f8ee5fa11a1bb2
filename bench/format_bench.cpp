// Formats a sparse 64 GiB card image and compares the time with writing the
// very same bytes at the very same places with pwrite, measured in one run.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/card_maker.h"
#include "support/test_platform.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint64_t kImageBytes = 64ull << 30;

std::string make_image(const char* tag) {
    std::string path = std::string("/tmp/lyfs-bench-") + tag + "-XXXXXX";
    int fd = ::mkstemp(path.data());
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(kImageBytes)) != 0) {
        std::perror("lyfs_format_bench: image");
        std::exit(1);
    }
    ::close(fd);
    return path;
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The same writes as the format made, straight to a fresh image.
double replay_with_pwrite(const std::vector<lyfs::test::IoRecord>& writes) {
    const std::string path = make_image("raw");
    std::vector<char> zeros(1 << 20, 0);
    const auto start = Clock::now();
    int fd = ::open(path.c_str(), O_RDWR);
    for (const auto& w : writes) {
        if (::pwrite(fd, zeros.data(), w.bytes, static_cast<off_t>(w.offset)) !=
            static_cast<ssize_t>(w.bytes)) {
            std::perror("lyfs_format_bench: pwrite");
            std::exit(1);
        }
    }
    ::fdatasync(fd);
    ::close(fd);
    const double elapsed = seconds_since(start);
    ::unlink(path.c_str());
    return elapsed;
}

struct FormatRun {
    double seconds = 0;
    lyfs::test::IoCounters counters;
    std::vector<lyfs::test::IoRecord> writes;
    std::uint32_t sectors = 0;
};

FormatRun format_once() {
    const std::string path = make_image("card");
    lyfs::test::TestPlatform platform;
    CL_LyFS_Start();
    const auto table = lyfs::test::default_folder_table();
    FormatRun run;
    std::uint32_t slot = 0;
    CL_LyFS_Create_Partition(path.c_str(), LYFS_PART_FAT32, 64, &slot, &run.sectors, 0);
    CL_LyFS_Create_Partition(path.c_str(), LYFS_PART_LYFS, UINT64_MAX, &slot, &run.sectors, 0);
    platform.log.clear();
    platform.counters = {};

    const auto start = Clock::now();
    const int32_t status = CL_LyFS_Format(path.c_str(), "", LYFS_PART_LYFS, 0, &table);
    run.seconds = seconds_since(start);
    CL_LyFS_Stop();
    ::unlink(path.c_str());
    if (status != LYFS_OK) {
        std::fprintf(stderr, "format failed: %d (%s)\n", status, lyfs_status_text(status));
        std::exit(1);
    }
    run.counters = platform.counters;
    for (const auto& r : platform.log) {
        if (r.op == lyfs::test::IoOp::kWrite) {
            run.writes.push_back(r);
        }
    }
    return run;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main() {
    constexpr int kRuns = 7;
    std::vector<double> format_times;
    std::vector<double> raw_times;
    FormatRun run;
    for (int i = 0; i < kRuns; ++i) {
        run = format_once();
        format_times.push_back(run.seconds);
        raw_times.push_back(replay_with_pwrite(run.writes));
    }
    const double format_seconds = median(format_times);
    const double raw_seconds = median(raw_times);
    std::printf("format of a 64 GiB card image (%u sectors in slot 1), median of %d runs\n",
                run.sectors, kRuns);
    std::printf("  bytes written:   %llu (%.2f MiB) in %llu requests\n",
                static_cast<unsigned long long>(run.counters.bytes_written),
                run.counters.bytes_written / 1048576.0,
                static_cast<unsigned long long>(run.counters.writes));
    std::printf("  bytes read:      %llu in %llu requests\n",
                static_cast<unsigned long long>(run.counters.bytes_read),
                static_cast<unsigned long long>(run.counters.reads));
    std::printf("  format time:     %.4f s\n", format_seconds);
    std::printf("  pwrite baseline: %.4f s (the same writes, same run)\n", raw_seconds);
    std::printf("  ratio format/pwrite: %.2f\n", format_seconds / raw_seconds);
    return 0;
}
