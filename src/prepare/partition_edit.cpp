#include "prepare/partition_edit.h"

#include <cstring>

#include "core/log.h"
#include "device/disk.h"
#include "device/partition.h"
#include "device/sector_io.h"
#include "layout/codec.h"
#include "layout/layout.h"
#include "layout/records.h"
#include "lyfs/lyfs.h"

namespace lyfs {
namespace {

constexpr std::uint32_t kFirstPartitionSector = 32;

void start_fresh_table(std::uint8_t* sector) {
    std::memset(sector, 0, kSectorBytes);
    sector[kSignatureOffset] = kSignature0;
    sector[kSignatureOffset + 1] = kSignature1;
}

// The table is on the card once the edit is durable; the operating system
// is then asked to read it again.
int32_t finish_table_edit(stDISK* disk, const char* caller) {
    platform::table().refresh_partitions(disk->h_disk);
    int32_t status = flush_device(disk->h_disk);
    if (status != LYFS_OK) {
        log_error("[ERROR]%s, flush_device failed\n", caller);
    }
    return status;
}

void forget_slot(stDISK* disk, int slot) {
    disk->part_entry[slot] = PartEntry{};
    if (disk->part_count > 0) {
        --disk->part_count;
    }
}

// Clears the given slots of sector 0 (or the whole sector when it is a
// boot sector itself) and writes it back.
int32_t clear_slots(stDISK* disk, const int* slots, int slot_count, const char* operation) {
    std::uint8_t* sector = disk->sector_buff;
    int32_t status = read_sectors(disk->h_disk, sector, 0, 1);
    if (status != LYFS_OK) {
        log_error("[ERROR]%s, read_sectors failed\n", operation);
        log_error("[ERROR]CL_LyFS_Delete_Partition, delete_partition_entry failed\n");
        return LYFS_ERR_READ;
    }
    if (is_superfloppy_boot_sector(sector)) {
        std::memset(sector, 0, kSectorBytes);
        for (int slot = 0; slot < mbr::kSlotCount; ++slot) {
            disk->part_entry[slot] = PartEntry{};
        }
        disk->part_count = 0;
        disk->no_mbr = 0;
    } else {
        for (int i = 0; i < slot_count; ++i) {
            std::memset(sector + mbr::kSlotOffset[slots[i]], 0, mbr::kSlotBytes);
            forget_slot(disk, slots[i]);
        }
    }
    status = write_sectors(disk->h_disk, sector, 0, 1);
    if (status != LYFS_OK) {
        log_error("[ERROR]%s, write_sectors failed\n", operation);
        log_error("[ERROR]CL_LyFS_Delete_Partition, delete_partition_entry failed\n");
    }
    return status;
}

}  // namespace

int32_t create_partition_entry(stDISK* disk, std::uint8_t type_byte, std::uint32_t index,
                               std::uint32_t count, std::uint32_t* out_count) {
    std::uint8_t* sector = disk->sector_buff;
    if (read_sectors(disk->h_disk, sector, 0, 1) != LYFS_OK) {
        log_error("[ERROR]create_partition_entry, read_sectors failed\n");
        return LYFS_ERR_READ;
    }
    if (!has_boot_signature(sector)) {
        start_fresh_table(sector);
    } else if (is_superfloppy_boot_sector(sector)) {
        return LYFS_OK;  // a card formatted without a table is not ours to split
    }
    if (index == 0) {
        start_fresh_table(sector);
        put_u32(sector + mbr::kSectsPerClusOffset, disk->n_scts_per_clus);
        log_info("[RVFS]create_partition_entry, n_scts_per_clus:%d\n", disk->n_scts_per_clus);
    }
    if (index < static_cast<std::uint32_t>(mbr::kSlotCount)) {
        const std::uint64_t first =
            index == 0 ? kFirstPartitionSector
                       : static_cast<std::uint64_t>(disk->part_entry[index - 1].first_sector) +
                             disk->part_entry[index - 1].sector_count;
        if (first >= disk->total_sectors) {
            log_error("[ERROR]create_partition_entry, no room behind slot %d, first_sector:%llu\n",
                      index - 1, static_cast<unsigned long long>(first));
            return LYFS_ERR_BAD_SLOT;
        }
        if (first + count > disk->total_sectors) {
            log_error(
                "[INFO]create_partition_entry, partition sector over disk limit, %d, "
                "part_total_sectors:%d\n",
                index, count);
            count = disk->total_sectors - static_cast<std::uint32_t>(first);
        }
        PartEntry entry{};
        entry.type = type_byte;
        entry.first_sector = static_cast<std::uint32_t>(first);
        entry.sector_count = count;
        encode_part_entry(sector, static_cast<int>(index), entry);
        disk->part_entry[index] = entry;
        if (out_count != nullptr) {
            *out_count = count;
        }
    }
    int32_t status = write_sectors(disk->h_disk, sector, 0, 1);
    if (status != LYFS_OK) {
        log_error("[ERROR]create_partition_entry, write_sectors failed, err code:%d\n", status);
        return status;
    }
    if (index == 0) {
        // The other slots left the card with the old table; kept in memory
        // they would let a format or a mount write over the new slot 0.
        for (int slot = 1; slot < mbr::kSlotCount; ++slot) {
            disk->part_entry[slot] = PartEntry{};
        }
    }
    return LYFS_OK;
}

}  // namespace lyfs

using namespace lyfs;

extern "C" {

LYFS_API int32_t CL_LyFS_Create_Partition(const char* dev_name, int32_t type, uint64_t size_mib,
                                          uint32_t* slot_index, uint32_t* sector_count,
                                          int32_t large_block) {
    log_debug("+CL_LyFS_Create_Partition, dev_name:%s, type:0x%x, size:%llu, large_block:%d\n",
              dev_name != nullptr ? dev_name : "", type, static_cast<unsigned long long>(size_mib),
              large_block);
    stDISK* disk = nullptr;
    if (find_or_setup_disk(dev_name, &disk) != LYFS_OK) {
        log_error("[ERROR]CL_LyFS_Create_Partition, setup_disk_info failed\n");
        return LYFS_ERR_MOUNT;
    }
    if (int32_t status = refuse_if_read_only(disk, "CL_LyFS_Create_Partition"); status != LYFS_OK) {
        return status;
    }
    const DiskEditLock lock(disk, "CL_LyFS_Create_Partition");
    if (lock.status() != LYFS_OK) {
        return lock.status();
    }
    const std::uint32_t index = type == LYFS_PART_FAT32 ? mbr::kFat32Slot : mbr::kLyfsSlot;
    const std::uint8_t type_byte = type == LYFS_PART_FAT32 ? kTypeFat32Lba : kTypeLyfs;
    if (index == mbr::kLyfsSlot && disk->part_entry[mbr::kFat32Slot].type == 0) {
        // Slot 1 is placed behind slot 0; with no slot 0 it would start at
        // sector 0, over the table itself.
        log_error("[ERROR]CL_LyFS_Create_Partition, slot 0 is empty, create it first\n");
        return LYFS_ERR_BAD_SLOT;
    }
    if (slot_index != nullptr) {
        *slot_index = index;
    }
    // Sizes beyond what 32-bit sector numbers reach mean "the whole rest".
    const std::uint64_t wanted = size_mib * kSectorsPerMiB;
    const bool too_large = size_mib > 0xFFFFFFFFull / kSectorsPerMiB;
    const std::uint32_t count = too_large ? 0xFFFFFFFFu : static_cast<std::uint32_t>(wanted);
    int32_t status = create_partition_entry(disk, type_byte, index, count, sector_count);
    if (status != LYFS_OK) {
        log_error("[ERROR]CL_LyFS_Create_Partition, create_partition_entry failed\n");
        return status;
    }
    return finish_table_edit(disk, "CL_LyFS_Create_Partition");
}

LYFS_API int32_t CL_LyFS_Delete_Partition(const char* dev_name, int32_t type) {
    log_debug("+CL_LyFS_Delete_Partition, dev_name:%s, type:0x%x\n",
              dev_name != nullptr ? dev_name : "", type);
    const bool one_slot = type == LYFS_PART_FAT32 || type == LYFS_PART_LYFS;
    const bool all_slots = (type & 0xFF) == LYFS_PART_ALL;
    if (!one_slot && !all_slots) {
        log_error("[ERROR]CL_LyFS_Delete_Partition, unknown type:0x%x\n", type);
        return LYFS_ERR_BAD_ARGUMENT;
    }
    stDISK* disk = nullptr;
    int32_t status = find_or_setup_disk(dev_name, &disk);
    if (status != LYFS_OK) {
        log_error("[ERROR]CL_LyFS_Delete_Partition, setup_disk_info failed\n");
        return status;
    }
    if (status = refuse_if_read_only(disk, "CL_LyFS_Delete_Partition"); status != LYFS_OK) {
        return status;
    }
    const DiskEditLock lock(disk, "CL_LyFS_Delete_Partition");
    if (lock.status() != LYFS_OK) {
        return lock.status();
    }
    if (one_slot) {
        const int slot = type == LYFS_PART_FAT32 ? mbr::kFat32Slot : mbr::kLyfsSlot;
        status = clear_slots(disk, &slot, 1, "delete_partition_entry_index");
    } else {
        const int slots[] = {0, 1, 2, 3};
        status = clear_slots(disk, slots, mbr::kSlotCount, "delete_partition_entry_fstype");
    }
    if (status != LYFS_OK) {
        return status;
    }
    return finish_table_edit(disk, "CL_LyFS_Delete_Partition");
}

}  // extern "C"
