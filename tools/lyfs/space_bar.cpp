#include "space_bar.h"

#include <algorithm>

#include "units.h"

namespace lyfs::tool {
namespace {

constexpr const char* kUsedColour = "\033[32m";     // green
constexpr const char* kReserveColour = "\033[33m";  // yellow
constexpr const char* kNoColour = "\033[0m";

// The cell of a byte offset into the folder, rounded to the nearest.
std::size_t cell_of(std::uint64_t bytes, std::uint64_t total, std::size_t width) {
    if (total == 0) {
        return 0;
    }
    const long double share = static_cast<long double>(bytes) / static_cast<long double>(total);
    return std::min(width,
                    static_cast<std::size_t>(share * static_cast<long double>(width) + 0.5L));
}

}  // namespace

std::uint64_t folder_reserve_bytes(const std::string& folder) {
    if (folder == "DATA" || folder == "PHOTO") {
        return 10 * kMiB;
    }
    if (folder == "EVENT" || folder == "PARKED") {
        return 100 * kMiB;
    }
    return 200 * kMiB;
}

std::string space_bar(std::uint64_t total, std::uint64_t free, std::uint64_t reserve,
                      std::size_t width, bool colour) {
    free = std::min(free, total);
    const std::size_t used_cells = cell_of(total - free, total, width);
    const std::size_t reserve_cell = cell_of(total - std::min(reserve, total), total, width);
    std::string bar = "[";
    const char* current = nullptr;
    const auto paint = [&](const char* wanted, char glyph) {
        if (colour && wanted != current) {
            bar += wanted != nullptr ? wanted : kNoColour;
            current = wanted;
        }
        bar += glyph;
    };
    for (std::size_t cell = 0; cell < width; ++cell) {
        if (cell == reserve_cell) {
            paint(kReserveColour, '|');
        }
        if (cell < used_cells) {
            paint(kUsedColour, '#');
        } else {
            paint(cell >= reserve_cell ? kReserveColour : nullptr, '.');
        }
    }
    if (reserve_cell == width) {
        paint(kReserveColour, '|');
    }
    paint(nullptr, ']');
    return bar;
}

}  // namespace lyfs::tool
