// What a recording costs the device, counted on the test platform: bytes
// written per payload byte, requests, data sectors read back, and the pages
// the operating system must read to take writes that cover them in part.
#include <unistd.h>

#include <unordered_set>

#include "recording.h"
#include "support/test_platform.h"

namespace lyfs::bench {
namespace {

double per_mib(std::uint64_t n) {
    return static_cast<double>(n) / (static_cast<double>(kRecordingBytes) / kMiB);
}

// The device's pages in the operating system's cache, from a moment when
// none were: a page comes in when it is read or written, and a write that
// covers a page only in part first reads it from the card if it is not in.
class PageCache {
public:
    explicit PageCache(std::uint64_t page) : page_(page) {}
    void read(std::uint64_t offset, std::uint64_t bytes) {
        for (std::uint64_t p = offset / page_; p * page_ < offset + bytes; ++p) {
            cached_.insert(p);
        }
    }
    // The pages this write makes the operating system read first.
    std::uint32_t write(std::uint64_t offset, std::uint64_t bytes) {
        const std::uint64_t first = offset / page_;
        const std::uint64_t last = (offset + bytes - 1) / page_;
        const bool first_in_part = offset % page_ != 0 || (first == last && bytes < page_);
        const bool last_in_part = last != first && (offset + bytes) % page_ != 0;
        const std::uint32_t reads = (first_in_part && cached_.count(first) == 0 ? 1 : 0) +
                                    (last_in_part && cached_.count(last) == 0 ? 1 : 0);
        read(offset, bytes);
        return reads;
    }

private:
    std::uint64_t page_;
    std::unordered_set<std::uint64_t> cached_;
};

}  // namespace

RecordingCost count_recording(const Piece& piece, const std::vector<std::uint8_t>& data,
                              std::vector<std::uint8_t>& back, std::uint64_t card_bytes) {
    test::TestPlatform platform;
    platform.page_bytes = static_cast<std::uint32_t>(::sysconf(_SC_PAGESIZE));
    platform.add_card("count", card_bytes);
    prepare_recording_card("mem:count");
    const std::uint64_t offset = recording_offset("mem:count");
    // The cache starts empty before the mount, as when a card is put in.
    PageCache cache(platform.page_bytes);
    const std::size_t mounted_from = platform.log.size();
    Mount mount("mem:count");
    for (std::size_t i = mounted_from; i < platform.log.size(); ++i) {
        cache.read(platform.log[i].offset, platform.log[i].bytes);
    }
    RecordingCost cost;
    std::size_t from = platform.log.size();
    const std::uint64_t partial_before = platform.counters.partial_page_writes;
    lyfs_write(mount.desc(), data.data(), piece.bytes, offset);
    cost.partial_page_writes = platform.counters.partial_page_writes - partial_before;
    for (std::size_t i = from; i < platform.log.size(); ++i) {
        const test::IoRecord& r = platform.log[i];
        const bool write = r.op == test::IoOp::kWrite;
        const bool in_data = r.offset + r.bytes > offset && r.offset < offset + kRecordingBytes;
        cost.write_requests.push_back({write, r.offset, r.bytes});
        if (write) {
            ++cost.writes;
            cost.bytes_written += r.bytes;
            const std::uint32_t page_reads = cache.write(r.offset, r.bytes);
            const bool partial = r.offset % platform.page_bytes != 0 ||
                                 (r.offset + r.bytes) % platform.page_bytes != 0;
            cost.page_reads += page_reads;
            cost.data_page_reads += in_data ? page_reads : 0;
            cost.data_partial_page_writes += in_data && partial ? 1 : 0;
        } else {
            ++cost.write_reads;
            cache.read(r.offset, r.bytes);
            if (in_data) {
                cost.data_sectors_read += r.bytes / 512;
            }
        }
    }
    from = platform.log.size();
    lyfs_read(mount.desc(), back.data(), piece.bytes);
    check(back == data, "the recording reads back wrong");
    for (std::size_t i = from; i < platform.log.size(); ++i) {
        ++cost.reads;
        cost.bytes_read += platform.log[i].bytes;
    }
    return cost;
}

void print_cost(const Piece& piece, const RecordingCost& cost) {
    const std::uint64_t clusters = kRecordingBytes / kClusterBytes;
    const std::uint64_t pieces = (kRecordingBytes + piece.bytes - 1) / piece.bytes;
    // One FAT sector per cluster and the entry at create and at close; a
    // piece that ends inside a sector writes that sector once more.
    const std::uint64_t unaligned = piece.bytes % 512 != 0 ? pieces : 0;
    const double payload = static_cast<double>(kRecordingBytes);
    const double limit = 1 + (512.0 * static_cast<double>(clusters + 2 + unaligned)) / payload;
    const double per_byte = static_cast<double>(cost.bytes_written) / payload;
    print_figure(format("device bytes written per payload byte, %s", piece.label),
                 format("%.5f  (%llu bytes for %llu)", per_byte,
                        static_cast<unsigned long long>(cost.bytes_written),
                        static_cast<unsigned long long>(kRecordingBytes)),
                 format("<= %.5f", limit), per_byte <= limit + 1e-9);
    print_figure(format("device requests per MiB written, %s", piece.label),
                 format("%.2f  (%.2f writes, %.2f reads; %.2f pieces)",
                        per_mib(cost.writes + cost.write_reads), per_mib(cost.writes),
                        per_mib(cost.write_reads), per_mib(pieces)));
    print_figure(format("data sectors read back while writing, %s", piece.label),
                 format("%llu", static_cast<unsigned long long>(cost.data_sectors_read)), "0",
                 cost.data_sectors_read == 0);
    print_figure(
        format("writes that start or end inside a page, %s", piece.label),
        format("%llu of %llu (%llu in the recording's clusters); page reads they provoke when "
               "only what the mount read is cached: %llu (%llu in the recording's clusters)",
               static_cast<unsigned long long>(cost.partial_page_writes),
               static_cast<unsigned long long>(cost.writes),
               static_cast<unsigned long long>(cost.data_partial_page_writes),
               static_cast<unsigned long long>(cost.page_reads),
               static_cast<unsigned long long>(cost.data_page_reads)));
    print_figure(
        format("device requests per MiB read, %s", piece.label),
        format("%.2f  (%.4f bytes read per payload byte; %.2f pieces)", per_mib(cost.reads),
               static_cast<double>(cost.bytes_read) / payload, per_mib(pieces)));
}

void print_open_file_memory(const Options& options) {
    Options on_image = options;
    on_image.device.clear();
    ScratchImage image(on_image, "memory", kRecordingCardBytes);
    prepare_recording_card(image.path());
    Mount mount(image.path());
    std::vector<std::uint8_t> piece(100'000, 0x5A);
    const std::uint64_t before_write = heap_in_use();
    const std::uint32_t fd =
        CL_LyFS_File_Open(mount.desc(), "/DATA/memory_test_file.ts", "w", 0, 0, 0);
    check(CL_LyFS_File_Write(mount.desc(), piece.data(), 100'000, fd) == 100'000, "write");
    const std::uint64_t writing = heap_in_use() - before_write;
    check(CL_LyFS_File_Close(mount.desc(), fd) == LYFS_OK, "close");
    const std::uint64_t before_read = heap_in_use();
    const std::uint32_t rfd =
        CL_LyFS_File_Open(mount.desc(), "/DATA/memory_test_file.ts", "r", 0, 0, 0);
    check(CL_LyFS_File_Read(mount.desc(), piece.data(), 100'000, rfd) == 100'000, "read");
    const std::uint64_t reading = heap_in_use() - before_read;
    check(CL_LyFS_File_Close(mount.desc(), rfd) == LYFS_OK, "close");
    print_figure(
        "memory per open file",
        format("%llu bytes open for reading; %llu bytes for a new file open for "
               "writing (its file object included)",
               static_cast<unsigned long long>(reading), static_cast<unsigned long long>(writing)));
}

}  // namespace lyfs::bench
