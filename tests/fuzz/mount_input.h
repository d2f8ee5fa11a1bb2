// How a mount target's input changes the base card. The input is a run of
// records, each a four-byte head and its data:
//   selector < 0xF0: [selector][offset lo][offset hi][n] then n bytes, which
//     replace bytes offset.. of patchable sector (selector mod count), cut at
//     the sector's end;
//   selector >= 0xF0: [selector][k lo][k hi][unused], no data: the k-th
//     allocation (0xF0), sector read (0xF1) or sector write (0xF2) of the run
//     fails (one transfer fault at a time: the last one counts); with 0xF3
//     every flush fails; other selectors are ignored.
// Small records keep mutations local: a changed data byte changes one byte
// of one sector, and the sector stays the base card's everywhere else.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace lyfs::fuzz {

struct SectorPatch {
    std::uint32_t sector_index;  // into the patchable sectors
    std::uint32_t offset;
    std::vector<std::uint8_t> bytes;
};

struct MountInput {
    std::vector<SectorPatch> patches;
    std::uint64_t failing_allocation = 0;  // 1-based; 0: none
    std::uint64_t failing_transfer = 0;    // 1-based; 0: none
    bool failing_transfer_writes = false;  // else it reads
    bool failing_flush = false;
};

inline MountInput decode_mount_input(const std::uint8_t* data, std::size_t size,
                                     std::uint32_t patchable_count) {
    MountInput input;
    for (std::size_t at = 0; size - at >= 4;) {
        const std::uint8_t selector = data[at];
        const std::uint32_t value = data[at + 1] | (data[at + 2] << 8);
        const std::uint8_t n = data[at + 3];
        at += 4;
        if (selector == 0xF0) {
            input.failing_allocation = value;
        } else if (selector == 0xF1 || selector == 0xF2) {
            input.failing_transfer = value;
            input.failing_transfer_writes = selector == 0xF2;
        } else if (selector == 0xF3) {
            input.failing_flush = true;
        } else if (selector < 0xF0) {
            const std::size_t take = std::min<std::size_t>(n, size - at);
            const std::uint32_t offset = value % 512;
            const std::size_t fits = std::min<std::size_t>(take, 512 - offset);
            input.patches.push_back(
                {selector % patchable_count, offset, {data + at, data + at + fits}});
            at += take;
        }
    }
    return input;
}

// The record that writes `bytes` (at most 255) at `offset` of patchable sector `index`.
inline std::vector<std::uint8_t> encode_patch(std::uint8_t index, std::uint16_t offset,
                                              const std::vector<std::uint8_t>& bytes) {
    // Sized once: growing a four-byte vector trips a false -Warray-bounds of GCC 12 at -O3.
    std::vector<std::uint8_t> record(4 + bytes.size());
    record[0] = index;
    record[1] = static_cast<std::uint8_t>(offset);
    record[2] = static_cast<std::uint8_t>(offset >> 8);
    record[3] = static_cast<std::uint8_t>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), record.begin() + 4);
    return record;
}

}  // namespace lyfs::fuzz
