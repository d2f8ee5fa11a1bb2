// The card every mount run starts from: a 256 MiB card partitioned and
// formatted through the exports, with files written by the library in three
// of its four folders (one of them never closed), built once per process.
// DATA is left one cluster above the free space it keeps in reserve, so a
// run that writes more than a cluster there reclaims its oldest files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "support/memory_device.h"

namespace lyfs::fuzz {

// Stops the run, so that the fuzzer keeps the input, when a check fails.
inline void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        __builtin_trap();
    }
}

// A sector whose bytes an input may replace, and what it holds.
struct PatchableSector {
    std::uint32_t lba;
    std::string what;  // "table", "boot", "record", "fat", "root" or "entries"
};

class BaseCard {
public:
    static const BaseCard& get();
    static constexpr std::uint64_t kDeviceBytes = 256ull << 20;

    // Puts the base card onto a blank card of kDeviceBytes.
    void restore(test::MemoryDevice& card) const {
        for (const auto& [lba, bytes] : sectors_) {
            card.set_sector(lba, bytes);
        }
    }
    std::vector<std::uint8_t> sector(std::uint32_t lba) const {
        const auto it = sectors_.find(lba);
        return it != sectors_.end() ? it->second : std::vector<std::uint8_t>(512, 0);
    }
    // The sectors that are not all zero, by LBA.
    const std::map<std::uint32_t, std::vector<std::uint8_t>>& sectors() const { return sectors_; }
    // In the order an input's selectors count them.
    const std::vector<PatchableSector>& patchable() const { return patchable_; }

private:
    BaseCard();
    void find_patchable();

    std::map<std::uint32_t, std::vector<std::uint8_t>> sectors_;  // those not all zero
    std::vector<PatchableSector> patchable_;
};

}  // namespace lyfs::fuzz
