// lyfs: list, copy, prepare and check cards of the recorders' file system without mounting
// anything, in the manner of the tools people use for FAT card images.
#include <cstdio>
#include <exception>

#include "commands.h"
#include "failure.h"
#include "library.h"
#include "manual.h"
#include "names.h"
#include "reference.h"

namespace {

using namespace lyfs::tool;

int run(int argc, char** argv) {
    CLI::App app(
        "Read, write and prepare recorder cards of the card file system.\n"
        "DEVICE is a block device such as /dev/sdb (on Windows \\\\.\\PhysicalDriveN) or a card\n"
        "image file.",
        "lyfs");
    app.set_version_flag("--version", "lyfs " LYFS_VERSION);
    app.require_subcommand(1);
    // Card paths start with "/": never read them as Windows-style options.
    app.allow_windows_style_options(false);
    app.fallthrough();  // -v works before or after the command
    GlobalOptions global;
    app.add_flag("-v,--verbose", global.verbosity,
                 "Show the library's log on stderr; -vv adds its trace lines");

    Commands commands;
    add_show_commands(app, commands);
    add_copy_commands(app, commands);
    add_prepare_commands(app, commands);
    add_check_command(app, global, commands);
    add_hash_command(app, commands);
    add_demo_command(app, commands);
#ifdef LYFS_WITH_MOUNT
    add_mount_command(app, commands);
#endif
    add_reference_footers(app);
    add_manual_options(app);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? kExitSuccess : kExitUsage;
    }
    route_library_log(global.verbosity);
    for (const Command& command : commands) {
        if (command.app->parsed()) {
            try {
                return command.run();
            } catch (const Interrupted& stop) {
                std::fprintf(stderr, "lyfs %s: %s\n", command.app->get_name().c_str(),
                             printable(stop.what()).c_str());
                return kExitSignalBase + stop.signal_number();
            } catch (const UsageError& error) {
                std::fprintf(stderr, "lyfs %s: %s\nRun with --help for more information.\n",
                             command.app->get_name().c_str(), error.what());
                return kExitUsage;
            } catch (const Failure& error) {
                // Messages can quote names from the card.
                std::fprintf(stderr, "lyfs %s: %s\n", command.app->get_name().c_str(),
                             printable(error.what()).c_str());
                if (!error.library_said().empty()) {
                    std::fprintf(stderr, "  library: %s\n",
                                 printable(error.library_said()).c_str());
                }
                return kExitFailure;
            }
        }
    }
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "lyfs: %s\n", error.what());
        return kExitFailure;
    }
}
