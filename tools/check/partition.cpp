#include "partition.h"

#include <algorithm>

#include "little_endian.h"

namespace lyfs::check {

namespace {

constexpr std::uint32_t kFatsPerVolume = 1;

// Sizes the FAT and the data region from the partition's sector count, exactly as the
// formatter and the mount do; nothing is read back from the boot sector.
std::optional<Geometry> derive_geometry(std::uint64_t first_lba, std::uint32_t sectors,
                                        std::uint32_t sectors_per_cluster) {
    if (sectors < kReservedSectors) {
        return std::nullopt;
    }
    const std::uint64_t s = sectors_per_cluster;
    const std::uint64_t after_reserved = sectors - kReservedSectors;
    const std::uint64_t fat_sectors = (after_reserved + 127 * s) / (128 * s + 2);
    if (after_reserved < fat_sectors) {
        return std::nullopt;
    }
    const std::uint64_t clusters =
        std::min(kFatEntriesPerSector * fat_sectors, (after_reserved - fat_sectors) / s);
    if (clusters == 0) {  // not even room for the root directory
        return std::nullopt;
    }
    Geometry g;
    g.first_lba = first_lba;
    g.sectors = sectors;
    g.sectors_per_cluster = sectors_per_cluster;
    g.fat_sectors = static_cast<std::uint32_t>(fat_sectors);
    g.clusters = static_cast<std::uint32_t>(clusters);
    g.data_start = kReservedSectors + g.fat_sectors;
    return g;
}

void expect_field(CheckContext& context, const char* field, std::uint32_t found,
                  std::uint32_t expected) {
    if (found != expected) {
        context.problem(ProblemKind::BootSector, std::string(field) + " is " +
                                                     std::to_string(found) + ", expected " +
                                                     std::to_string(expected));
    }
}

}  // namespace

std::optional<Geometry> read_geometry(CheckContext& context) {
    Sector table;
    if (!context.read_sector(0, table)) {
        return std::nullopt;
    }
    if (!has_signature(table)) {
        context.problem(ProblemKind::PartitionTable, "no signature in sector 0");
        return std::nullopt;
    }
    const std::uint8_t* slot = table.data() + kSlot1Offset;
    if (slot[kSlotTypeOffset] != kPartitionType) {
        context.problem(
            ProblemKind::PartitionTable,
            "slot 1 has type " + hex(slot[kSlotTypeOffset], 2) + ", not " + hex(kPartitionType, 2));
        return std::nullopt;
    }
    const std::uint64_t first = get_u32(slot + kSlotFirstSectorOffset);
    const std::uint32_t sectors = get_u32(slot + kSlotSectorCountOffset);
    const std::uint64_t device = context.sector_count();
    context.report().partition_end = first + sectors;
    if (first + sectors > device) {
        context.problem(ProblemKind::PartitionTable, "slot 1 (sectors " + std::to_string(first) +
                                                         " + " + std::to_string(sectors) +
                                                         ") lies beyond the device's " +
                                                         std::to_string(device) + " sectors");
        return std::nullopt;
    }
    // Only 1025 is taken as it stands; every other value, 0 included, means 256.
    const std::uint32_t sectors_per_cluster =
        get_u32(table.data() + kClusterSectorsOffset) == kLargeClusterSectors
            ? kLargeClusterSectors
            : kDefaultClusterSectors;
    auto geometry = derive_geometry(first, sectors, sectors_per_cluster);
    if (!geometry) {
        context.problem(ProblemKind::PartitionTable,
                        "slot 1 has " + std::to_string(sectors) + " sectors, too few for a volume");
        return std::nullopt;
    }
    context.note("partition: first sector " + std::to_string(first) + ", " +
                 std::to_string(sectors) + " sectors, " + std::to_string(sectors_per_cluster) +
                 " sectors per cluster, " + std::to_string(geometry->fat_sectors) +
                 " FAT sectors, clusters 2 to " + std::to_string(geometry->last_cluster()));
    return geometry;
}

void check_boot_sector(CheckContext& context, const Geometry& geometry) {
    Sector boot;
    if (!context.read_sector(geometry.first_lba + kBootSector, boot)) {
        return;
    }
    if (!has_signature(boot)) {
        context.problem(ProblemKind::BootSector, "no signature");
    }
    const std::uint8_t* type = boot.data() + kBootFsTypeOffset;
    context.report().formatted = std::equal(kFsType.begin(), kFsType.end(), type);
    if (!context.report().formatted) {
        context.problem(ProblemKind::BootSector,
                        "file-system type is \"" + printable(type, kFsType.size()) +
                            "\", expected \"" + std::string(kFsType) + "\"");
    }
    expect_field(context, "sectors per FAT", get_u32(boot.data() + kBootFatSectorsOffset),
                 geometry.fat_sectors);
    expect_field(context, "total sectors", get_u32(boot.data() + kBootTotalSectorsOffset),
                 geometry.sectors);
    expect_field(context, "reserved sectors", get_u16(boot.data() + kBootReservedOffset),
                 kReservedSectors);
    expect_field(context, "FAT count", boot[kBootFatCountOffset], kFatsPerVolume);
}

}  // namespace lyfs::check
