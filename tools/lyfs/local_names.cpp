#include "local_names.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <map>
#include <set>

#include "names.h"

namespace lyfs::tool {
namespace {

constexpr char kEscape = '%';

bool cannot_stand(unsigned char c, NameRules rules) {
    if (c == '/' || is_control(c)) {
        return true;
    }
    return rules == NameRules::kWindows &&
           (c >= 0x80 ||
            std::string_view("\\:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos);
}

// Windows opens the device rather than a file for these names, whatever their extension.
bool is_device_name(std::string_view name) {
    std::string base(name.substr(0, name.find('.')));
    std::transform(base.begin(), base.end(), base.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    constexpr std::array<std::string_view, 4> kDevices = {"CON", "PRN", "AUX", "NUL"};
    if (std::find(kDevices.begin(), kDevices.end(), base) != kDevices.end()) {
        return true;
    }
    return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) &&
           base[3] >= '1' && base[3] <= '9';
}

// Whether the byte at `at` must be escaped in a name that needs escaping.
bool escaped_at(std::string_view name, std::size_t at, NameRules rules) {
    const auto c = static_cast<unsigned char>(name[at]);
    if (c == kEscape || cannot_stand(c, rules) || name == "." || name == "..") {
        return true;
    }
    if (rules != NameRules::kWindows) {
        return false;
    }
    // Windows drops a trailing space or dot from a name it is given.
    return (at + 1 == name.size() && (c == ' ' || c == '.')) || (at == 0 && is_device_name(name));
}

bool needs_escaping(std::string_view name, NameRules rules) {
    if (name.empty() || name == "." || name == "..") {
        return true;
    }
    for (std::size_t at = 0; at < name.size(); ++at) {
        if (name[at] != kEscape && escaped_at(name, at, rules)) {
            return true;
        }
    }
    return false;
}

// "clip.mp4" with 2 is "clip~2.mp4"; a name without an extension takes it at its end.
std::string numbered(const std::string& name, unsigned number) {
    const std::size_t dot = name.rfind('.');
    const std::size_t at = dot == std::string::npos || dot == 0 ? name.size() : dot;
    return name.substr(0, at) + "~" + std::to_string(number) + name.substr(at);
}

// What two local names are compared by: Windows takes "Clip.mp4" and "CLIP.MP4" for one file.
std::string taken_key(std::string name, NameRules rules) {
    if (rules == NameRules::kWindows) {
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    }
    return name;
}

}  // namespace

std::string escaped_local_name(std::string_view card_name, NameRules rules) {
    if (!needs_escaping(card_name, rules)) {
        return std::string(card_name);
    }
    if (card_name.empty()) {
        return std::string(1, kEscape);
    }
    std::string local;
    for (std::size_t at = 0; at < card_name.size(); ++at) {
        if (escaped_at(card_name, at, rules)) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%c%02X", kEscape,
                          static_cast<unsigned char>(card_name[at]));
            local += hex;
        } else {
            local += card_name[at];
        }
    }
    return local;
}

std::vector<std::string> local_names(const std::vector<std::string>& card_names, NameRules rules) {
    std::vector<std::string> local(card_names.size());
    std::vector<bool> named(card_names.size(), false);
    std::set<std::string> taken;
    // A card's own valid names first, each for the oldest file that has it.
    for (std::size_t i = 0; i < card_names.size(); ++i) {
        if (!needs_escaping(card_names[i], rules) &&
            taken.insert(taken_key(card_names[i], rules)).second) {
            local[i] = card_names[i];
            named[i] = true;
        }
    }
    // Where the numbering of each escaped name stopped (1: the name itself). A name once taken
    // stays taken, so the next copy's search goes on from there; starting again each time would
    // cost a crafted card's thousands of copies of one name minutes at every listing.
    std::map<std::string, unsigned> last_number;
    for (std::size_t i = 0; i < card_names.size(); ++i) {
        if (named[i]) {
            continue;
        }
        const std::string escaped = escaped_local_name(card_names[i], rules);
        unsigned& number = last_number.try_emplace(taken_key(escaped, rules), 1).first->second;
        std::string candidate = number == 1 ? escaped : numbered(escaped, number);
        while (!taken.insert(taken_key(candidate, rules)).second) {
            candidate = numbered(escaped, ++number);
        }
        local[i] = candidate;
    }
    return local;
}

}  // namespace lyfs::tool
