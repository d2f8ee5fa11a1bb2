// A folder's space as a bar: what its files use, what is free, and where its reserve starts.
// The library reclaims a folder's oldest files once its free space falls to the reserve, so the
// bar shows a user how close the next reclaim is.
#pragma once

#include <cstdint>
#include <string>

namespace lyfs::tool {

// The free space the library keeps in a folder of this name.
std::uint64_t folder_reserve_bytes(const std::string& folder);

// "[###.......|..]": `width` cells of used (#) and free (.) space, and a | before the cell
// where the reserve starts (at the very start when the reserve is larger than the folder).
// With colour, terminal colours mark used space and the free space inside the reserve.
std::string space_bar(std::uint64_t total, std::uint64_t free, std::uint64_t reserve,
                      std::size_t width, bool colour);

}  // namespace lyfs::tool
