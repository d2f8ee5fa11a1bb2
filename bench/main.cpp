// lyfs_bench: every performance figure of the library, one line each, each
// measured against its raw baseline in the same run.
//
//   lyfs_bench [--runs N] [--dir DIR] [--device PATH] [--only io|mount|reclaim|fuse]
//
// --device runs the write and read figures on a block device as well. It
// repartitions and formats that device: everything on it is lost.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench_support.h"

namespace {

void print_machine() {
    std::string model = "unknown CPU";
    if (FILE* f = std::fopen("/proc/cpuinfo", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f) != nullptr) {
            if (std::strncmp(line, "model name", 10) == 0) {
                model = std::strchr(line, ':') + 2;
                model.erase(model.find_last_not_of('\n') + 1);
                break;
            }
        }
        std::fclose(f);
    }
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page = sysconf(_SC_PAGESIZE);
    std::printf("machine: %s, %ld CPUs, %.1f GiB memory\n", model.c_str(),
                sysconf(_SC_NPROCESSORS_ONLN),
                static_cast<double>(pages) * static_cast<double>(page) / (1ull << 30));
}

[[noreturn]] void usage() {
    std::fprintf(stderr,
                 "usage: lyfs_bench [--runs N] [--dir DIR] [--device PATH] "
                 "[--only io|mount|reclaim|fuse]\n");
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    lyfs::bench::Options options;
    std::string only;
    if (const char* device = std::getenv("LYFS_BENCH_DEVICE")) {
        options.device = device;
    }
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) {
            usage();
        }
        const char* value = argv[++i];
        if (arg == "--runs") {
            options.runs = std::max(1, std::atoi(value));
        } else if (arg == "--dir") {
            options.dir = value;
        } else if (arg == "--device") {
            options.device = value;
        } else if (arg == "--only") {
            only = value;
        } else {
            usage();
        }
    }
    print_machine();
    std::printf(
        "timings: %d rounds, each measuring the library and its baseline back to back; "
        "ratios are medians\n",
        options.runs);
    if (only.empty() || only == "io") {
        lyfs::bench::run_io_benchmarks(options);
    }
    if (only.empty() || only == "mount") {
        lyfs::bench::run_mount_benchmarks(options);
    }
    if (only.empty() || only == "reclaim") {
        lyfs::bench::run_reclaim_benchmark(options);
    }
    if (only.empty() || only == "fuse") {
        lyfs::bench::run_mount_read_benchmark(options);
    }
    return 0;
}
