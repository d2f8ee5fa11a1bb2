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

MountInput decode_mount_input(const std::uint8_t* data, std::size_t size,
                              std::uint32_t patchable_count);

// The record that writes `bytes` at `offset` of patchable sector `index`
// (at most 255 bytes).
std::vector<std::uint8_t> encode_patch(std::uint8_t index, std::uint16_t offset,
                                       const std::vector<std::uint8_t>& bytes);

}  // namespace lyfs::fuzz
