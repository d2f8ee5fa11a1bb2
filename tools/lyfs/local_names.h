// The names a card's files go by on this computer: in the mount's listing and in the copies of
// lyfs get. A card's names come from whatever wrote it, so one of them may hold a character no
// file name can (a slash), or repeat within its folder; every recording must still be reachable
// under a name of its own.
//
// The rule: a card name that is a valid local name stays as it is. Otherwise the characters
// that cannot stand are written as %XX (their byte in hex): a slash and control characters, on
// Windows also \ : * ? " < > |, bytes outside ASCII, a trailing space or dot and the first
// letter of a device name (CON, NUL, COM1, ...); "." and ".." have every dot escaped, an empty
// name is "%", and a % is escaped too in a name that needs escaping, so that decoding gives the
// card name back. Of the files of a folder that would share a local name (on Windows, names
// that differ only in case share one), the oldest keeps it and the others get ~2, ~3, ...
// before the extension, in ring order; a card name that is already a valid local name is never
// taken by another file's escaped or numbered name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lyfs::tool {

enum class NameRules { kPosix, kWindows };

#ifdef _WIN32
inline constexpr NameRules kLocalRules = NameRules::kWindows;
#else
inline constexpr NameRules kLocalRules = NameRules::kPosix;
#endif

// The card name escaped as the rule says, before any number is added.
std::string escaped_local_name(std::string_view card_name, NameRules rules = kLocalRules);

// One distinct local name per card name of a folder, given and returned oldest first.
std::vector<std::string> local_names(const std::vector<std::string>& card_names,
                                     NameRules rules = kLocalRules);

}  // namespace lyfs::tool
