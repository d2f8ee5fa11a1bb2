#include "fat.h"

#include "little_endian.h"

namespace lyfs::check {

namespace {

// 256 MiB in memory; a card of 2 TiB needs half of that.
constexpr std::uint64_t kMaxFatEntries = std::uint64_t{64} << 20;

std::string describe_expected(std::uint64_t next, bool last) {
    return last ? "an end-of-chain mark" : hex(static_cast<std::uint32_t>(next));
}

}  // namespace

FatValue classify(std::uint32_t value) {
    if (value >= kFatFirstEnd) {
        return FatValue::End;
    }
    if (value == kFatFree) {
        return FatValue::Free;
    }
    if (value == kFatReserved || value >= kFatFirstBad) {
        return FatValue::Invalid;
    }
    return FatValue::Link;
}

std::optional<std::uint32_t> Fat::value(std::uint64_t cluster) const {
    if (cluster >= entries_.size()) {
        return std::nullopt;
    }
    return entries_[cluster] & kFatValueMask;
}

std::optional<Fat> read_fat(CheckContext& context, const Geometry& geometry) {
    const std::uint64_t count = std::uint64_t{geometry.fat_sectors} * kFatEntriesPerSector;
    if (count > kMaxFatEntries) {
        context.problem(ProblemKind::FatTooLarge, std::to_string(count) + " entries");
        return std::nullopt;
    }
    std::vector<std::uint32_t> entries(count);
    Sector sector;
    for (std::uint32_t s = 0; s < geometry.fat_sectors; ++s) {
        if (!context.read_sector(geometry.first_lba + kReservedSectors + s, sector)) {
            return std::nullopt;
        }
        for (std::uint32_t i = 0; i < kFatEntriesPerSector; ++i) {
            entries[std::size_t{s} * kFatEntriesPerSector + i] = get_u32(sector.data() + 4 * i);
        }
    }
    return Fat(std::move(entries));
}

void check_fat_header(CheckContext& context, const Fat& fat) {
    if ((fat.raw(0) & kFatValueMask) != kFatEntry0) {
        context.problem(ProblemKind::FatHeader,
                        "entry 0 is " + hex(fat.raw(0)) + ", expected " + hex(kFatEntry0));
    }
    if (fat.raw(1) != kFatEntry1) {
        context.problem(ProblemKind::FatHeader,
                        "entry 1 is " + hex(fat.raw(1)) + ", expected " + hex(kFatEntry1));
    }
    if (classify(fat.raw(kRootCluster) & kFatValueMask) != FatValue::End) {
        context.problem(ProblemKind::FatHeader, "entry 2 (root directory) is " +
                                                    hex(fat.raw(kRootCluster)) +
                                                    ", expected an end-of-chain mark");
    }
}

void check_entry_area_chains(CheckContext& context, const Fat& fat,
                             const std::vector<FolderLayout>& folders) {
    for (const FolderLayout& folder : folders) {
        if (!folder.usable) {
            continue;
        }
        for (std::uint64_t k = 0; k < folder.entry_clusters; ++k) {
            const std::uint64_t cluster = folder.start_cluster + k;
            const bool last = k + 1 == folder.entry_clusters;
            const auto value = fat.value(cluster);
            const bool fits =
                value && (last ? classify(*value) == FatValue::End : *value == cluster + 1);
            if (!fits) {
                context.problem(ProblemKind::FileEntryChain,
                                "folder " + folder.name + ": cluster " + std::to_string(cluster) +
                                    " holds " + (value ? hex(*value) : "no FAT entry") +
                                    ", expected " + describe_expected(cluster + 1, last));
                break;
            }
        }
    }
}

}  // namespace lyfs::check
