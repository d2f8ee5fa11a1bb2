// The tables that both --help and the manual page print, kept once here so the two cannot
// differ: the tool's exit statuses and what the mount refuses.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include <CLI/CLI.hpp>

namespace lyfs::tool {

struct ReferenceRow {
    std::string_view key;  // "0", "EPERM"
    std::string_view meaning;
};

struct ReferenceTable {
    std::string_view command;  // the command it belongs to; empty for the tool as a whole
    std::string_view title;    // "Exit status"
    std::string_view intro;    // what the rows are, before them (may be empty)
    std::span<const ReferenceRow> rows;
};

std::span<const ReferenceTable> reference_tables();

// The table as --help prints it: the title, the intro and the rows in two columns, wrapped.
std::string reference_text(const ReferenceTable& table);

// Puts each table at the end of its command's --help, for the commands this build has.
void add_reference_footers(CLI::App& app);

}  // namespace lyfs::tool
