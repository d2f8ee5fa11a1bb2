#include "copy_many.h"

#include <cstdio>
#include <filesystem>

#include "card_inventory.h"
#include "diagnosis.h"
#include "evidence_report.h"
#include "failure.h"
#include "names.h"
#include "progress.h"
#include "system.h"
#include "units.h"

namespace lyfs::tool {
namespace {

namespace fs = std::filesystem;

void create_folder(const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
        throw Failure("cannot create " + path_text(folder) + ": " + error.message());
    }
}

std::vector<std::string> folder_names(const CardInventory& inventory) {
    std::vector<std::string> names;
    for (const InventoryFolder& folder : inventory.folders()) {
        names.push_back(folder.name);
    }
    return names;
}

}  // namespace

int copy_many(Card& card, const std::string& folder, const std::string& destination,
              const CopyManyOptions& options) {
    const bool whole_card = folder.empty();
    const std::string source = "/" + folder;
    if (destination.empty() || destination == "-") {
        throw UsageError("give a local folder to copy " + source + " into");
    }
    CopySession session;
    session.source = source;
    session.destination = destination;
    session.started = local_now();
    session.hash_device = options.hash_device;
    // The names are taken first: reading may recover an unfinished file, which changes the list.
    const CardInventory inventory(card, folder);
    const fs::path into = local_path(destination);
    create_folder(into);
    std::uint64_t total = 0;
    for (const InventoryFolder& listed : inventory.folders()) {
        for (const InventoryFile& file : listed.files) {
            total += file.listed.info.file_size;
        }
    }
    Progress progress("copying " + (whole_card ? card.device() : source), total, true);
    std::vector<CopiedFile> copies;
    std::vector<std::string> not_copied;
    std::uint64_t count = 0;
    std::uint64_t copied_bytes = 0;
    for (const InventoryFolder& listed : inventory.folders()) {
        const std::string subfolder = whole_card ? listed.local_name + "/" : "";
        create_folder(into / subfolder);
        for (const InventoryFile& file : listed.files) {
            CopiedFile& copy = copies.emplace_back();
            copy.folder = &listed;
            copy.file = &file;
            copy.relative = subfolder + file.listed.local_name;
            const CardPath path{listed.name, file.listed.card_name};
            if (options.manifest && takes_a_manifest_name(copy.relative)) {
                copy.result.failure = path.text() + " is not copied: its name is the " +
                                      "manifest's (lyfs get copies it alone)";
            } else {
                copy.result = copy_out(card, path, file.listed, path_text(into / copy.relative),
                                       options.keep_partial, options.manifest, progress);
            }
            // A file that could not be read whole still counts as done.
            progress.advance(file.listed.info.file_size - copy.result.read);
            if (copy.result.failure.empty()) {
                ++count;
                copied_bytes += copy.result.read;
            } else {
                not_copied.push_back(printable(copy.result.failure));
            }
        }
    }
    progress.clear();
    const std::size_t files_not_copied = not_copied.size();
    if (whole_card) {
        session.left_out = folders_left_out(card.device(), folder_names(inventory));
        for (const LeftOutFolder& left_out : session.left_out) {
            not_copied.push_back(left_out_words(left_out));
        }
    }
    session.finished = local_now();
    std::printf("copied %s (%s) to %s\n", counted(count, "file").c_str(),
                format_size(copied_bytes).c_str(), destination.c_str());
    if (options.manifest) {
        write_manifest(session, copies);
        write_report(card, inventory, session, copies);
        std::printf("wrote %s and %s\n", path_text(into / kManifestName).c_str(),
                    path_text(into / kReportName).c_str());
    }
    if (not_copied.empty()) {
        return kExitSuccess;
    }
    const std::size_t folders_not_copied = session.left_out.size();
    const std::string files = files_not_copied != 0 ? counted(files_not_copied, "file") : "";
    const std::string folders =
        folders_not_copied != 0 ? counted(folders_not_copied, "folder") : "";
    std::fprintf(stderr, "lyfs get: %s%s%s not copied:\n", files.c_str(),
                 files.empty() || folders.empty() ? "" : " and ", folders.c_str());
    for (const std::string& line : not_copied) {
        std::fprintf(stderr, "  %s\n", line.c_str());
    }
    return kExitFailure;
}

}  // namespace lyfs::tool
