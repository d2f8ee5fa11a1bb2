// A folder's entry in the first sector of the root directory.
#pragma once

#include <cstdint>

namespace lyfs {

inline constexpr std::uint32_t kRootDirSectorBytes = 512;
inline constexpr std::uint32_t kLongNameGroupBytes = 128;

// Encodes one folder entry into the root-directory sector at `offset` and
// advances `offset` past it: 32 bytes for a name of 1 to 8 characters, a
// group of 128 for a longer one. Returns 0, 13 for an empty name, or -1
// when the name or the entry does not fit.
int32_t make_dir_entry(const char* name, std::uint8_t attribute, std::uint32_t first_cluster,
                       std::uint8_t* sector, std::uint32_t* offset);

struct DirEntryInfo {
    char name[9];
    std::uint8_t attribute;
    std::uint32_t first_cluster;
    std::uint32_t size;
};

// Decodes a short folder entry. A long-name entry is not decoded: returns
// false and logs it.
bool extract_dir_entry(const std::uint8_t* entry, DirEntryInfo* out);

}  // namespace lyfs
