// get and put: copying files out of and onto a card.
#include <cstdio>
#include <filesystem>
#include <memory>

#include "card.h"
#include "commands.h"
#include "copy.h"
#include "failure.h"
#include "library.h"
#include "local_file.h"
#include "names.h"
#include "units.h"

namespace lyfs::tool {
namespace {

namespace fs = std::filesystem;

struct GetOptions {
    std::string device;
    std::string source;
    std::string destination;
};

struct PutOptions {
    std::string device;
    std::string source;
    std::string destination;
};

// Copies one card file to a local path; a failed copy leaves no local file behind.
std::uint64_t copy_out(Card& card, const CardPath& source, const fs::path& destination) {
    LocalFile local = LocalFile::create(destination.string());
    try {
        const std::uint64_t size = read_card_file(
            card, source, [&local](std::span<const std::uint8_t> piece) { local.write_all(piece); },
            true);
        local.finish();
        std::printf("%s -> %s (%s)\n", printable(source.text()).c_str(),
                    printable(destination.string()).c_str(), format_size(size).c_str());
        return size;
    } catch (...) {
        local.discard();
        throw;
    }
}

// Copies every file it can (on an evidence card each one counts) and names the others.
int get_folder(Card& card, const CardPath& folder, const std::string& destination) {
    if (destination.empty()) {
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
            total += copy_out(card, source, fs::path(destination) / name);
            ++count;
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

int run_get(const GetOptions& options) {
    const CardPath source = parse_card_path(options.source);
    Library library;
    Card card(options.device, Card::Access::ReadOnly);
    if (source.name.empty()) {
        return get_folder(card, source, options.destination);
    }
    fs::path destination = options.destination.empty() ? source.name : options.destination;
    if (fs::is_directory(destination)) {
        destination /= source.name;
    }
    copy_out(card, source, destination);
    return kExitSuccess;
}

int run_put(const PutOptions& options) {
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
    get_app->add_option("SOURCE", get->source, "/FOLDER/NAME, or /FOLDER for all its files")
        ->required();
    get_app->add_option("DEST", get->destination,
                        "Local file or folder (default: the file's name in the current folder; "
                        "required for a whole folder)");
    commands.push_back({get_app, [get] { return run_get(*get); }});

    auto put = std::make_shared<PutOptions>();
    CLI::App* put_app = app.add_subcommand(
        "put",
        "Copy a local file onto the card; the folder's oldest files are reclaimed when "
        "it runs short of room");
    put_app->add_option("DEVICE", put->device, "Block device or card image")->required();
    put_app->add_option("LOCALFILE", put->source, "Local file")->required();
    put_app
        ->add_option("DEST", put->destination,
                     "/FOLDER/NAME (a name of 9 to 39 characters), or /FOLDER to keep the "
                     "local file's name")
        ->required();
    commands.push_back({put_app, [put] { return run_put(*put); }});
}

}  // namespace lyfs::tool
