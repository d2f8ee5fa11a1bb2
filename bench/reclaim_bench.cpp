// Reclaiming space: a create in a full EVENT folder deletes its oldest 100
// recordings (they share a name group, so one reclaim takes them all). Time
// against reading and writing once, raw, each sector the deletion changed;
// FAT and entry sectors read and written, counted on the test platform.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <set>

#include "bench_support.h"
#include "card_builder.h"
#include "core/handles.h"
#include "device/partition.h"
#include "folder/folder.h"
#include "support/test_platform.h"

namespace lyfs::bench {
namespace {

constexpr std::uint64_t kCardBytes = 64 * kGiB;
constexpr std::uint32_t kClusterBytes = 131072;
constexpr std::uint32_t kRecordingClusters = 512;  // 64 MiB
constexpr std::uint32_t kOldest = 100;
constexpr std::uint64_t kEventReserve = 100 * kMiB;
constexpr const char* kNewFile = "/EVENT/NEW_RECORDING_0001.MP4";

std::uint32_t g_deleted = 0;
void count_deletion(std::uint32_t, std::uint32_t, char*) {
    ++g_deleted;
}

// Fills EVENT until its free space is at or below its reserve without any
// reclaim running: the oldest 100 files share their first 15 characters.
void fill_event(const std::string& path) {
    CardBuilder builder(path);
    const std::uint64_t recording = std::uint64_t{kRecordingClusters} * kClusterBytes;
    char name[40];
    for (std::uint32_t n = 0;; ++n) {
        const std::uint64_t free = builder.free_space("EVENT");
        // Every piece checks the reserve first: the last one must still see room.
        if (free <= kEventReserve + recording - kClusterBytes) {
            if (free > kEventReserve) {
                const std::uint64_t rest = free - kEventReserve;
                builder.add_file(
                    "EVENT", "EVENT_FILLER_REC.MP4",
                    static_cast<std::uint32_t>((rest + kClusterBytes - 1) / kClusterBytes));
            }
            check(n > kOldest, "EVENT holds too few recordings");
            return;
        }
        if (n < kOldest) {
            std::snprintf(name, sizeof name, "OLDEST_RECORDS_%03u.MP4", n);
        } else {
            std::snprintf(name, sizeof name, "EVENT_%06u_REC.MP4", n);
        }
        builder.add_file("EVENT", name, kRecordingClusters);
    }
}

struct Region {
    std::uint64_t offset, length;
    std::vector<std::uint8_t> bytes;
};

// The FAT and EVENT's entry area, to put back after each deletion.
std::vector<Region> snapshot(const std::string& path, std::uint64_t* fat_begin,
                             std::uint64_t* fat_end) {
    Mount mount(path);
    const stPARTITION* part =
        resolve<stPARTITION>(mount.desc()->part_handle, HandleKind::kPartition);
    const stFOLDER* event = get_folder_object(const_cast<stPARTITION*>(part), "EVENT");
    std::vector<Region> regions;
    *fat_begin = static_cast<std::uint64_t>(device_sector(part, part->fat_first_sector)) * 512;
    *fat_end = *fat_begin + static_cast<std::uint64_t>(part->fat_sectors) * 512;
    regions.push_back({*fat_begin, *fat_end - *fat_begin, {}});
    regions.push_back({static_cast<std::uint64_t>(
                           device_sector(part, part->data_start + event->start_sector_offset)) *
                           512,
                       static_cast<std::uint64_t>(event->n_fe_clusters) * part->bytes_per_clus,
                       {}});
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    for (Region& r : regions) {
        r.bytes.resize(r.length);
        check(::pread(fd, r.bytes.data(), r.length, static_cast<off_t>(r.offset)) ==
                  static_cast<ssize_t>(r.length),
              "snapshot");
    }
    ::close(fd);
    return regions;
}

void restore(const std::string& path, const std::vector<Region>& regions) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    for (const Region& r : regions) {
        check(::pwrite(fd, r.bytes.data(), r.length, static_cast<off_t>(r.offset)) ==
                  static_cast<ssize_t>(r.length),
              "restore");
    }
    ::fdatasync(fd);
    ::close(fd);
}

// The create that reclaims: its seconds. `log_from`, when given, receives
// where the platform's log stood when it began.
double reclaim_once(const std::string& path, const test::TestPlatform* platform = nullptr,
                    std::size_t* log_from = nullptr) {
    Mount mount(path);
    CL_LyFS_File_Delete_Callback_Register(count_deletion);
    g_deleted = 0;
    if (platform != nullptr) {
        *log_from = platform->log.size();
    }
    const auto start = Clock::now();
    const std::uint32_t fd = CL_LyFS_File_Open(mount.desc(), kNewFile, "w", 0, 0, 0);
    const double seconds = seconds_since(start);
    check(fd != LYFS_INVALID_FD, "the create in a full folder failed");
    check(g_deleted == kOldest, format("the reclaim deleted %u files", g_deleted));
    CL_LyFS_File_Close(mount.desc(), fd);
    return seconds;
}

// Reads and writes once each distinct sector the deletion wrote.
double raw_rewrite(const std::string& path, const std::set<std::uint64_t>& sectors) {
    std::uint8_t sector[512];
    const auto start = Clock::now();
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    for (std::uint64_t offset : sectors) {
        check(::pread(fd, sector, 512, static_cast<off_t>(offset)) == 512, "pread");
        check(::pwrite(fd, sector, 512, static_cast<off_t>(offset)) == 512, "pwrite");
    }
    ::close(fd);
    return seconds_since(start);
}

}  // namespace

void run_reclaim_benchmark(const Options& options) {
    Options on_image = options;
    on_image.device.clear();
    ScratchImage image(on_image, "reclaim", kCardBytes);
    prepare_card(image.path(), folder_table(6000));
    fill_event(image.path());
    std::uint64_t fat_begin = 0;
    std::uint64_t fat_end = 0;
    const std::vector<Region> regions = snapshot(image.path(), &fat_begin, &fat_end);

    std::uint64_t fat_reads = 0, fat_writes = 0, other_reads = 0, other_writes = 0;
    std::set<std::uint64_t> written;
    {
        test::TestPlatform platform;
        std::size_t from = 0;
        reclaim_once(image.path(), &platform, &from);
        for (std::size_t i = from; i < platform.log.size(); ++i) {
            const test::IoRecord& r = platform.log[i];
            const bool fat = r.offset >= fat_begin && r.offset < fat_end;
            if (r.op == test::IoOp::kRead) {
                (fat ? fat_reads : other_reads) += r.bytes / 512;
            } else {
                (fat ? fat_writes : other_writes) += r.bytes / 512;
                for (std::uint32_t s = 0; s < r.bytes / 512; ++s) {
                    written.insert(r.offset + 512ull * s);
                }
            }
        }
    }
    restore(image.path(), regions);
    std::vector<double> lyfs, raw;
    for (int i = 0; i < options.runs; ++i) {
        lyfs.push_back(reclaim_once(image.path()));
        restore(image.path(), regions);
        raw.push_back(raw_rewrite(image.path(), written));
        restore(image.path(), regions);
    }
    const double l = median(lyfs);
    const double r = median(raw);
    print_figure(
        format("reclaim of the oldest %u recordings (64 MiB each) of a full folder", kOldest),
        format("%.1f ms, lyfs/raw %.2f  (raw: read and write once each of the %zu sectors "
               "it changed, %.1f ms)",
               l * 1e3, l / r, written.size(), r * 1e3));
    print_figure(
        format("FAT sectors the reclaim of %u recordings reads and writes", kOldest),
        format("%llu read, %llu written  (other sectors: %llu read, %llu written; "
               "the deleted chains cover %u clusters)",
               static_cast<unsigned long long>(fat_reads),
               static_cast<unsigned long long>(fat_writes),
               static_cast<unsigned long long>(other_reads),
               static_cast<unsigned long long>(other_writes), kOldest * kRecordingClusters));
}

}  // namespace lyfs::bench
