// The folder layout of a card as typed on the command line: NAME:PERCENT:MAXFILES,...
#pragma once

#include <string>
#include <string_view>

#include "lyfs/lyfs.h"

namespace lyfs::tool {

// What recorders expect to find on a card. The last folder takes the rest of the volume.
inline constexpr std::string_view kDefaultLayout =
    "DATA:40:5000,EVENT:30:5000,PHOTO:10:2000,PARKED:0:2000";

struct ParsedLayout {
    lyfs_folder_table table{};
    std::string error;  // empty when the text is a usable layout
};

// Checks everything that can be judged without the card: 1 to 9 folders, distinct names of 1
// to 8 upper-case letters, digits, '_' or '-', shares of at most 100 % in all before the last
// folder, and room for at least one file each. Whether the regions suit the card's size is
// for the format itself to say.
ParsedLayout parse_layout(std::string_view text);

// "DATA 40 % (5000 files), ..., PARKED the rest (2000 files)".
std::string describe_layout(const lyfs_folder_table& table);

}  // namespace lyfs::tool
