#include "file_entries.h"

#include "little_endian.h"

namespace lyfs::check {

namespace {

// The long-name entries hold characters 1-13, 14-26 and 27-39 at these record offsets.
constexpr std::size_t kNameEntryOffsets[] = {64, 32, 0};

// Each long-name entry spreads its 13 characters over three runs of 16-bit units.
struct NameRun {
    std::size_t offset;
    std::size_t units;
};
constexpr NameRun kNameRuns[] = {{1, 5}, {14, 6}, {28, 2}};

// Names are 8-bit characters widened to 16 bits, so the low byte of each unit is the
// character. A 0 ends the name, as does an erased entry where the name needs no more.
std::string decode_name(const std::uint8_t* record) {
    std::string name;
    for (std::size_t entry_offset : kNameEntryOffsets) {
        const std::uint8_t* entry = record + entry_offset;
        if (entry[0] == kSlotErased) {
            return name;
        }
        for (const NameRun& run : kNameRuns) {
            for (std::size_t u = 0; u < run.units; ++u) {
                const std::uint8_t c = entry[run.offset + 2 * u];
                if (c == 0) {
                    return name;
                }
                name += static_cast<char>(c);
            }
        }
    }
    return name;
}

}  // namespace

void read_file_entries(CheckContext& context, const Geometry& geometry, std::size_t folder_index,
                       const FolderLayout& folder, std::vector<FileRecord>& files) {
    const std::uint64_t first_lba = geometry.cluster_lba(folder.start_cluster);
    const std::uint64_t sectors = folder.entry_clusters * geometry.sectors_per_cluster;
    Sector sector;
    for (std::uint64_t k = 0; k < sectors; ++k) {
        if (!context.read_sector(first_lba + k, sector)) {
            continue;
        }
        for (std::uint32_t r = 0; r < kFileEntriesPerSector; ++r) {
            const std::uint8_t* record = sector.data() + r * kFileEntryBytes;
            const std::uint8_t state = record[kShortEntryOffset];
            if (state == kSlotFree || state == kSlotErased) {
                continue;
            }
            const auto slot = static_cast<std::uint32_t>(k * kFileEntriesPerSector + r);
            const std::uint8_t attribute = record[kFileAttributeOffset];
            if (attribute != kFileAttribute) {
                context.problem(ProblemKind::BadAttribute,
                                "folder " + folder.name + " slot " + std::to_string(slot) +
                                    " is in use with attribute " + hex(attribute, 2));
                continue;
            }
            FileRecord file;
            file.folder = folder_index;
            file.slot = slot;
            file.name = decode_name(record);
            file.start_cluster = (std::uint32_t{get_u16(record + kFileClusterHighOffset)} << 16) |
                                 get_u16(record + kFileClusterLowOffset);
            file.size = get_u32(record + kFileSizeOffset);
            files.push_back(std::move(file));
        }
    }
}

}  // namespace lyfs::check
