#include "chains.h"

#include <algorithm>

namespace lyfs::check {

namespace {

constexpr std::size_t kLostClustersNamed = 8;
constexpr std::uint32_t kNoOwner = 0;

// What the walk of one file's chain found.
struct Walk {
    std::uint32_t length = 0;  // clusters of the chain that no earlier file held
    // Why the chain stops before its end as a reader following it would, or empty. A cluster
    // shared with another file is no such stop: a reader goes on into the other file's chain.
    std::string broken;
};

class ChainWalker {
public:
    ChainWalker(CheckContext& context, const Geometry& geometry, const Fat& fat,
                const std::vector<FolderLayout>& folders, const std::vector<FileRecord>& files)
        : context_(context),
          geometry_(geometry),
          fat_(fat),
          folders_(folders),
          files_(files),
          owners_(fat.size(), kNoOwner) {}

    Walk walk(std::size_t file_index);

    void report_lost_clusters(const FolderLayout& folder);

private:
    std::string path(std::size_t file_index) const {
        const FileRecord& file = files_[file_index];
        return "/" + folders_[file.folder].name + "/" +
               printable(reinterpret_cast<const std::uint8_t*>(file.name.data()), file.name.size());
    }

    std::string where(std::uint64_t cluster, const FolderLayout& folder) const {
        if (cluster < kRootCluster || cluster > geometry_.last_cluster()) {
            return "outside the partition";
        }
        return "outside the folder's content clusters " + std::to_string(folder.content_first()) +
               " to " + std::to_string(folder.region_end() - 1);
    }

    CheckContext& context_;
    const Geometry& geometry_;
    const Fat& fat_;
    const std::vector<FolderLayout>& folders_;
    const std::vector<FileRecord>& files_;
    std::vector<std::uint32_t> owners_;  // per cluster: 1 + index of the file whose chain has it
};

Walk ChainWalker::walk(std::size_t file_index) {
    const FileRecord& file = files_[file_index];
    const FolderLayout& folder = folders_[file.folder];
    const auto me = static_cast<std::uint32_t>(file_index + 1);
    const bool committed = file.size != 0;
    const auto in_content = [&folder, this](std::uint64_t c) {
        return c >= folder.content_first() && c < folder.region_end() && c < owners_.size();
    };
    Walk walk;
    const auto broken = [&](ProblemKind kind, std::string detail) {
        context_.problem(kind, path(file_index) + ": " + detail);
        walk.broken = std::move(detail);
    };

    if (!in_content(file.start_cluster)) {
        broken(ProblemKind::ChainLeavesFolder, "start cluster " +
                                                   std::to_string(file.start_cluster) + " lies " +
                                                   where(file.start_cluster, folder));
        return walk;
    }
    // Every step claims a cluster of the content area or stops, so the walk is bounded by
    // the size of that area.
    std::uint32_t previous = 0;
    std::uint32_t cluster = file.start_cluster;
    bool ended = false;
    for (;;) {
        const std::uint32_t owner = owners_[cluster];
        if (owner == me) {
            broken(ProblemKind::Loop, "cluster " + std::to_string(previous) +
                                          " links back to cluster " + std::to_string(cluster));
            break;
        }
        if (owner != kNoOwner) {
            context_.problem(ProblemKind::SharedCluster, path(file_index) + ": cluster " +
                                                             std::to_string(cluster) +
                                                             " also belongs to " + path(owner - 1));
            break;
        }
        owners_[cluster] = me;
        ++walk.length;
        const std::uint32_t value = *fat_.value(cluster);
        const FatValue kind = classify(value);
        if (kind == FatValue::End) {
            ended = true;
            break;
        }
        if (kind == FatValue::Free) {
            // A file still being written has no end mark yet: its last cluster stays free
            // in the FAT until the file is closed and committed.
            ended = !committed;
            if (committed) {
                broken(ProblemKind::InvalidLink, "cluster " + std::to_string(cluster) +
                                                     " is free before the end of the chain");
            }
            break;
        }
        if (kind == FatValue::Invalid) {
            broken(ProblemKind::InvalidLink,
                   "cluster " + std::to_string(cluster) + " holds " + hex(value));
            break;
        }
        if (!in_content(value)) {
            broken(ProblemKind::ChainLeavesFolder, "cluster " + std::to_string(cluster) +
                                                       " links to " + std::to_string(value) + ", " +
                                                       where(value, folder));
            break;
        }
        previous = cluster;
        cluster = value;
    }

    const std::uint64_t needed =
        (file.size + geometry_.cluster_bytes() - 1) / geometry_.cluster_bytes();
    if (ended && walk.length < needed) {
        broken(ProblemKind::ShortChain, std::to_string(walk.length) + " clusters for " +
                                            std::to_string(file.size) + " bytes, needs " +
                                            std::to_string(needed));
    }
    return walk;
}

void ChainWalker::report_lost_clusters(const FolderLayout& folder) {
    const std::uint64_t end = std::min<std::uint64_t>(folder.region_end(), owners_.size());
    std::uint32_t lost = 0;
    std::string named;
    for (std::uint64_t c = folder.content_first(); c < end; ++c) {
        if (*fat_.value(c) == kFatFree || owners_[c] != kNoOwner) {
            continue;
        }
        if (lost < kLostClustersNamed) {
            named += (lost == 0 ? "" : ", ") + std::to_string(c);
        } else if (lost == kLostClustersNamed) {
            named += ", ...";
        }
        ++lost;
    }
    if (lost != 0) {
        context_.problem(ProblemKind::LostCluster, "folder " + folder.name + ": " +
                                                       std::to_string(lost) +
                                                       " clusters in use by no file: " + named);
        context_.report().lost_clusters += lost;
    }
}

}  // namespace

void check_chains(CheckContext& context, const Geometry& geometry, const Fat& fat,
                  const std::vector<FolderLayout>& folders, const std::vector<FileRecord>& files) {
    ChainWalker walker(context, geometry, fat, folders, files);
    Report& report = context.report();
    for (std::size_t i = 0; i < files.size(); ++i) {
        const FileRecord& file = files[i];
        const Walk walk = walker.walk(i);
        report.used_clusters += walk.length;
        FileSummary summary;
        summary.folder = folders[file.folder].name;
        summary.name = file.name;
        summary.slot = file.slot;
        summary.start_cluster = file.start_cluster;
        summary.size = file.size;
        summary.chain_clusters = walk.length;
        const std::uint64_t reached = std::uint64_t{walk.length} * geometry.cluster_bytes();
        if (summary.committed() && !walk.broken.empty() && reached < file.size) {
            summary.damage = walk.broken;
            summary.readable_bytes = reached;
        }
        report.files.push_back(std::move(summary));
    }
    for (const FolderLayout& folder : folders) {
        if (folder.usable) {
            walker.report_lost_clusters(folder);
        }
    }
}

}  // namespace lyfs::check
