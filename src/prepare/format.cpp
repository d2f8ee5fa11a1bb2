#include "prepare/format.h"

#include <cstring>
#include <initializer_list>

#include "core/log.h"
#include "device/sector_io.h"
#include "folder/dir_clusters_record.h"
#include "layout/codec.h"
#include "layout/layout.h"
#include "platform/memory.h"

namespace lyfs {
namespace {

constexpr std::uint8_t kMedia = 0xF8;
constexpr std::uint16_t kSectorsPerTrack = 63;
constexpr std::uint16_t kHeads = 255;
constexpr std::uint8_t kExtendedBootSignature = 0x29;
constexpr std::uint32_t kNextFreeHint = 2;

struct VolumeNames {
    const char* oem;    // 8 bytes
    const char* label;  // 11 bytes
    const char* type;   // 8 bytes
};

constexpr VolumeNames kFat32Names{"MSDOS5.0", "FAT VOLUME ", "FAT32   "};
constexpr VolumeNames kLyfsNames{"RAVEN-FS", "RVFS VOLUME", "RVFS    "};

void build_boot_sector(std::uint8_t* s, std::uint8_t slot_type, std::uint32_t n_sectors,
                       std::uint32_t sects_per_clus, std::uint32_t fat_sectors,
                       std::uint32_t serial) {
    const VolumeNames& names = slot_type == kTypeFat32Lba ? kFat32Names : kLyfsNames;
    std::memset(s, 0, kSectorBytes);
    s[boot::kJump] = boot::kJumpByte0;
    s[boot::kJump + 2] = boot::kJumpByte2;
    std::memcpy(s + boot::kOemName, names.oem, 8);
    put_u16(s + boot::kBytesPerSector, kSectorBytes);
    s[boot::kSectorsPerCluster] = static_cast<std::uint8_t>(sects_per_clus);
    put_u16(s + boot::kReservedSectors, kReservedSectors);
    s[boot::kFatCount] = kFatCount;
    s[boot::kMedia] = kMedia;
    put_u16(s + boot::kSectorsPerTrack, kSectorsPerTrack);
    put_u16(s + boot::kHeads, kHeads);
    put_u32(s + boot::kTotalSectors32, n_sectors);
    put_u32(s + boot::kFatSize32, fat_sectors);
    put_u32(s + boot::kRootCluster, kRootCluster);
    put_u16(s + boot::kFsInfoSector, kFsInfoSector);
    put_u16(s + boot::kBackupBootSector, kBackupBootSector);
    s[boot::kBootSignature] = kExtendedBootSignature;
    put_u32(s + boot::kVolumeSerial, serial);
    std::memcpy(s + boot::kVolumeLabel, names.label, 11);
    std::memcpy(s + boot::kFsType, names.type, 8);
    s[kSignatureOffset] = kSignature0;
    s[kSignatureOffset + 1] = kSignature1;
}

void build_fsinfo_sector(std::uint8_t* s, std::uint32_t cluster_count) {
    std::memset(s, 0, kSectorBytes);
    put_u32(s + fsinfo::kLeadSignatureOffset, fsinfo::kLeadSignature);
    put_u32(s + fsinfo::kStructSignatureOffset, fsinfo::kStructSignature);
    put_u32(s + fsinfo::kFreeCountOffset, cluster_count);
    put_u32(s + fsinfo::kNextFreeOffset, kNextFreeHint);
    s[fsinfo::kTrailSignatureOffset + 2] = kSignature0;
    s[fsinfo::kTrailSignatureOffset + 3] = kSignature1;
}

// Writes `count` sectors from `buffer` at device sector `sector`, logging
// the format's failure lines.
int32_t write_format_sectors(stDISK* disk, const std::uint8_t* buffer, std::uint32_t sector,
                             std::uint32_t count) {
    int32_t status = write_sectors(disk->h_disk, buffer, sector, count);
    if (status != LYFS_OK) {
        log_error("[ERROR]format_partition, write_sectors failed\n");
        log_error("[ERROR]format_partition failed\n");
    }
    return status;
}

int32_t write_volume_sectors(stDISK* disk, const PartEntry& slot, std::uint8_t* zeros,
                             std::uint32_t serial) {
    const std::uint32_t p = slot.first_sector;
    const std::uint32_t s = disk->n_scts_per_clus;
    const Geometry g = compute_geometry(slot.sector_count, s);
    std::uint8_t* sector = disk->sector_buff;

    build_boot_sector(sector, slot.type, slot.sector_count, s, g.fat_sectors, serial);
    for (std::uint32_t at : {kBootSector, kBackupBootSector}) {
        if (int32_t status = write_format_sectors(disk, sector, p + at, 1); status != LYFS_OK) {
            return status;
        }
    }
    build_fsinfo_sector(sector, g.cluster_count);
    for (std::uint32_t at : {kFsInfoSector, kBackupFsInfoSector}) {
        if (int32_t status = write_format_sectors(disk, sector, p + at, 1); status != LYFS_OK) {
            return status;
        }
    }
    std::memset(sector, 0, kSectorBytes);
    put_u32(sector + 0, kFatMediaEntry);
    put_u32(sector + 4, kFatEntry1);
    put_u32(sector + 8, kFatRootEoc);
    if (int32_t status = write_format_sectors(disk, sector, p + kReservedSectors, 1);
        status != LYFS_OK) {
        return status;
    }
    // The rest of the FAT, then the root cluster, in runs of one cluster.
    const std::uint32_t fat_end = kReservedSectors + g.fat_sectors;
    for (std::uint32_t rel = kReservedSectors + 1; rel < fat_end;) {
        const std::uint32_t run = fat_end - rel < s ? fat_end - rel : s;
        if (int32_t status = write_format_sectors(disk, zeros, p + rel, run); status != LYFS_OK) {
            return status;
        }
        rel += run;
    }
    return write_format_sectors(disk, zeros, p + g.data_start, s);
}

}  // namespace

int32_t format_partition(stDISK* disk, const PartEntry& slot, stPARTITION* part) {
    const std::uint32_t s = disk->n_scts_per_clus;
    auto* zeros = static_cast<std::uint8_t*>(
        platform::allocate_zeroed(static_cast<std::size_t>(s) * kSectorBytes));
    if (zeros == nullptr) {
        log_error("[ERROR]format_partition, malloc for cust_buffer failed\n");
        log_error("[ERROR]format_partition failed\n");
        return LYFS_ERR_NO_MEMORY;
    }
    const std::uint32_t r1 = static_cast<std::uint32_t>(platform::table().random15());
    const std::uint32_t r2 = static_cast<std::uint32_t>(platform::table().random15());
    const int32_t status = write_volume_sectors(disk, slot, zeros, (r1 << 16) | r2);
    platform::release(zeros);
    if (status == LYFS_OK) {
        set_partition_geometry(part, slot.first_sector, slot.sector_count, s);
    }
    return status;
}

}  // namespace lyfs
