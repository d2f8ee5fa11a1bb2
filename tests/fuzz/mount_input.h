// How a mount target's input changes the base card. The input is a run of
// records, each a four-byte head and its data:
//   selector < 0xF0: [selector][offset lo][offset hi][n] then n bytes, which
//     replace bytes offset.. of patchable sector (selector mod count), cut at
//     the sector's end;
//   selector >= 0xF0: [selector][k lo][k hi][unused], no data: the k-th
//     allocation (0xF0), sector read (0xF1) or sector write (0xF2) of the run
//     fails (one transfer fault at a time: the last one counts); with 0xF3
//     every flush fails; with 0xF4, [0xF4][unused][unused][n] then n bytes,
//     the run names its new files so; other selectors are ignored.
// Small records keep mutations local: a changed data byte changes one byte
// of one sector, and the sector stays the base card's everywhere else.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
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
    std::string name = "FUZZ_NEW_0001.MP4";  // of the file the run writes into each folder

    bool intact() const {
        return patches.empty() && failing_allocation == 0 && failing_transfer == 0 &&
               !failing_flush;
    }
};

inline MountInput decode_mount_input(const std::uint8_t* data, std::size_t size,
                                     std::uint32_t patchable_count) {
    MountInput input;
    for (std::size_t at = 0; size - at >= 4;) {
        const std::uint8_t selector = data[at];
        const std::uint32_t value = data[at + 1] | (data[at + 2] << 8);
        const std::uint8_t* bytes = data + at + 4;
        const std::size_t take = selector < 0xF0 || selector == 0xF4
                                     ? std::min<std::size_t>(data[at + 3], size - at - 4)
                                     : 0;
        at += 4 + take;
        if (selector < 0xF0) {
            const std::size_t fits = std::min<std::size_t>(take, 512 - value % 512);
            input.patches.push_back(
                {selector % patchable_count, value % 512, {bytes, bytes + fits}});
        } else if (selector == 0xF0) {
            input.failing_allocation = value;
        } else if (selector == 0xF1 || selector == 0xF2) {
            input.failing_transfer = value;
            input.failing_transfer_writes = selector == 0xF2;
        } else if (selector == 0xF3) {
            input.failing_flush = true;
        } else if (selector == 0xF4) {
            input.name.assign(bytes, bytes + take);
        }
    }
    return input;
}

}  // namespace lyfs::fuzz
