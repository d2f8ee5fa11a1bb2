#include "units.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <limits>

namespace lyfs::tool {
namespace {

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t k = 0; k < a.size(); ++k) {
        if (std::tolower(static_cast<unsigned char>(a[k])) !=
            std::tolower(static_cast<unsigned char>(b[k]))) {
            return false;
        }
    }
    return true;
}

// The power of 1024 a unit stands for, or nothing for an unknown unit.
std::optional<unsigned> unit_exponent(std::string_view unit) {
    if (unit.empty() || equal_ignoring_case(unit, "b")) {
        return 0;
    }
    static constexpr std::string_view kPrefixes = "kmgt";
    const auto prefix = kPrefixes.find(static_cast<char>(std::tolower(unit[0])));
    if (prefix == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view rest = unit.substr(1);
    if (rest.empty() || equal_ignoring_case(rest, "b") || equal_ignoring_case(rest, "ib")) {
        return static_cast<unsigned>(prefix) + 1;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::uint64_t> parse_size(std::string_view text) {
    std::uint64_t number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc{} || end == text.data()) {
        return std::nullopt;
    }
    const auto exponent = unit_exponent(text.substr(static_cast<std::size_t>(end - text.data())));
    if (!exponent) {
        return std::nullopt;
    }
    for (unsigned k = 0; k < *exponent; ++k) {
        if (number > std::numeric_limits<std::uint64_t>::max() / 1024) {
            return std::nullopt;
        }
        number *= 1024;
    }
    return number;
}

std::string format_size(std::uint64_t bytes) {
    static constexpr std::array<const char*, 5> kUnits = {"KiB", "MiB", "GiB", "TiB", "PiB"};
    if (bytes < 1024) {
        return std::to_string(bytes) + " B";
    }
    double value = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    while (value >= 1024 && unit + 1 < kUnits.size()) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

std::string format_sectors(std::uint64_t sectors) {
    return std::to_string(sectors) + " sectors (" + format_size(sectors * kSectorBytes) + ")";
}

std::string counted(std::uint64_t count, std::string_view noun) {
    return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

}  // namespace lyfs::tool
