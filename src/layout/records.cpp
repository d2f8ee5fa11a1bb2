#include "layout/records.h"

#include <cstring>

#include "layout/codec.h"
#include "layout/layout.h"

namespace lyfs {

PartEntry decode_part_entry(const std::uint8_t* sector, int slot) {
    const std::uint8_t* p = sector + mbr::kSlotOffset[slot];
    PartEntry entry{};
    entry.status = p[mbr::kSlotStatus];
    entry.type = p[mbr::kSlotType];
    entry.first_sector = get_u32(p + mbr::kSlotFirstSector);
    entry.sector_count = get_u32(p + mbr::kSlotSectorCount);
    return entry;
}

void encode_part_entry(std::uint8_t* sector, int slot, const PartEntry& entry) {
    std::uint8_t* p = sector + mbr::kSlotOffset[slot];
    std::memset(p, 0, mbr::kSlotBytes);
    p[mbr::kSlotStatus] = entry.status;
    p[mbr::kSlotType] = entry.type;
    put_u32(p + mbr::kSlotFirstSector, entry.first_sector);
    put_u32(p + mbr::kSlotSectorCount, entry.sector_count);
}

BpbRecord decode_bpb(const std::uint8_t* sector) {
    BpbRecord bpb{};
    std::memcpy(bpb.jump, sector + boot::kJump, sizeof bpb.jump);
    std::memcpy(bpb.oem_name, sector + boot::kOemName, sizeof bpb.oem_name);
    bpb.bytes_per_sector = get_u16(sector + boot::kBytesPerSector);
    bpb.sectors_per_cluster = sector[boot::kSectorsPerCluster];
    bpb.reserved_sectors = get_u16(sector + boot::kReservedSectors);
    bpb.fat_count = sector[boot::kFatCount];
    bpb.root_entries = get_u16(sector + boot::kRootEntries);
    bpb.total_sectors_16 = get_u16(sector + boot::kTotalSectors16);
    bpb.media = sector[boot::kMedia];
    bpb.fat_size_16 = get_u16(sector + boot::kFatSize16);
    bpb.sectors_per_track = get_u16(sector + boot::kSectorsPerTrack);
    bpb.heads = get_u16(sector + boot::kHeads);
    bpb.hidden_sectors = get_u32(sector + boot::kHiddenSectors);
    bpb.total_sectors_32 = get_u32(sector + boot::kTotalSectors32);
    return bpb;
}

bool has_boot_signature(const std::uint8_t* sector) {
    return sector[kSignatureOffset] == kSignature0 && sector[kSignatureOffset + 1] == kSignature1;
}

bool is_superfloppy_boot_sector(const std::uint8_t* sector) {
    return has_boot_signature(sector) && sector[0] == boot::kJumpByte0 &&
           sector[2] == boot::kJumpByte2;
}

}  // namespace lyfs
