#include "card_checker.h"

#include <exception>
#include <optional>
#include <vector>

#include "chains.h"
#include "fat.h"
#include "file_entries.h"
#include "folders.h"
#include "partition.h"

namespace lyfs::check {

namespace {

// The partition, its boot sector and the folders' regions; nothing when slot 1 is unusable.
std::optional<Geometry> check_volume_sectors(CheckContext& context,
                                             std::vector<FolderLayout>& folders) {
    const auto geometry = read_geometry(context);
    if (!geometry) {
        return std::nullopt;
    }
    check_boot_sector(context, *geometry);
    if (auto read = read_folders(context, *geometry)) {
        folders = std::move(*read);
        check_regions(context, *geometry, folders);
    }
    return geometry;
}

void run_checks(CheckContext& context) {
    std::vector<FolderLayout> folders;
    const auto geometry = check_volume_sectors(context, folders);
    if (!geometry) {
        return;
    }
    const auto fat = read_fat(context, *geometry);
    if (!fat) {
        return;
    }
    check_fat_header(context, *fat);
    check_entry_area_chains(context, *fat, folders);

    std::vector<FileRecord> files;
    for (std::size_t k = 0; k < folders.size(); ++k) {
        if (folders[k].usable) {
            read_file_entries(context, *geometry, k, folders[k], files);
        }
    }
    check_chains(context, *geometry, *fat, folders, files);

    const Report& report = context.report();
    context.note("totals: " + std::to_string(report.folders.size()) + " folders, " +
                 std::to_string(report.files.size()) + " files (" +
                 std::to_string(report.committed_files()) + " committed), " +
                 std::to_string(report.used_clusters) + " clusters in files, " +
                 std::to_string(report.lost_clusters) + " lost");
}

template <typename Checks>
Report run_guarded(SectorReader& reader, Checks checks) {
    Report report;
    CheckContext context(reader, report);
    // The reader is the caller's code and memory may run out on a huge card; either way the
    // caller gets a report rather than an exception.
    try {
        checks(context);
    } catch (const std::exception& e) {
        context.problem(ProblemKind::CheckAborted, e.what());
    } catch (...) {
        context.problem(ProblemKind::CheckAborted, "unknown exception");
    }
    if (report.unlisted_problems != 0) {
        context.note(std::to_string(report.unlisted_problems) + " further problems not listed");
    }
    return report;
}

}  // namespace

Report check_card(SectorReader& reader) {
    return run_guarded(reader, run_checks);
}

Report check_volume(SectorReader& reader) {
    return run_guarded(reader, [](CheckContext& context) {
        std::vector<FolderLayout> folders;
        check_volume_sectors(context, folders);
    });
}

}  // namespace lyfs::check
