// Names read from a card are data from outside: a crafted card can hold any bytes in them.
#pragma once

#include <string>
#include <string_view>

namespace lyfs::tool {

// The text with control characters and bytes that are not printable UTF-8 escaped (\n, \t,
// \xHH), so that what is printed cannot drive the terminal.
std::string printable(std::string_view text);

// Why a name from the card cannot be used as a local file name: it holds a slash, a backslash
// or a control character, or is empty, "." or "..". Empty when it can.
std::string unsafe_local_name(std::string_view name);

}  // namespace lyfs::tool
