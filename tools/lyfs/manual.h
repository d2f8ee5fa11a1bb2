// The manual page and the bash completion, printed from the tool's own commands and options
// (and the reference tables), so that neither can drift from --help. The build runs the tool
// with the hidden options --manual-page and --bash-completion to make them.
#pragma once

#include <CLI/CLI.hpp>

namespace lyfs::tool {

// What a positional names on the card, for the completion to offer the card's own folders and
// files; a positional named DEVICE is the card, every other one a local path.
enum class OnCard { kFolder, kFolderOrFile };
CLI::Option* names_on_card(CLI::Option* positional, OnCard what);

// Adds the hidden options; call once every command is added.
void add_manual_options(CLI::App& app);

}  // namespace lyfs::tool
