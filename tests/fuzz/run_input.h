// How a fuzz input changes the base card and the run, for every target that mounts it. The
// input is a run of records, each a four-byte head and its data:
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

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "lyfs/lyfs.h"
#include "support/memory_device.h"
#include "support/test_platform.h"
#include "write_guard.h"

namespace lyfs::fuzz {

struct RunSetup {
    std::uint64_t failing_allocation = 0;    // 1-based; 0: none
    std::string name = "FUZZ_NEW_0001.MP4";  // of the file the run writes into each folder
    bool intact = true;                      // the card as built, no faults
};

// One run of a target: the base card on the card "fuzz", patched and with the platform's faults
// armed as the input says; `prepare` sees it before the library starts, and `body` runs once it
// has. Then the library is stopped and the run checked: no write outside the FAT and the
// folders, no handle and no open device left.
void run_input(const std::uint8_t* data, std::size_t size,
               const std::function<void(const test::MemoryDevice&)>& prepare,
               const std::function<void(test::TestPlatform&, const RunSetup&, WriteGuard&)>& body);

// The regions, in clusters, of the folders the mount set up.
std::vector<Range> folder_regions(const dev_desc& desc);

}  // namespace lyfs::fuzz
