// The bytes a card carries: partition-table sector, boot sector, FSInfo
// sector, FAT entries, and the geometry that places the FAT and the clusters.
// Every reader and writer of the card takes its offsets from here.
#pragma once

#include <cstdint>

namespace lyfs {

// Sector 0 of the device.
namespace mbr {
inline constexpr std::uint32_t kSectsPerClusOffset = 0x19E;  // u32
// Slot 1 (the card file system) sits at 0x1AE, before slot 0, so that a
// generic table reader sees only the FAT32 partition.
inline constexpr std::uint32_t kSlotOffset[4] = {0x1BE, 0x1AE, 0x1DE, 0x1EE};
inline constexpr std::uint32_t kSlotBytes = 16;
inline constexpr std::uint32_t kSlotStatus = 0;
inline constexpr std::uint32_t kSlotType = 4;
inline constexpr std::uint32_t kSlotFirstSector = 8;
inline constexpr std::uint32_t kSlotSectorCount = 12;
inline constexpr int kSlotCount = 4;
inline constexpr int kFat32Slot = 0;
inline constexpr int kLyfsSlot = 1;
}  // namespace mbr

inline constexpr std::uint32_t kSignatureOffset = 0x1FE;
inline constexpr std::uint8_t kSignature0 = 0x55;
inline constexpr std::uint8_t kSignature1 = 0xAA;

inline constexpr std::uint8_t kTypeLyfs = 0x52;
inline constexpr std::uint8_t kTypeFat32 = 0x0B;
inline constexpr std::uint8_t kTypeFat32Lba = 0x0C;

inline constexpr std::uint32_t kDefaultSectsPerClus = 256;
inline constexpr std::uint32_t kLargeSectsPerClus = 1025;
inline constexpr std::uint32_t kSectorsPerMiB = 2048;

// Boot sector (relative sector 0, copy in 6).
namespace boot {
inline constexpr std::uint32_t kJump = 0x00;
inline constexpr std::uint32_t kOemName = 0x03;
inline constexpr std::uint32_t kBytesPerSector = 0x0B;
inline constexpr std::uint32_t kSectorsPerCluster = 0x0D;
inline constexpr std::uint32_t kReservedSectors = 0x0E;
inline constexpr std::uint32_t kFatCount = 0x10;
inline constexpr std::uint32_t kRootEntries = 0x11;
inline constexpr std::uint32_t kTotalSectors16 = 0x13;
inline constexpr std::uint32_t kMedia = 0x15;
inline constexpr std::uint32_t kFatSize16 = 0x16;
inline constexpr std::uint32_t kSectorsPerTrack = 0x18;
inline constexpr std::uint32_t kHeads = 0x1A;
inline constexpr std::uint32_t kHiddenSectors = 0x1C;
inline constexpr std::uint32_t kTotalSectors32 = 0x20;
inline constexpr std::uint32_t kFatSize32 = 0x24;
inline constexpr std::uint32_t kExtFlags = 0x28;
inline constexpr std::uint32_t kFsVersion = 0x2A;
inline constexpr std::uint32_t kRootCluster = 0x2C;
inline constexpr std::uint32_t kFsInfoSector = 0x30;
inline constexpr std::uint32_t kBackupBootSector = 0x32;
inline constexpr std::uint32_t kDriveNumber = 0x40;
inline constexpr std::uint32_t kBootSignature = 0x42;
inline constexpr std::uint32_t kVolumeSerial = 0x43;
inline constexpr std::uint32_t kVolumeLabel = 0x47;
inline constexpr std::uint32_t kFsType = 0x52;
inline constexpr std::uint8_t kJumpByte0 = 0xEB;
inline constexpr std::uint8_t kJumpByte2 = 0x90;
inline constexpr std::uint8_t kLowestValidMedia = 0xF8;
inline constexpr std::uint32_t kBpbBytes = 36;
}  // namespace boot

// FSInfo sector (relative sector 1, copy without the folder record in 7).
namespace fsinfo {
inline constexpr std::uint32_t kLeadSignatureOffset = 0x000;
inline constexpr std::uint32_t kLeadSignature = 0x41615252;  // "RRaA"
inline constexpr std::uint32_t kDirRecordOffset = 0x004;
inline constexpr std::uint32_t kStructSignatureOffset = 0x1E4;
inline constexpr std::uint32_t kStructSignature = 0x61417272;  // "rrAa"
inline constexpr std::uint32_t kFreeCountOffset = 0x1E8;
inline constexpr std::uint32_t kNextFreeOffset = 0x1EC;
inline constexpr std::uint32_t kTrailSignatureOffset = 0x1FC;
}  // namespace fsinfo

// Relative sectors and fixed values of a partition.
inline constexpr std::uint32_t kBootSector = 0;
inline constexpr std::uint32_t kFsInfoSector = 1;
inline constexpr std::uint32_t kBackupBootSector = 6;
inline constexpr std::uint32_t kBackupFsInfoSector = 7;
inline constexpr std::uint32_t kReservedSectors = 32;
inline constexpr std::uint32_t kFirstCluster = 2;
inline constexpr std::uint32_t kRootCluster = 2;
inline constexpr std::uint32_t kFatEntriesPerSector = 128;
inline constexpr std::uint8_t kFatEntryBytes = 4;
inline constexpr std::uint8_t kFatCount = 1;

// FAT entry values.
inline constexpr std::uint32_t kFatValueMask = 0x0FFFFFFF;
inline constexpr std::uint32_t kFatFree = 0;
inline constexpr std::uint32_t kFatLastLink = 0x0FFFFFEF;
inline constexpr std::uint32_t kFatFirstEoc = 0x0FFFFFF8;
inline constexpr std::uint32_t kFatEoc = 0x0FFFFFF8;         // how this system ends a chain
inline constexpr std::uint32_t kFatRootEoc = 0x0FFFFFFF;     // entry 2 at format
inline constexpr std::uint32_t kFatMediaEntry = 0x0FFFFFF8;  // entry 0 at format
inline constexpr std::uint32_t kFatEntry1 = 0xFFFFFFFF;      // entry 1 at format

enum class FatEntryClass { kFree, kLink, kEndOfChain, kInvalid };

// Classifies a raw entry (the top four bits are not part of the value).
inline FatEntryClass classify_fat_entry(std::uint32_t raw) {
    const std::uint32_t value = raw & kFatValueMask;
    if (value == kFatFree) {
        return FatEntryClass::kFree;
    }
    if (value >= 2 && value <= kFatLastLink) {
        return FatEntryClass::kLink;
    }
    if (value >= kFatFirstEoc) {
        return FatEntryClass::kEndOfChain;
    }
    return FatEntryClass::kInvalid;
}

// Where a partition of N sectors with S sectors per cluster keeps its FAT
// and clusters.
struct Geometry {
    std::uint32_t fat_sectors;    // F
    std::uint32_t cluster_count;  // M: clusters 2 .. M + 1
    std::uint32_t data_start;     // D: relative sector of cluster 2
};

// F = (N - 32 + 127 S) / (128 S + 2); M = min(128 F, (N - 32 - F) / S);
// D = 32 + F. Worked in 64 bits so that a partition near 2 TiB cannot wrap
// its FAT size; a partition too small for its own FAT gets no clusters.
inline Geometry compute_geometry(std::uint32_t n_sectors, std::uint32_t sects_per_clus) {
    Geometry g{0, 0, kReservedSectors};
    if (n_sectors <= kReservedSectors || sects_per_clus == 0) {
        return g;
    }
    const std::uint64_t n = n_sectors - kReservedSectors;
    const std::uint64_t s = sects_per_clus;
    const std::uint64_t f = (n + 127 * s) / (128 * s + 2);
    const std::uint64_t by_data = n > f ? (n - f) / s : 0;
    const std::uint64_t by_fat = 128 * f;
    g.fat_sectors = static_cast<std::uint32_t>(f);
    g.cluster_count = static_cast<std::uint32_t>(by_fat < by_data ? by_fat : by_data);
    g.data_start = static_cast<std::uint32_t>(kReservedSectors + f);
    return g;
}

// Two ends of a partition table agree with the device when they differ only
// below the MiB (the low 11 bits).
inline bool table_end_matches_device(std::uint32_t table_end, std::uint32_t device_sectors) {
    return ((device_sectors ^ table_end) & 0xFFFFF800u) == 0;
}

}  // namespace lyfs
