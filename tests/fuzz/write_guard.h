// Judges the sectors the library wrote to a corrupt card, with arithmetic of
// its own rather than the library's. Allowed are the FAT and the clusters 3
// and up of the partition that slot 1 of the card's table describes, narrowed
// to the regions of the folders the mount accepted once they are known.
// Everything else - the table sector, whatever lies outside the partition,
// its boot and FSInfo sectors and their copies, the root directory, and the
// sectors behind the last cluster - must stay as it was, whatever the card
// says. The partition is taken from the card as mounted: the library rightly
// follows the table it is given, and a moved partition moves its FAT too.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "support/test_platform.h"

namespace lyfs::fuzz {

inline std::uint32_t le32_at(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

struct Range {
    std::uint64_t first;
    std::uint64_t end;  // one past the last
};

class WriteGuard {
public:
    WriteGuard(const std::uint8_t* table, std::uint64_t device_sectors) {
        const std::uint8_t* slot = table + 0x1AE;
        const std::uint64_t first = le32_at(slot + 8);
        const std::uint64_t n = le32_at(slot + 12);
        if (table[510] != 0x55 || table[511] != 0xAA || (table[0] == 0xEB && table[2] == 0x90) ||
            slot[4] != 0x52 || first == 0 || n <= 32 || first + n > device_sectors) {
            return;  // nothing may be written to a card the library cannot mount
        }
        s_ = le32_at(table + 0x19E) == 1025 ? 1025 : 256;
        const std::uint64_t f = (n - 32 + 127 * s_) / (128 * s_ + 2);
        const std::uint64_t by_data = n - 32 > f ? (n - 32 - f) / s_ : 0;
        const std::uint64_t highest_cluster = std::min(by_data, 128 * f) + 1;
        if (highest_cluster == 1) {
            return;
        }
        fat_ = {first + 32, first + 32 + f};
        data_start_ = first + 32 + f;
        data_ = {{cluster_sector(3), cluster_sector(highest_cluster + 1)}};
    }

    std::uint64_t cluster_sector(std::uint64_t cluster) const {
        return data_start_ + (cluster - 2) * s_;
    }
    std::uint64_t fat_first() const { return fat_.first; }

    // Confines data writes to these folder regions, given in clusters.
    void restrict_to_folders(const std::vector<Range>& regions) {
        const Range clusters = data_.empty() ? Range{0, 0} : data_.front();
        data_.clear();
        for (const Range& run : regions) {
            const std::uint64_t first = std::max(cluster_sector(run.first), clusters.first);
            const std::uint64_t end = std::min(cluster_sector(run.end), clusters.end);
            if (run.first >= 2 && first < end) {
                data_.push_back({first, end});
            }
        }
    }

    bool allows(std::uint64_t sector) const {
        const auto inside = [sector](const Range& r) {
            return sector >= r.first && sector < r.end;
        };
        return inside(fat_) || std::any_of(data_.begin(), data_.end(), inside);
    }

    // The first sector that a write of `log` reached and may not have.
    std::optional<std::uint64_t> first_stray_write(const std::vector<test::IoRecord>& log) const {
        for (const test::IoRecord& io : log) {
            for (std::uint64_t sector = io.offset / 512;
                 io.op == test::IoOp::kWrite && sector < (io.offset + io.bytes + 511) / 512;
                 ++sector) {
                if (!allows(sector)) {
                    return sector;
                }
            }
        }
        return std::nullopt;
    }

private:
    std::uint64_t s_ = 256;
    std::uint64_t data_start_ = 0;
    Range fat_{0, 0};
    std::vector<Range> data_;
};

}  // namespace lyfs::fuzz
