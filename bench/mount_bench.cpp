// Mounting a 64 GiB card as its four folders fill from 2,000 to 20,000
// files, against reading the FAT and the file-entry areas raw; the bytes a
// mount reads and the memory a mounted card holds.
#include <cstdio>

#include "bench_support.h"
#include "card_builder.h"
#include "core/handles.h"
#include "device/partition.h"
#include "folder/folder.h"
#include "support/test_platform.h"

namespace lyfs::bench {
namespace {

constexpr std::uint64_t kCardBytes = 64 * kGiB;
constexpr std::uint32_t kMaxFiles = 6000;  // per folder: room for 20,000 in all
constexpr std::uint32_t kRawRequest = 131072;
constexpr std::uint32_t kCheckpoints[] = {2000, 5000, 10000, 20000};
constexpr const char* kFolders[] = {"DATA", "EVENT", "PHOTO", "PARKED"};
constexpr double kTarget = 2.0;

using Ranges = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

// The FAT and every folder's file-entry area, as device byte ranges.
Ranges metadata_ranges(const std::string& path) {
    Mount mount(path);
    const stPARTITION* part =
        resolve<stPARTITION>(mount.desc()->part_handle, HandleKind::kPartition);
    Ranges ranges;
    ranges.emplace_back(
        static_cast<std::uint64_t>(device_sector(part, part->fat_first_sector)) * 512,
        static_cast<std::uint64_t>(part->fat_sectors) * 512);
    for (const stFOLDER* f = part->folder_list; f != nullptr; f = f->next) {
        const std::uint32_t first = device_sector(part, part->data_start + f->start_sector_offset);
        ranges.emplace_back(static_cast<std::uint64_t>(first) * 512,
                            static_cast<std::uint64_t>(f->n_fe_clusters) * part->bytes_per_clus);
    }
    return ranges;
}

std::uint64_t bytes_of(const Ranges& ranges) {
    std::uint64_t total = 0;
    for (const auto& range : ranges) {
        total += range.second;
    }
    return total;
}

double time_mount(const std::string& path) {
    check(CL_LyFS_Start() == LYFS_OK, "start");
    dev_desc desc{};
    const auto start = Clock::now();
    const int32_t status = CL_LyFS_Device_Open(path.c_str(), "card", 0, &desc);
    const double seconds = seconds_since(start);
    check(status == LYFS_OK, format("mount failed: %d", status));
    CL_LyFS_Device_Close(&desc);
    CL_LyFS_Stop();
    return seconds;
}

struct MountFigures {
    std::uint64_t card_bytes;
    std::uint32_t files;
    std::uint64_t metadata_bytes;                     // the FAT and the entry areas
    double lyfs_cold, raw_cold, lyfs_warm, raw_warm;  // medians
    double cold_ratio, warm_ratio;                    // lyfs/raw, medians of the rounds'
    std::uint64_t bytes_read, reads, heap;
};

// Mount against a raw read of the FAT and the entry areas, each measured
// with the guest's page cache dropped and in it, in rounds that take both
// back to back; the ratios are the rounds' medians.
MountFigures measure(const Options& options, const ScratchImage& image, std::uint32_t files) {
    const Ranges ranges = metadata_ranges(image.path());
    MountFigures m{};
    m.card_bytes = image.size();
    m.files = files;
    m.metadata_bytes = bytes_of(ranges);
    std::vector<double> lc, rc, lw, rw;
    for (int i = 0; i < options.runs; ++i) {
        image.drop_cache();
        lc.push_back(time_mount(image.path()));
        image.drop_cache();
        rc.push_back(raw_read_ranges(image.path(), ranges, kRawRequest));
        lw.push_back(time_mount(image.path()));
        rw.push_back(raw_read_ranges(image.path(), ranges, kRawRequest));
    }
    m.cold_ratio = ratio_of(rc, lc);
    m.warm_ratio = ratio_of(rw, lw);
    m.lyfs_cold = median(lc);
    m.raw_cold = median(rc);
    m.lyfs_warm = median(lw);
    m.raw_warm = median(rw);
    test::TestPlatform platform;
    check(CL_LyFS_Start() == LYFS_OK, "start");
    dev_desc desc{};
    const std::uint64_t heap_before = heap_in_use();
    check(CL_LyFS_Device_Open(image.path().c_str(), "card", 0, &desc) == LYFS_OK, "mount");
    m.heap = heap_in_use() - heap_before;
    m.bytes_read = platform.counters.bytes_read;
    m.reads = platform.counters.reads;
    CL_LyFS_Device_Close(&desc);
    CL_LyFS_Stop();
    return m;
}

void print_mount(const MountFigures& m) {
    const std::string card = format("%llu GiB card, %u files",
                                    static_cast<unsigned long long>(m.card_bytes / kGiB), m.files);
    const double cold = m.cold_ratio;
    const double warm = m.warm_ratio;
    print_figure("mount of a " + card + ", guest page cache dropped: lyfs/raw time",
                 format("%.2f  (lyfs %.1f ms, raw read of the FAT and entry areas %.1f ms)", cold,
                        m.lyfs_cold * 1e3, m.raw_cold * 1e3),
                 format("<= %.1f", kTarget), cold <= kTarget);
    print_figure(
        "mount of a " + card + ", page cache: lyfs/raw time",
        format("%.2f  (lyfs %.1f ms, raw %.1f ms)", warm, m.lyfs_warm * 1e3, m.raw_warm * 1e3),
        format("<= %.1f", kTarget), warm <= kTarget);
    print_figure(
        "bytes the mount of a " + card + " reads",
        format("%.2f MiB in %llu requests  (the FAT and entry areas: %.2f MiB)",
               static_cast<double>(m.bytes_read) / kMiB, static_cast<unsigned long long>(m.reads),
               static_cast<double>(m.metadata_bytes) / kMiB));
}

// Adds files to the card, spread over its four folders, up to `total`.
void fill_to(const ScratchImage& image, std::uint32_t* files, std::uint32_t total) {
    CardBuilder builder(image.path());
    for (; *files < total; ++*files) {
        char name[32];
        std::snprintf(name, sizeof name, "REC_%06u_F.MP4", *files);
        builder.add_file(kFolders[*files % 4], name, 1);
    }
}

MountFigures card_of(const Options& options, std::uint64_t bytes, std::uint32_t files) {
    ScratchImage image(options, "mount", bytes);
    prepare_card(image.path(), folder_table(kMaxFiles));
    std::uint32_t made = 0;
    fill_to(image, &made, files);
    MountFigures m = measure(options, image, files);
    print_mount(m);
    return m;
}

}  // namespace

void run_mount_benchmarks(const Options& options) {
    Options on_image = options;
    on_image.device.clear();
    // The same files on cards whose FAT is a quarter, a half and all of the
    // 64 GiB card's.
    std::vector<MountFigures> sizes;
    for (std::uint64_t gib : {16, 32}) {
        sizes.push_back(card_of(on_image, gib * kGiB, kCheckpoints[0]));
    }
    ScratchImage image(on_image, "mount", kCardBytes);
    prepare_card(image.path(), folder_table(kMaxFiles));
    std::vector<MountFigures> series;
    std::uint32_t files = 0;
    for (std::uint32_t checkpoint : kCheckpoints) {
        fill_to(image, &files, checkpoint);
        series.push_back(measure(on_image, image, files));
        print_mount(series.back());
    }
    sizes.push_back(series.front());
    const MountFigures& small = sizes.front();
    const MountFigures& large = sizes.back();
    print_figure(format("mount time growth from a 16 to a 64 GiB card, %u files", small.files),
                 format("FAT and entry areas x%.2f; time from the disk x%.2f, page cache x%.2f",
                        static_cast<double>(large.metadata_bytes) / small.metadata_bytes,
                        large.lyfs_cold / small.lyfs_cold, large.lyfs_warm / small.lyfs_warm));
    const MountFigures& first = series.front();
    const MountFigures& last = series.back();
    print_figure(
        format("mount time growth from %u to %u files, 64 GiB card", first.files, last.files),
        format("time from the disk x%.2f, page cache x%.2f; bytes read x%.2f",
               last.lyfs_cold / first.lyfs_cold, last.lyfs_warm / first.lyfs_warm,
               static_cast<double>(last.bytes_read) / first.bytes_read));
    const double per_file =
        static_cast<double>(last.heap - first.heap) / (last.files - first.files);
    print_figure("memory per mounted card",
                 format("%.0f bytes + %.0f bytes per file  (%llu bytes with %u files)",
                        static_cast<double>(first.heap) - per_file * first.files, per_file,
                        static_cast<unsigned long long>(last.heap), last.files));
}

}  // namespace lyfs::bench
