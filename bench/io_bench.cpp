// Writing a recording through the library and reading it back, against
// pwrite and pread of the same bytes in the same pieces at the same place of
// the same image, and against a replay of the library's own requests, which
// tells the library's own time from that of the requests the card's layout
// asks for. Writes are timed twice: with the pages the writers overwrite in
// the page cache, and with them dropped first, as on a card, whose old
// recordings were written long before; there the baseline writes at a
// page-aligned offset, since pages written in part must first be read.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "recording.h"

namespace lyfs::bench {
namespace {

constexpr double kReadTarget = 0.97;

struct Timings {
    std::vector<double> lyfs_write, raw_write, replay;
    std::vector<double> lyfs_write_cold, raw_write_cold_aligned, raw_write_cold_card, replay_cold;
    std::vector<double> raw_write_cold_phase;
    std::vector<double> lyfs_read_warm, raw_read_warm;
    std::vector<double> lyfs_read_cold, raw_read_cold;
};

// The library's requests of a write, made with pwrite and pread, with its
// two flushes (before the end mark and the entry, and after them). Sectors
// outside the recording are written back with what the image holds, so the
// card is left as it was.
double replay(const std::string& path, const std::vector<Request>& requests, std::uint64_t offset,
              const std::uint8_t* data) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    std::vector<std::uint8_t> scratch(kClusterBytes);
    std::vector<std::vector<std::uint8_t>> kept;
    std::size_t commit = 0;  // the end mark and the entry are the last two writes
    std::size_t writes = 0;
    for (std::size_t i = requests.size(); i-- > 0 && writes < 2;) {
        if (requests[i].write) {
            commit = i;
            ++writes;
        }
    }
    for (const Request& r : requests) {
        if (r.write && (r.offset < offset || r.offset >= offset + kRecordingBytes)) {
            kept.emplace_back(r.bytes);
            check(::pread(fd, kept.back().data(), r.bytes, static_cast<off_t>(r.offset)) ==
                      static_cast<ssize_t>(r.bytes),
                  "pread before the replay");
        }
    }
    const auto start = Clock::now();
    std::size_t next_kept = 0;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const Request& r = requests[i];
        if (i == commit) {
            ::fdatasync(fd);
        }
        const auto at = static_cast<off_t>(r.offset);
        if (!r.write) {
            check(::pread(fd, scratch.data(), r.bytes, at) == static_cast<ssize_t>(r.bytes),
                  "replayed pread");
            continue;
        }
        const bool payload = r.offset >= offset && r.offset < offset + kRecordingBytes;
        const std::uint8_t* src = payload ? data + (r.offset - offset) : kept[next_kept++].data();
        check(::pwrite(fd, src, r.bytes, at) == static_cast<ssize_t>(r.bytes), "replayed pwrite");
    }
    ::fdatasync(fd);
    ::close(fd);
    return seconds_since(start);
}

// Runs the measurements starting with the `first`th, so that none always
// goes first (the first pass over pages, or over the host's cache of a
// virtual disk, pays for the later ones).
void rotated(std::size_t first, const std::vector<std::function<void()>>& steps) {
    for (std::size_t i = 0; i < steps.size(); ++i) {
        steps[(first + i) % steps.size()]();
    }
}

// Where the baseline of the writes with the pages dropped writes: a
// page-aligned stretch of DATA behind the recording, which the library never
// touches.
std::uint64_t aligned_offset(std::uint64_t recording) {
    return (recording + kRecordingBytes + kMiB) / kMiB * kMiB;
}

// How far past a cluster-sized boundary of the device the library's
// page-aligned requests start: the first page boundary in the recording.
std::uint64_t request_phase(std::uint64_t recording) {
    const auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    return (recording + page - 1) / page * page % kClusterBytes;
}

// The writes with the pages dropped: the card formatted afresh, then each
// writer starts with nothing of the image in the page cache; the library's
// mount reads the FAT and the entry areas back in, as it does on a card.
void cold_writes(const ScratchImage& image, const Piece& piece,
                 const std::vector<std::uint8_t>& data, const std::vector<Request>& requests,
                 std::size_t round, Timings* t) {
    prepare_recording_card(image.path());
    const std::uint64_t offset = recording_offset(image.path());
    rotated(
        round,
        {[&] {
             image.drop_cache();
             Mount mount(image.path());
             t->lyfs_write_cold.push_back(
                 lyfs_write(mount.desc(), data.data(), piece.bytes, offset));
         },
         [&] {
             image.drop_cache();
             t->raw_write_cold_aligned.push_back(raw_write(
                 image.path(), aligned_offset(offset), data.data(), kRecordingBytes, piece.bytes));
         },
         [&] {
             image.drop_cache();
             t->raw_write_cold_card.push_back(
                 raw_write(image.path(), offset, data.data(), kRecordingBytes, piece.bytes));
         },
         [&] {
             image.drop_cache();
             t->replay_cold.push_back(replay(image.path(), requests, offset, data.data()));
         },
         [&] {
             image.drop_cache();
             t->raw_write_cold_phase.push_back(
                 raw_write(image.path(), aligned_offset(offset) + request_phase(offset),
                           data.data(), kRecordingBytes, piece.bytes));
         }});
}

// One round: the card is formatted afresh (the recording's clusters stay
// allocated in the image, as on a card that has been used), then the
// recording is written three ways and read two ways; then written again
// with the pages dropped.
void one_round(const ScratchImage& image, const Piece& piece, const std::vector<std::uint8_t>& data,
               std::vector<std::uint8_t>& back, const std::vector<Request>& requests,
               std::size_t round, Timings* t) {
    prepare_recording_card(image.path());
    const std::uint64_t offset = recording_offset(image.path());
    // Each leaves the recording's bytes where the library puts them, so the
    // card holds the file whichever goes last.
    rotated(
        round,
        {[&] {
             Mount mount(image.path());
             t->lyfs_write.push_back(lyfs_write(mount.desc(), data.data(), piece.bytes, offset));
         },
         [&] {
             t->raw_write.push_back(
                 raw_write(image.path(), offset, data.data(), kRecordingBytes, piece.bytes));
         },
         [&] { t->replay.push_back(replay(image.path(), requests, offset, data.data())); }});

    Mount mount(image.path());
    const auto reads = [&](std::vector<double>* lyfs, std::vector<double>* raw, bool drop) {
        rotated(round, {[&] {
                            if (drop) {
                                image.drop_cache();
                            }
                            std::fill(back.begin(), back.end(), 0);
                            lyfs->push_back(lyfs_read(mount.desc(), back.data(), piece.bytes));
                            check(back == data, "the recording reads back wrong");
                        },
                        [&] {
                            if (drop) {
                                image.drop_cache();
                            }
                            raw->push_back(raw_read(image.path(), offset, back.data(),
                                                    kRecordingBytes, piece.bytes));
                        }});
    };
    // An untimed pass first, so both find the pages where they will be.
    raw_read(image.path(), offset, back.data(), kRecordingBytes, piece.bytes);
    reads(&t->lyfs_read_warm, &t->raw_read_warm, false);
    image.drop_cache();
    raw_read(image.path(), offset, back.data(), kRecordingBytes, piece.bytes);
    reads(&t->lyfs_read_cold, &t->raw_read_cold, true);
    cold_writes(image, piece, data, requests, round, t);
}

double mib_per_s(double seconds) {
    return static_cast<double>(kRecordingBytes) / kMiB / seconds;
}

void print_ratio(const std::string& what, const char* baseline, const std::vector<double>& lyfs,
                 const std::vector<double>& raw, double target) {
    if (std::getenv("LYFS_BENCH_SAMPLES") != nullptr) {
        for (std::size_t i = 0; i < lyfs.size(); ++i) {
            std::printf("    round %zu: lyfs %.4f s, %s %.4f s\n", i, lyfs[i], baseline, raw[i]);
        }
    }
    const double ratio = ratio_of(lyfs, raw);
    print_figure(what + ", lyfs/" + baseline + " throughput",
                 format("%.3f  (lyfs %.0f MiB/s, %s %.0f MiB/s)", ratio, mib_per_s(median(lyfs)),
                        baseline, mib_per_s(median(raw))),
                 format(">= %.2f", target), ratio >= target);
}

void time_piece(const Options& options, const Piece& piece, const std::vector<std::uint8_t>& data,
                std::vector<std::uint8_t>& back) {
    // On a device the card takes all of it.
    ScratchImage image(options, "io", options.device.empty() ? kRecordingCardBytes : UINT64_MAX);
    const RecordingCost cost = count_recording(piece, data, back, image.size());
    if (!image.is_device()) {
        print_cost(piece, cost);
    }
    const std::vector<Request>& requests = cost.write_requests;
    prepare_recording_card(image.path());
    // The ranges the writers overwrite are written once before any round.
    const std::uint64_t offset = recording_offset(image.path());
    check(aligned_offset(offset) + kRecordingBytes + kClusterBytes <= image.size(),
          "the card is too small");
    raw_write(image.path(), offset, data.data(), kRecordingBytes, 1 << 20);
    raw_write(image.path(), aligned_offset(offset), data.data(), kRecordingBytes, 1 << 20);
    raw_write(image.path(), aligned_offset(offset) + request_phase(offset), data.data(),
              kRecordingBytes, 1 << 20);
    Timings t;
    for (int i = 0; i < options.runs; ++i) {
        one_round(image, piece, data, back, requests, static_cast<std::size_t>(i), &t);
    }
    const std::string where = image.is_device() ? image.path() : std::string("image");
    print_ratio(format("write 256 MiB in %s incl. close (%s)", piece.label, where.c_str()),
                "pwrite", t.lyfs_write, t.raw_write, piece.write_target);
    const double own = ratio_of(t.lyfs_write, t.replay);
    const double layout = ratio_of(t.replay, t.raw_write);
    print_figure(format("where the write time goes, %s (%s)", piece.label, where.c_str()),
                 format("lyfs/replay of its own requests %.3f (the library's own work); "
                        "replay/pwrite %.3f (its FAT and entry requests and second flush)",
                        own, layout));
    print_ratio(
        format("write 256 MiB in %s incl. close, pages dropped (%s)", piece.label, where.c_str()),
        "aligned pwrite", t.lyfs_write_cold, t.raw_write_cold_aligned, piece.cold_write_target);
    print_figure(
        format("where the write time goes, %s, pages dropped (%s)", piece.label, where.c_str()),
        format("lyfs/replay of its own requests %.3f; replay/aligned pwrite %.3f",
               ratio_of(t.lyfs_write_cold, t.replay_cold),
               ratio_of(t.replay_cold, t.raw_write_cold_aligned)));
    print_figure(format("what pages written in part cost, %s, pages dropped (%s)", piece.label,
                        where.c_str()),
                 format("pwrite at the recording's offset (%llu bytes into a page)/aligned pwrite "
                        "throughput %.3f; at a page boundary %llu bytes past a 128 KiB one, "
                        "where the library's requests start, %.3f",
                        static_cast<unsigned long long>(
                            offset % static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE))),
                        ratio_of(t.raw_write_cold_card, t.raw_write_cold_aligned),
                        static_cast<unsigned long long>(request_phase(offset)),
                        ratio_of(t.raw_write_cold_phase, t.raw_write_cold_aligned)));
    print_ratio(format("read back in %s, page cache (%s)", piece.label, where.c_str()), "pread",
                t.lyfs_read_warm, t.raw_read_warm, kReadTarget);
    print_ratio(
        format("read back in %s, guest page cache dropped (%s)", piece.label, where.c_str()),
        "pread", t.lyfs_read_cold, t.raw_read_cold, kReadTarget);
}

}  // namespace

void run_io_benchmarks(const Options& options) {
    const std::vector<std::uint8_t> data = recording_bytes();
    std::vector<std::uint8_t> back(data.size());
    Options on_image = options;
    on_image.device.clear();
    for (const Piece& piece : kPieces) {
        time_piece(on_image, piece, data, back);
        if (!options.device.empty()) {
            time_piece(options, piece, data, back);
        }
    }
    print_open_file_memory(options);
}

}  // namespace lyfs::bench
