#include "mount_input.h"

#include <algorithm>

namespace lyfs::fuzz {
namespace {

constexpr std::size_t kHeadBytes = 4;
constexpr std::uint8_t kFailAllocation = 0xF0;
constexpr std::uint8_t kFailRead = 0xF1;
constexpr std::uint8_t kFailWrite = 0xF2;
constexpr std::uint8_t kFailFlush = 0xF3;
constexpr std::uint32_t kSectorBytes = 512;

}  // namespace

MountInput decode_mount_input(const std::uint8_t* data, std::size_t size,
                              std::uint32_t patchable_count) {
    MountInput input;
    std::size_t at = 0;
    while (size - at >= kHeadBytes) {
        const std::uint8_t selector = data[at];
        const std::uint32_t value = data[at + 1] | (data[at + 2] << 8);
        const std::uint8_t n = data[at + 3];
        at += kHeadBytes;
        if (selector == kFailAllocation) {
            input.failing_allocation = value;
        } else if (selector == kFailRead || selector == kFailWrite) {
            input.failing_transfer = value;
            input.failing_transfer_writes = selector == kFailWrite;
        } else if (selector == kFailFlush) {
            input.failing_flush = true;
        }
        if (selector >= kFailAllocation) {
            continue;
        }
        const std::size_t take = std::min<std::size_t>(n, size - at);
        SectorPatch patch;
        patch.sector_index = selector % patchable_count;
        patch.offset = value % kSectorBytes;
        const std::size_t fits = std::min<std::size_t>(take, kSectorBytes - patch.offset);
        patch.bytes.assign(data + at, data + at + fits);
        input.patches.push_back(std::move(patch));
        at += take;
    }
    return input;
}

std::vector<std::uint8_t> encode_patch(std::uint8_t index, std::uint16_t offset,
                                       const std::vector<std::uint8_t>& bytes) {
    std::vector<std::uint8_t> record(kHeadBytes + bytes.size());
    record[0] = index;
    record[1] = static_cast<std::uint8_t>(offset);
    record[2] = static_cast<std::uint8_t>(offset >> 8);
    record[3] = static_cast<std::uint8_t>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), record.begin() + kHeadBytes);
    return record;
}

}  // namespace lyfs::fuzz
