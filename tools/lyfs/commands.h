// The tool's commands. Each adds its subcommand with its options to the application and says
// how to run it once the command line is parsed.
#pragma once

#include <functional>
#include <vector>

#include <CLI/CLI.hpp>

namespace lyfs::tool {

struct GlobalOptions {
    int verbosity = 0;
};

struct Command {
    CLI::App* app;
    std::function<int()> run;  // returns the exit code, or throws Failure or UsageError
};

using Commands = std::vector<Command>;

void add_show_commands(CLI::App& app, Commands& commands);     // info, ls
void add_copy_commands(CLI::App& app, Commands& commands);     // get, put
void add_prepare_commands(CLI::App& app, Commands& commands);  // partition, format, mkimage
void add_check_command(CLI::App& app, const GlobalOptions& global, Commands& commands);
void add_hash_command(CLI::App& app, Commands& commands);
void add_demo_command(CLI::App& app, Commands& commands);
// Only where the tool is built with FUSE (LYFS_WITH_MOUNT).
void add_mount_command(CLI::App& app, Commands& commands);

}  // namespace lyfs::tool
