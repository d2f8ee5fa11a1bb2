// get and put: copying files out of and onto a card.
#include <cstdio>
#include <filesystem>
#include <memory>

#include "card.h"
#include "commands.h"
#include "copy.h"
#include "copy_destination.h"
#include "failure.h"
#include "library.h"
#include "local_file.h"
#include "manual.h"
#include "names.h"
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
};

struct PutOptions {
    std::string device;
    std::string source;
    std::string destination;
};

// What becomes of a copy that did not finish, in words: what was written in place stays, a
// partial copy is kept when asked (`keep`), anything else leaves the destination as it was.
std::string settle_unfinished(CopyDestination& local, bool keep, bool hint) {
    const std::string got = std::to_string(local.written());
    const std::string name = local.name();
    if (local.in_place()) {
        local.abandon();
        return got + " bytes of it went to " + name;
    }
    if (keep && local.written() != 0) {
        local.keep();
        return "kept its first " + got + " bytes as " + name;
    }
    local.abandon();
    return name + " was left as it was" +
           (hint && local.written() != 0
                ? " (--keep-partial keeps the " + got + " bytes that could be read)"
                : "");
}

// Copies one card file to a local destination, which changes only when the copy is kept.
std::uint64_t copy_out(Card& card, const CardPath& source, const std::string& destination,
                       bool keep_partial) {
    CardFile file(card, source, CardFile::Mode::Read);
    CopyDestination local(destination);
    // A stream written as it stands may be standard output itself.
    std::FILE* said = local.in_place() ? stderr : stdout;
    try {
        const std::uint64_t size = read_card_file(
            file, source, [&local](std::span<const std::uint8_t> piece) { local.write_all(piece); },
            true);
        local.keep();
        std::fprintf(said, "%s -> %s (%s)\n", printable(source.text()).c_str(),
                     printable(local.name()).c_str(), format_size(size).c_str());
        return size;
    } catch (const Interrupted& stop) {
        throw Interrupted(std::string(stop.what()) + "; " + settle_unfinished(local, false, false),
                          stop.signal_number());
    } catch (const Failure& failure) {
        throw Failure(
            std::string(failure.what()) + "; " + settle_unfinished(local, keep_partial, true),
            failure.library_said());
    }
}

// Copies every file it can (on an evidence card each one counts) and names the others.
int get_folder(Card& card, const CardPath& folder, const std::string& destination,
               bool keep_partial) {
    if (destination.empty() || destination == "-") {
        throw UsageError("give a local folder to copy " + folder.text() + " into");
    }
    card.space(folder.folder);  // a clear message for a folder the card does not have
    std::error_code error;
    fs::create_directories(destination, error);
    if (error) {
        throw Failure("cannot create " + destination + ": " + error.message());
    }
    std::uint64_t count = 0;
    std::uint64_t total = 0;
    std::vector<std::string> not_copied;
    // The names are taken first: reading may recover an unfinished file, which changes the list.
    for (const FileInfo& info : card.files(folder.folder, AgeOrder::OldestFirst)) {
        const std::string name = file_name(info);
        const CardPath source{folder.folder, name};
        if (const std::string why = unsafe_local_name(name); !why.empty()) {
            not_copied.push_back(printable(source.text()) +
                                 ": its name cannot be a local file "
                                 "name (" +
                                 why + ")");
            continue;
        }
        try {
            total += copy_out(card, source, (fs::path(destination) / name).string(), keep_partial);
            ++count;
        } catch (const Interrupted&) {
            throw;
        } catch (const Failure& failure) {
            not_copied.push_back(printable(failure.what()));
        }
    }
    std::printf("copied %llu file%s (%s) to %s\n", static_cast<unsigned long long>(count),
                count == 1 ? "" : "s", format_size(total).c_str(), destination.c_str());
    if (not_copied.empty()) {
        return kExitSuccess;
    }
    std::fprintf(stderr, "lyfs get: %zu file%s not copied:\n", not_copied.size(),
                 not_copied.size() == 1 ? "" : "s");
    for (const std::string& line : not_copied) {
        std::fprintf(stderr, "  %s\n", line.c_str());
    }
    return kExitFailure;
}

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
        fs::create_directories(given, error);
        if (error) {
            throw Failure("cannot create the folder " + given + ": " + error.message());
        }
    }
    return fs::is_directory(given) ? (fs::path(given) / name).string() : given;
}

int run_get(const GetOptions& options) {
    const CardPath source = parse_card_path(options.source);
    Library library;
    Card card(options.device, Card::Access::ReadOnly);
    catch_interruptions();
    if (source.name.empty()) {
        return get_folder(card, source, options.destination, options.keep_partial);
    }
    copy_out(card, source, single_destination(options.destination, source.name),
             options.keep_partial);
    return kExitSuccess;
}

int run_put(const PutOptions& options) {
    if (fs::is_directory(options.source)) {
        throw UsageError(options.source + " is a folder: put copies one file (lyfs put DEVICE " +
                         "FILE /FOLDER); lyfs get copies a whole folder the other way");
    }
    CardPath destination = parse_card_path(options.destination);
    if (destination.name.empty()) {
        destination.name = fs::path(options.source).filename().string();
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
        "get", "Copy a file out of the card, or every file of a folder into a local folder");
    get_app->add_option("DEVICE", get->device, "Block device or card image")->required();
    names_on_card(
        get_app->add_option("SOURCE", get->source, "/FOLDER/NAME, or /FOLDER for all its files"),
        OnCard::kFolderOrFile)
        ->required();
    get_app->add_option("DEST", get->destination,
                        "Local file or folder, - for standard output (default: the file's name "
                        "in the current folder; required for a whole folder). A file there is "
                        "replaced only by a whole copy");
    get_app->add_flag("--keep-partial", get->keep_partial,
                      "Keep what can be read of a damaged file, rather than nothing");
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
