#include "names.h"

#include <cstdint>
#include <cstdio>

namespace lyfs::tool {

bool is_control(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

std::size_t utf8_sequence(std::string_view text, std::uint32_t* code) {
    const auto lead = static_cast<unsigned char>(text[0]);
    const std::size_t length = lead >= 0xF0 && lead <= 0xF4   ? 4
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xC2 && lead <= 0xDF ? 2
                                                              : 0;
    if (length == 0 || length > text.size()) {
        return 0;
    }
    std::uint32_t value = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if ((c & 0xC0) != 0x80) {
            return 0;
        }
        value = value << 6 | (c & 0x3F);
    }
    const std::uint32_t shortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < shortest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    *code = value;
    return length;
}

bool is_c1_control(std::uint32_t code) {
    return code >= 0x80 && code <= 0x9F;
}

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (std::uint32_t code = 0; c >= 0x80) {
            if (const std::size_t n = utf8_sequence(text.substr(i), &code);
                n != 0 && !is_c1_control(code)) {
                out.append(text.substr(i, n));
                i += n;
                continue;
            }
        }
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (is_control(c) || c >= 0x80) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    return out;
}

std::string unfit_card_name(std::string_view name) {
    constexpr std::string_view kRule =
        "names are 9 to 39 printable ASCII characters without / \\ : * ? \" < > |";
    const std::string quoted = "file name \"" + printable(name) + "\"";
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80 || is_control(byte)) {
            char shown[5];
            std::snprintf(shown, sizeof shown, "0x%02X", byte);
            return quoted + " holds " +
                   (byte >= 0x80 ? "a byte that is not ASCII (" + std::string(shown) +
                                       "), which other hosts cannot read back: "
                                 : "a control character (" + std::string(shown) + "): ") +
                   std::string(kRule);
        }
        if (std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos) {
            return quoted + " holds '" + std::string(1, c) +
                   "', which some hosts cannot open: " + std::string(kRule);
        }
    }
    if (name.size() < kShortestFileName || name.size() > kLongestFileName) {
        return quoted + " has " + std::to_string(name.size()) +
               " characters; the card takes names of 9 to 39";
    }
    if (name.back() == ' ' || name.back() == '.') {
        return quoted + " ends with " + (name.back() == ' ' ? "a space" : "a dot") +
               ", which Windows cannot open";
    }
    return {};
}

}  // namespace lyfs::tool
