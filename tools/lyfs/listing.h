// Tables of folders and files for people to read.
#pragma once

#include <string>

#include "card.h"

namespace lyfs::tool {

// One line per folder: size, free space, the reserve the library keeps free, file-entry slots
// and files; then a warning on stderr for each folder the card lists that cannot be used.
void print_folders(Card& card);

// One bar per folder: used and free space, and where the reserve starts that makes the library
// reclaim the oldest files. In colour when stdout is a terminal.
void print_space_bars(Card& card);

// One line per file in age order with its size, then the count and the total.
void print_files(Card& card, const std::string& folder, AgeOrder order);

}  // namespace lyfs::tool
