// Names read from a card are data from outside: a crafted card can hold any bytes in them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lyfs::tool {

// The library takes file names of 9 to 39 characters.
inline constexpr std::size_t kShortestFileName = 9;
inline constexpr std::size_t kLongestFileName = 39;

// The text with control characters and bytes that are not printable UTF-8 escaped (\n, \t,
// \xHH), so that what is printed cannot drive the terminal.
std::string printable(std::string_view text);

// Why a name cannot be given to a file on the card, naming the rule it breaks: the card
// takes 9 to 39 printable ASCII characters, none of / \ : * ? " < > |, not ending in a space
// or a dot (what every host can open). Empty when it can.
std::string unfit_card_name(std::string_view name);

}  // namespace lyfs::tool
