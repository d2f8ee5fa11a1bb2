#include "card_checker.h"

#include <exception>

#include "chains.h"
#include "fat.h"
#include "file_entries.h"
#include "folders.h"
#include "partition.h"

namespace lyfs::check {

namespace {

void run_checks(CheckContext& context) {
    const auto geometry = read_geometry(context);
    if (!geometry) {
        return;
    }
    check_boot_sector(context, *geometry);
    std::vector<FolderLayout> folders;
    if (auto read = read_folders(context, *geometry)) {
        folders = std::move(*read);
        check_regions(context, *geometry, folders);
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

}  // namespace

Report check_card(SectorReader& reader) {
    Report report;
    CheckContext context(reader, report);
    // The reader is the caller's code and memory may run out on a huge card; either way the
    // caller gets a report rather than an exception.
    try {
        run_checks(context);
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

}  // namespace lyfs::check
