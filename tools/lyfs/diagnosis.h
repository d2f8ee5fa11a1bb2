// What the independent checker reads in a card's first sectors, turned into words that say
// what is wrong and what to do: why a card does not mount, and why a folder it lists cannot be
// used. It reads a few sectors and never writes.
#pragma once

#include <string>
#include <vector>

namespace lyfs::tool {

// The trouble with the card's partition or volume that keeps it from being used, with what to
// do about it; empty when these sectors show none.
std::string volume_trouble(const std::string& device);

struct LeftOutFolder {
    std::string name;
    std::string why;
};

// "folder EVENT is on the card but cannot be used: WHY", for the terminal.
std::string left_out_words(const LeftOutFolder& folder);

// The folders the card lists that are not among `usable` (the folders the mount set up), each
// with the reason the checker finds.
std::vector<LeftOutFolder> folders_left_out(const std::string& device,
                                            const std::vector<std::string>& usable);

}  // namespace lyfs::tool
