#include "folders.h"

#include <algorithm>

#include "little_endian.h"

namespace lyfs::check {

namespace {

// Beyond this the file-entry area is not decoded: real cards hold a few thousand slots per
// folder, and a garbage folder record must not make the check read the whole card.
constexpr std::uint64_t kMaxEntrySlots = std::uint64_t{1} << 22;

struct RootEntry {
    std::string name;
    std::uint32_t start_cluster = 0;
};

void expect_signature(CheckContext& context, const Sector& fsinfo, const char* which,
                      std::size_t offset, std::uint32_t expected) {
    const std::uint32_t found = get_u32(fsinfo.data() + offset);
    if (found != expected) {
        context.problem(ProblemKind::FsInfo, std::string(which) + " signature is " + hex(found) +
                                                 ", expected " + hex(expected));
    }
}

// A folder name is the short entry's name bytes up to the first blank.
std::string folder_name(const std::uint8_t* entry) {
    const std::uint8_t* end = std::find(entry, entry + kDirNameBytes, ' ');
    return printable(entry, static_cast<std::size_t>(end - entry));
}

// Entries follow each other from byte 0; a long-name group takes 128 bytes and its short
// entry, which holds the first cluster, is the group's last slot.
std::vector<RootEntry> read_root_entries(const Sector& root) {
    std::vector<RootEntry> entries;
    std::size_t offset = 0;
    while (offset + kDirEntryBytes <= kSectorBytes && root[offset] != 0) {
        const std::uint8_t* entry = root.data() + offset;
        if (entry[kDirAttributeOffset] == kLongNameAttribute) {
            if (offset + kLongNameGroupBytes > kSectorBytes) {
                break;
            }
            entry += kAliasInGroupOffset;
            offset += kLongNameGroupBytes;
        } else {
            offset += kDirEntryBytes;
        }
        const std::uint32_t start = (std::uint32_t{get_u16(entry + kDirClusterHighOffset)} << 16) |
                                    get_u16(entry + kDirClusterLowOffset);
        entries.push_back({folder_name(entry), start});
    }
    return entries;
}

std::uint64_t entry_clusters(std::uint32_t max_file_num, std::uint32_t sectors_per_cluster) {
    const std::uint64_t entry_sectors =
        (std::uint64_t{max_file_num} + kFileEntriesPerSector - 1) / kFileEntriesPerSector;
    return (entry_sectors + sectors_per_cluster - 1) / sectors_per_cluster;
}

}  // namespace

std::optional<std::vector<FolderLayout>> read_folders(CheckContext& context,
                                                      const Geometry& geometry) {
    Sector fsinfo;
    if (!context.read_sector(geometry.first_lba + kFsInfoSector, fsinfo)) {
        return std::nullopt;
    }
    expect_signature(context, fsinfo, "lead", kFsInfoLeadOffset, kFsInfoLead);
    expect_signature(context, fsinfo, "structure", kFsInfoStructOffset, kFsInfoStruct);
    expect_signature(context, fsinfo, "trail", kFsInfoTrailOffset, kFsInfoTrail);

    const std::uint32_t count = get_u32(fsinfo.data() + kRecordCountOffset);
    if (count > kMaxFolders) {
        context.problem(ProblemKind::FolderRecord,
                        "count " + std::to_string(count) + " is 10 or more");
        return std::nullopt;
    }
    Sector root;
    if (!context.read_sector(geometry.cluster_lba(kRootCluster), root)) {
        return std::nullopt;
    }
    const std::vector<RootEntry> entries = read_root_entries(root);
    if (entries.size() != count) {
        context.problem(ProblemKind::FolderRecord,
                        "count " + std::to_string(count) + " differs from the " +
                            std::to_string(entries.size()) + " root-directory entries");
        return std::nullopt;
    }

    std::vector<FolderLayout> folders;
    for (std::size_t k = 0; k < count; ++k) {
        FolderLayout folder;
        folder.name = entries[k].name;
        folder.start_cluster = entries[k].start_cluster;
        folder.cluster_count = get_u32(fsinfo.data() + kRecordValuesOffset + 4 * k);
        folder.max_file_num = get_u32(fsinfo.data() + kRecordValuesOffset + 4 * (count + k));
        folder.entry_clusters = entry_clusters(folder.max_file_num, geometry.sectors_per_cluster);
        context.report().folders.push_back(
            {folder.name, folder.start_cluster, folder.cluster_count, folder.max_file_num});
        context.note(
            "folder " + folder.name + ": clusters " + std::to_string(folder.start_cluster) + " + " +
            std::to_string(folder.cluster_count) + ", " + std::to_string(folder.entry_clusters) +
            " of them file entries for " + std::to_string(folder.max_file_num) + " files");
        folders.push_back(std::move(folder));
    }
    return folders;
}

void check_regions(CheckContext& context, const Geometry& geometry,
                   std::vector<FolderLayout>& folders) {
    const std::uint64_t end_of_volume = std::uint64_t{geometry.last_cluster()} + 1;
    std::uint64_t expected_start = kFirstRegionCluster;
    for (const FolderLayout& folder : folders) {
        if (folder.start_cluster != expected_start) {
            context.problem(ProblemKind::RegionTiling,
                            "folder " + folder.name + " starts at cluster " +
                                std::to_string(folder.start_cluster) + ", expected " +
                                std::to_string(expected_start));
        }
        expected_start = folder.region_end();
    }
    if (expected_start != end_of_volume) {
        context.problem(ProblemKind::RegionTiling,
                        "the regions end at cluster " + std::to_string(expected_start - 1) +
                            ", expected " + std::to_string(geometry.last_cluster()));
    }

    for (FolderLayout& folder : folders) {
        const bool inside =
            folder.start_cluster >= kFirstRegionCluster && folder.region_end() <= end_of_volume;
        const std::uint64_t slots =
            folder.entry_clusters * geometry.sectors_per_cluster * kFileEntriesPerSector;
        if (folder.entry_clusters >= folder.cluster_count) {
            context.problem(ProblemKind::FileEntryArea,
                            "folder " + folder.name + " needs " +
                                std::to_string(folder.entry_clusters) +
                                " clusters of file entries but its region has " +
                                std::to_string(folder.cluster_count));
        } else if (slots > kMaxEntrySlots) {
            context.problem(ProblemKind::FileEntryArea, "folder " + folder.name + " has " +
                                                            std::to_string(slots) +
                                                            " file-entry slots, too many to check");
        } else {
            folder.usable = inside;
        }
    }
}

}  // namespace lyfs::check
