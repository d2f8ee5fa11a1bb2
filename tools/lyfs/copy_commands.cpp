// get and put: copying files out of and onto a card.
#include <cstdio>
#include <filesystem>
#include <memory>

#include "card.h"
#include "commands.h"
#include "copy.h"
#include "copy_many.h"
#include "copy_out.h"
#include "failure.h"
#include "library.h"
#include "local_file.h"
#include "manual.h"
#include "names.h"
#include "progress.h"
#include "system.h"
#include "units.h"

namespace lyfs::tool {
namespace {

namespace fs = std::filesystem;

struct GetOptions {
    std::string device;
    std::string source;
    std::string destination;
    bool keep_partial = false;
    bool manifest = false;
    bool no_device_hash = false;
};

struct PutOptions {
    std::string device;
    std::string source;
    std::string destination;
};

// The local file a single copy goes to: the file's name inside DEST when DEST is a folder, or
// is meant as one ("newdir/" is created).
std::string single_destination(const std::string& given, const std::string& name) {
    if (given.empty()) {
        return name;
    }
    if (given == "-") {
        return given;
    }
    if (given.ends_with('/') || given.ends_with(fs::path::preferred_separator)) {
        std::error_code error;
        fs::create_directories(local_path(given), error);
        if (error) {
            throw Failure("cannot create the folder " + given + ": " + error.message());
        }
    }
    const fs::path folder = local_path(given);
    return fs::is_directory(folder) ? path_text(folder / name) : given;
}

int run_get(const GetOptions& options) {
    const bool whole_card = options.source == "/";
    const CardPath source = whole_card ? CardPath{} : parse_card_path(options.source);
    const bool many = whole_card || source.name.empty();
    if (!many && options.manifest) {
        throw UsageError(
            "--manifest is for a folder or the whole card (/); sha256sum hashes "
            "the copy of one file");
    }
    Library library;
    Card card(options.device, Card::Access::ReadOnly);
    catch_interruptions();
    if (many) {
        return copy_many(card, source.folder, options.destination,
                         {options.keep_partial, options.manifest, !options.no_device_hash});
    }
    const std::optional<ListedFile> listed = card.find_file(source);
    if (!listed) {
        throw Failure("no file " + source.text() + " on " + options.device);
    }
    Progress progress(source.text(), listed->info.file_size, true);
    const CopyResult result = copy_out(card, {source.folder, listed->card_name}, *listed,
                                       single_destination(options.destination, listed->local_name),
                                       options.keep_partial, false, progress);
    if (!result.failure.empty()) {
        throw Failure(result.failure, result.library_said);
    }
    return kExitSuccess;
}

int run_put(const PutOptions& options) {
    if (fs::is_directory(local_path(options.source))) {
        throw UsageError(options.source + " is a folder: put copies one file (lyfs put DEVICE " +
                         "FILE /FOLDER); lyfs get copies a whole folder the other way");
    }
    CardPath destination = parse_card_path(options.destination);
    if (destination.name.empty()) {
        destination.name = path_text(local_path(options.source).filename());
    }
    require_file_name(destination.name);
    LocalFile local = LocalFile::open_for_reading(options.source);
    const std::uint64_t size = local.size();
    if (size == 0) {
        throw Failure(options.source +
                      " is empty: the card cannot tell an empty file from one whose writer never "
                      "closed it, so it would read back as a whole cluster of old bytes");
    }

    Library library;
    Card card(options.device, Card::Access::ReadWrite);
    if (card.mount_mode() != LYFS_MOUNT_READ_WRITE) {
        throw Failure(options.device + " is write-protected: nothing was written");
    }
    card.space(destination.folder);  // a clear message for a folder the card does not have
    if (card.has_file(destination)) {
        throw Failure(destination.text() + " already exists on " + options.device +
                      " (files on the card are never overwritten)");
    }
    catch_interruptions();
    write_card_file(
        card, destination, size,
        [&local](std::span<std::uint8_t> piece) { local.read_exactly(piece); },
        [](const std::string& path) { std::printf("reclaimed %s\n", printable(path).c_str()); },
        true);
    std::printf("%s -> %s (%s)\n", options.source.c_str(), destination.text().c_str(),
                format_size(size).c_str());
    return 0;
}

}  // namespace

void add_copy_commands(CLI::App& app, Commands& commands) {
    auto get = std::make_shared<GetOptions>();
    CLI::App* get_app = app.add_subcommand(
        "get",
        "Copy a file out of the card, or every file of a folder, or of every folder, into a "
        "local folder (read only: the card is never written)");
    get_app->add_option("DEVICE", get->device, "Block device or card image")->required();
    names_on_card(get_app->add_option("SOURCE", get->source,
                                      "/FOLDER/NAME, /FOLDER for all its files, or / for every "
                                      "folder's (each into DEST/FOLDER)"),
                  OnCard::kFolderOrFile)
        ->required();
    get_app->add_option("DEST", get->destination,
                        "Local file or folder, - for standard output (default: the file's name "
                        "in the current folder; required for a folder or /). A file there is "
                        "replaced only by a whole copy");
    get_app->add_flag("--keep-partial", get->keep_partial,
                      "Keep what can be read of a damaged file, rather than nothing");
    CLI::Option* manifest = get_app->add_flag(
        "--manifest", get->manifest,
        "With a folder or /: write DEST/SHA256SUMS (for sha256sum -c) of the bytes "
        "as read off the card, and DEST/lyfs-report.txt: the device and its "
        "SHA-256, the card's layout, every file's size, record time and state, "
        "the checker's findings, the tool's version and the time of the copy");
    get_app
        ->add_flag("--no-device-hash", get->no_device_hash,
                   "With --manifest: leave out the report's SHA-256 of the whole device, "
                   "which reads all of it once more")
        ->needs(manifest);
    commands.push_back({get_app, [get] { return run_get(*get); }});

    auto put = std::make_shared<PutOptions>();
    CLI::App* put_app = app.add_subcommand(
        "put",
        "Copy a local file onto the card; the folder's oldest files are reclaimed when "
        "it runs short of room. A copy that fails or is interrupted is removed again");
    put_app->add_option("DEVICE", put->device, "Block device or card image")->required();
    put_app->add_option("LOCALFILE", put->source, "Local file")->required();
    names_on_card(put_app->add_option("DEST", put->destination,
                                      "/FOLDER/NAME, or /FOLDER to keep the local file's name: 9 "
                                      "to 39 printable ASCII characters without / \\ : * ? \" "
                                      "< > |"),
                  OnCard::kFolderOrFile)
        ->required();
    commands.push_back({put_app, [put] { return run_put(*put); }});
}

}  // namespace lyfs::tool
