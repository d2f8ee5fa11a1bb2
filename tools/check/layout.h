// Offsets and values of the on-card layout, and the geometry derived from a partition's size.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace lyfs::check {

inline constexpr std::size_t kSectorBytes = 512;
using Sector = std::array<std::uint8_t, kSectorBytes>;

// Sector 0 of the device: the partition table.
inline constexpr std::size_t kClusterSectorsOffset = 0x19E;
inline constexpr std::size_t kSlot1Offset = 0x1AE;  // sixteen bytes before slot 0, on purpose
inline constexpr std::size_t kSlotTypeOffset = 4;
inline constexpr std::size_t kSlotFirstSectorOffset = 8;
inline constexpr std::size_t kSlotSectorCountOffset = 12;
inline constexpr std::uint8_t kPartitionType = 0x52;
inline constexpr std::uint32_t kLargeClusterSectors = 1025;
inline constexpr std::uint32_t kDefaultClusterSectors = 256;

// Every sector that carries one ends in 0x55, 0xAA.
inline constexpr std::size_t kSignatureOffset = 0x1FE;
inline constexpr std::uint8_t kSignature0 = 0x55;
inline constexpr std::uint8_t kSignature1 = 0xAA;

// Partition-relative sectors.
inline constexpr std::uint32_t kBootSector = 0;
inline constexpr std::uint32_t kFsInfoSector = 1;
inline constexpr std::uint32_t kReservedSectors = 32;  // the FAT starts right behind them

// Boot sector.
inline constexpr std::size_t kBootReservedOffset = 0x0E;
inline constexpr std::size_t kBootFatCountOffset = 0x10;
inline constexpr std::size_t kBootTotalSectorsOffset = 0x20;
inline constexpr std::size_t kBootFatSectorsOffset = 0x24;
inline constexpr std::size_t kBootFsTypeOffset = 0x52;
inline constexpr std::string_view kFsType = "RVFS    ";

// FSInfo sector, with the folder record in its first reserved area.
inline constexpr std::size_t kFsInfoLeadOffset = 0x000;
inline constexpr std::uint32_t kFsInfoLead = 0x41615252;
inline constexpr std::size_t kFsInfoStructOffset = 0x1E4;
inline constexpr std::uint32_t kFsInfoStruct = 0x61417272;
inline constexpr std::size_t kFsInfoTrailOffset = 0x1FC;
inline constexpr std::uint32_t kFsInfoTrail = 0xAA550000;
inline constexpr std::size_t kRecordCountOffset = 0x004;
inline constexpr std::size_t kRecordValuesOffset = 0x008;
inline constexpr std::uint32_t kMaxFolders = 9;

// Root directory: entries in the first sector of cluster 2.
inline constexpr std::uint32_t kRootCluster = 2;
inline constexpr std::uint32_t kFirstRegionCluster = 3;
inline constexpr std::size_t kDirEntryBytes = 32;
inline constexpr std::size_t kLongNameGroupBytes = 128;
inline constexpr std::size_t kAliasInGroupOffset = 96;
inline constexpr std::size_t kDirNameBytes = 8;
inline constexpr std::size_t kDirAttributeOffset = 11;
inline constexpr std::size_t kDirClusterHighOffset = 20;
inline constexpr std::size_t kDirClusterLowOffset = 26;
inline constexpr std::uint8_t kLongNameAttribute = 0x0F;

// FAT entries.
inline constexpr std::uint32_t kFatEntriesPerSector = kSectorBytes / 4;
inline constexpr std::uint32_t kFatValueMask = 0x0FFFFFFF;
inline constexpr std::uint32_t kFatFree = 0;
inline constexpr std::uint32_t kFatReserved = 1;
inline constexpr std::uint32_t kFatFirstBad = 0x0FFFFFF0;
inline constexpr std::uint32_t kFatFirstEnd = 0x0FFFFFF8;
inline constexpr std::uint32_t kFatEntry0 = 0x0FFFFFF8;
inline constexpr std::uint32_t kFatEntry1 = 0xFFFFFFFF;

// File entries: four 128-byte records per sector.
inline constexpr std::size_t kFileEntryBytes = 128;
inline constexpr std::uint32_t kFileEntriesPerSector = kSectorBytes / kFileEntryBytes;
inline constexpr std::size_t kShortEntryOffset = 96;  // its first byte tells whether a slot is used
inline constexpr std::size_t kFileAttributeOffset = 107;
inline constexpr std::size_t kFileClusterHighOffset = 116;
inline constexpr std::size_t kFileClusterLowOffset = 122;
inline constexpr std::size_t kFileSizeOffset = 124;
inline constexpr std::uint8_t kFileAttribute = 0x20;
inline constexpr std::uint8_t kSlotFree = 0x00;
inline constexpr std::uint8_t kSlotErased = 0xE5;

inline constexpr bool has_signature(const Sector& s) {
    return s[kSignatureOffset] == kSignature0 && s[kSignatureOffset + 1] == kSignature1;
}

// The geometry of slot 1's partition, recomputed from its size as the mount does.
struct Geometry {
    std::uint64_t first_lba = 0;
    std::uint32_t sectors = 0;              // N
    std::uint32_t sectors_per_cluster = 0;  // S
    std::uint32_t fat_sectors = 0;          // F
    std::uint32_t clusters = 0;             // M: clusters 2 .. M + 1
    std::uint32_t data_start = 0;           // D, relative to first_lba

    std::uint32_t last_cluster() const { return clusters + 1; }
    std::uint64_t cluster_bytes() const {
        return std::uint64_t{sectors_per_cluster} * kSectorBytes;
    }
    std::uint64_t cluster_lba(std::uint32_t cluster) const {
        return first_lba + data_start + std::uint64_t{cluster - 2} * sectors_per_cluster;
    }
};

// One folder's region as the root directory and the folder record describe it. Derived sizes
// are 64-bit so that absurd values from the card show up as absurd instead of wrapping.
struct FolderLayout {
    std::string name;
    std::uint32_t start_cluster = 0;
    std::uint32_t cluster_count = 0;
    std::uint32_t max_file_num = 0;
    std::uint64_t entry_clusters = 0;  // the file-entry area at the front of the region
    bool usable = false;               // region inside the partition and larger than its entry area

    std::uint64_t content_first() const { return start_cluster + entry_clusters; }
    std::uint64_t region_end() const { return std::uint64_t{start_cluster} + cluster_count; }
};

}  // namespace lyfs::check
