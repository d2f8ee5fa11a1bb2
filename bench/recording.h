// The recording the I/O benchmarks write and read: 256 MiB into DATA of a
// freshly prepared card of 1984 MiB, through the exports, in pieces of one
// size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench_support.h"

namespace lyfs::bench {

constexpr std::uint32_t kClusterBytes = 131072;
// The largest file the cluster-chain array holds: 2,048 clusters.
constexpr std::uint64_t kRecordingBytes = 256 * kMiB;
// A size cards are sold in: its FAT of 124 sectors puts every cluster 2 KiB
// into a 4 KiB page, as on most cards (a card of exactly 2 GiB has a FAT of
// 128 sectors and page-aligned clusters, which hides what partial pages cost).
constexpr std::uint64_t kRecordingCardBytes = 1984 * kMiB;

struct Piece {
    std::uint32_t bytes;
    const char* label;
    double write_target;       // against pwrite of the same pieces at the same offsets
    double cold_write_target;  // pages dropped, against pwrite at a page-aligned offset
};
inline constexpr Piece kPieces[] = {{kClusterBytes, "128 KiB pieces", 0.95, 0.90},
                                    {100'000, "100,000-byte pieces", 0.85, 0.85}};

std::vector<std::uint8_t> recording_bytes();
// Partitions and formats the card for the recording (DATA 50 %, far above
// its reserve).
void prepare_recording_card(const std::string& path);
// Device byte offset of DATA's first content cluster, where the recording
// goes on a freshly prepared card.
std::uint64_t recording_offset(const std::string& path);

// Create, write in pieces, close: the seconds it took. Checks that the
// recording went to recording_offset in one run of clusters.
double lyfs_write(dev_desc* desc, const std::uint8_t* src, std::uint32_t piece,
                  std::uint64_t expected_offset);
// Open, read in pieces, close: the seconds it took.
double lyfs_read(dev_desc* desc, std::uint8_t* dst, std::uint32_t piece);

// One device request of the library.
struct Request {
    bool write;
    std::uint64_t offset;
    std::uint32_t bytes;
};
// What writing and reading the recording cost the device.
struct RecordingCost {
    std::vector<Request> write_requests;  // create to close
    std::uint64_t writes = 0, write_reads = 0, bytes_written = 0, data_sectors_read = 0;
    std::uint64_t reads = 0, bytes_read = 0;
    // Writes that start or end inside a page, and the page reads they make
    // the operating system do when nothing but what the mount read is cached.
    std::uint64_t partial_page_writes = 0, data_partial_page_writes = 0;
    std::uint64_t page_reads = 0, data_page_reads = 0;
};
// Mounts, writes and reads the recording on a counting in-memory card of
// `card_bytes`, laid out as the card the timings use.
RecordingCost count_recording(const Piece& piece, const std::vector<std::uint8_t>& data,
                              std::vector<std::uint8_t>& back, std::uint64_t card_bytes);
void print_cost(const Piece& piece, const RecordingCost& cost);
// Prints the heap bytes an open file holds, writing and reading.
void print_open_file_memory(const Options& options);

}  // namespace lyfs::bench
