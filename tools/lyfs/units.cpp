#include "units.h"

#include <algorithm>
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

namespace {

struct TimeUnit {
    char letter;
    std::int64_t seconds;
};
constexpr std::array<TimeUnit, 4> kTimeUnits = {{{'d', 86400}, {'h', 3600}, {'m', 60}, {'s', 1}}};

}  // namespace

std::optional<std::int64_t> parse_duration(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::int64_t total = 0;
    while (!text.empty()) {
        std::int64_t number = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
        if (error != std::errc{} || end == text.data() || number < 0) {
            return std::nullopt;
        }
        text.remove_prefix(static_cast<std::size_t>(end - text.data()));
        std::int64_t unit = 1;
        if (!text.empty()) {
            const auto found =
                std::find_if(kTimeUnits.begin(), kTimeUnits.end(), [&](const TimeUnit& u) {
                    return u.letter == std::tolower(static_cast<unsigned char>(text[0]));
                });
            if (found == kTimeUnits.end()) {
                return std::nullopt;
            }
            unit = found->seconds;
            text.remove_prefix(1);
        }
        if (number > (std::numeric_limits<std::int64_t>::max() - total) / unit) {
            return std::nullopt;
        }
        total += number * unit;
    }
    return total;
}

std::string format_duration(std::int64_t seconds) {
    std::string text;
    for (const TimeUnit& unit : kTimeUnits) {
        if (seconds >= unit.seconds || (unit.seconds == 1 && text.empty())) {
            text +=
                (text.empty() ? "" : " ") + std::to_string(seconds / unit.seconds) + unit.letter;
            seconds %= unit.seconds;
        }
    }
    return text;
}

std::string counted(std::uint64_t count, std::string_view noun) {
    return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

}  // namespace lyfs::tool
