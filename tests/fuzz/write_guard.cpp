#include "write_guard.h"

#include <algorithm>

namespace lyfs::fuzz {

WriteGuard::WriteGuard(const std::uint8_t* table, std::uint64_t device_sectors)
    : layout_(read_card_layout(table, device_sectors)) {
    if (!layout_.mountable) {
        return;  // nothing may be written to a card the library cannot mount
    }
    fat_ = {layout_.fat_first, layout_.fat_first + layout_.fat_sectors};
    data_.push_back(
        {layout_.cluster_sector(3), layout_.cluster_sector(layout_.highest_cluster + 1)});
}

void WriteGuard::restrict_to_folders(const std::vector<ClusterRun>& regions) {
    if (!layout_.mountable) {
        return;
    }
    const Range clusters = data_.empty() ? Range{0, 0} : data_.front();
    data_.clear();
    for (const ClusterRun& run : regions) {
        if (run.first < 2) {
            continue;
        }
        const std::uint64_t first = std::max(layout_.cluster_sector(run.first), clusters.first);
        const std::uint64_t end =
            std::min(layout_.cluster_sector(run.first + run.count), clusters.end);
        if (first < end) {
            data_.push_back({first, end});
        }
    }
}

bool WriteGuard::allows(std::uint64_t sector) const {
    const auto inside = [sector](const Range& r) { return sector >= r.first && sector < r.end; };
    return inside(fat_) || std::any_of(data_.begin(), data_.end(), inside);
}

std::optional<std::uint64_t> WriteGuard::first_stray_write(
    const std::vector<test::IoRecord>& log) const {
    for (const test::IoRecord& io : log) {
        if (io.op != test::IoOp::kWrite || io.bytes == 0) {
            continue;
        }
        const std::uint64_t last = (io.offset + io.bytes - 1) / 512;
        for (std::uint64_t sector = io.offset / 512; sector <= last; ++sector) {
            if (!allows(sector)) {
                return sector;
            }
        }
    }
    return std::nullopt;
}

}  // namespace lyfs::fuzz
