#include "recording.h"

#include <algorithm>
#include <cstring>

#include "core/handles.h"
#include "device/partition.h"
#include "file/open_files.h"
#include "folder/folder.h"

namespace lyfs::bench {
namespace {

constexpr const char* kPath = "/DATA/20240101_120000_F.MP4";

stPARTITION* partition_of(dev_desc* desc) {
    return resolve<stPARTITION>(desc->part_handle, HandleKind::kPartition);
}

std::uint64_t cluster_offset(const stPARTITION* part, std::uint32_t cluster) {
    return static_cast<std::uint64_t>(device_sector(part, cluster_first_sector(part, cluster))) *
           512;
}

// Where the open file's data went: its clusters must follow each other.
std::uint64_t data_offset_of(dev_desc* desc, std::uint32_t fd) {
    stPARTITION* part = partition_of(desc);
    const stOPEN_FILE* node = find_open_file_list(part, fd);
    check(node != nullptr && node->clus_chain.n_chain_entries > 0, "no cluster chain");
    const stCLUS_CHAIN& chain = node->clus_chain;
    for (std::uint32_t i = 1; i < chain.n_chain_entries; ++i) {
        check(chain.p_clus_chain[i] == chain.p_clus_chain[0] + i,
              "the recording is not contiguous");
    }
    return cluster_offset(part, chain.p_clus_chain[0]);
}

}  // namespace

std::vector<std::uint8_t> recording_bytes() {
    std::vector<std::uint8_t> bytes(kRecordingBytes);
    std::uint64_t x = 0x9E3779B97F4A7C15ull;
    for (std::size_t i = 0; i < bytes.size(); i += 8) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        std::memcpy(bytes.data() + i, &x, 8);
    }
    return bytes;
}

void prepare_recording_card(const std::string& path) {
    prepare_card(path, folder_table(1000, 50));
}

std::uint64_t recording_offset(const std::string& path) {
    Mount mount(path);
    stPARTITION* part = partition_of(mount.desc());
    return cluster_offset(part, get_folder_object(part, "DATA")->n_fc_start_cluster);
}

double lyfs_write(dev_desc* desc, const std::uint8_t* src, std::uint32_t piece,
                  std::uint64_t expected_offset) {
    const auto start = Clock::now();
    const std::uint32_t fd = CL_LyFS_File_Open(desc, kPath, "w", 0, 0, 0);
    check(fd != LYFS_INVALID_FD, "create");
    for (std::uint64_t at = 0; at < kRecordingBytes; at += piece) {
        const auto n =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(piece, kRecordingBytes - at));
        check(CL_LyFS_File_Write(desc, src + at, n, fd) == static_cast<int32_t>(n),
              format("write at %llu", static_cast<unsigned long long>(at)));
    }
    const double before_close = seconds_since(start);
    check(data_offset_of(desc, fd) == expected_offset,
          "the recording is not where the baselines write");
    const auto close_start = Clock::now();
    check(CL_LyFS_File_Close(desc, fd) == LYFS_OK, "close");
    return before_close + seconds_since(close_start);
}

double lyfs_read(dev_desc* desc, std::uint8_t* dst, std::uint32_t piece) {
    const auto start = Clock::now();
    const std::uint32_t fd = CL_LyFS_File_Open(desc, kPath, "r", 0, 0, 0);
    check(fd != LYFS_INVALID_FD, "open for reading");
    for (std::uint64_t at = 0; at < kRecordingBytes; at += piece) {
        const auto n =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(piece, kRecordingBytes - at));
        check(CL_LyFS_File_Read(desc, dst + at, n, fd) == static_cast<int32_t>(n), "read");
    }
    check(CL_LyFS_File_Close(desc, fd) == LYFS_OK, "close after reading");
    return seconds_since(start);
}

}  // namespace lyfs::bench
