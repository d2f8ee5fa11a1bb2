#include "layout.h"

#include <charconv>
#include <cstring>
#include <vector>

namespace lyfs::tool {
namespace {

constexpr std::size_t kMaxFolders = 9;
constexpr std::size_t kMaxNameLength = 8;
constexpr std::uint64_t kAllPercent = 100;
constexpr std::uint8_t kFolderAttribute = 0x10;  // a directory, as FAT readers expect

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = text.find(separator, from);
        parts.push_back(text.substr(from, at - from));
        if (at == std::string_view::npos) {
            return parts;
        }
        from = at + 1;
    }
}

template <typename Number>
bool parse_number(std::string_view text, Number& out) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc{} && end == text.data() + text.size() && !text.empty();
}

// Root folders are FAT short names: upper case keeps every reader, and the library's
// case-sensitive lookups, agreeing on them.
bool is_folder_name_character(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

std::string check_name(std::string_view name) {
    if (name.empty()) {
        return "the folder name is empty";
    }
    if (name.size() > kMaxNameLength) {
        return "folder name \"" + std::string(name) + "\" is longer than 8 characters";
    }
    for (char c : name) {
        if (!is_folder_name_character(c)) {
            return "folder name \"" + std::string(name) +
                   "\" may only hold upper-case letters, digits, '_' and '-'";
        }
    }
    return {};
}

// Fills one folder of the table from NAME:PERCENT:MAXFILES, or says what is wrong with it.
std::string parse_folder(std::string_view entry, stFOLDER_SPEC& spec) {
    const auto fields = split(entry, ':');
    if (fields.size() != 3) {
        return "expected NAME:PERCENT:MAXFILES";
    }
    if (std::string error = check_name(fields[0]); !error.empty()) {
        return error;
    }
    std::memcpy(spec.name, fields[0].data(), fields[0].size());
    // Parsed into locals: the record is packed, its fields cannot be bound to references.
    std::uint64_t share = 0;
    if (!parse_number(fields[1], share) || share > kAllPercent) {
        return "the share \"" + std::string(fields[1]) + "\" is not a percentage from 0 to 100";
    }
    std::uint32_t max_files = 0;
    if (!parse_number(fields[2], max_files) || max_files == 0) {
        return "the maximum number of files \"" + std::string(fields[2]) +
               "\" is not a whole number of at least 1";
    }
    spec.share_percent = share;
    spec.max_file_num = max_files;
    spec.fold_type = kFolderAttribute;
    return {};
}

}  // namespace

ParsedLayout parse_layout(std::string_view text) {
    ParsedLayout result;
    const auto entries = split(text, ',');
    if (entries.size() > kMaxFolders) {
        result.error =
            "a card holds at most 9 folders, the layout names " + std::to_string(entries.size());
        return result;
    }
    std::uint64_t shares = 0;
    for (std::size_t k = 0; k < entries.size(); ++k) {
        stFOLDER_SPEC& spec = result.table.folders[k];
        if (entries[k].empty()) {
            result.error = "the layout has an empty entry: folders are separated by one comma";
            return result;
        }
        if (std::string error = parse_folder(entries[k], spec); !error.empty()) {
            result.error = "in \"" + std::string(entries[k]) + "\": " + error;
            return result;
        }
        for (std::size_t earlier = 0; earlier < k; ++earlier) {
            if (std::strcmp(result.table.folders[earlier].name, spec.name) == 0) {
                result.error = "folder " + std::string(spec.name) + " is named twice";
                return result;
            }
        }
        if (k + 1 < entries.size()) {
            shares += spec.share_percent;
        }
    }
    if (shares > kAllPercent) {
        result.error = "the shares of the folders before the last add up to " +
                       std::to_string(shares) + " %, more than 100 %";
        return result;
    }
    result.table.count = static_cast<std::uint8_t>(entries.size());
    return result;
}

std::string describe_layout(const lyfs_folder_table& table) {
    std::string text;
    for (unsigned k = 0; k < table.count; ++k) {
        const stFOLDER_SPEC& spec = table.folders[k];
        if (k != 0) {
            text += ", ";
        }
        text += spec.name;
        text +=
            k + 1 == table.count ? " the rest" : " " + std::to_string(spec.share_percent) + " %";
        text += " (" + std::to_string(spec.max_file_num) + " files)";
    }
    return text;
}

}  // namespace lyfs::tool
