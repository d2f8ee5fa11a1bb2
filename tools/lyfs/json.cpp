#include "json.h"

#include <cstdio>

#include "names.h"

namespace lyfs::tool {
namespace {

constexpr int kIndent = 2;

std::string unicode_escape(std::uint32_t code) {
    char text[7];
    std::snprintf(text, sizeof text, "\\u%04x", static_cast<unsigned>(code));
    return text;
}

void new_line(std::string& out, int depth) {
    out += '\n';
    out.append(static_cast<std::size_t>(depth * kIndent), ' ');
}

}  // namespace

Json Json::object(Object members) {
    Json json;
    json.value_ = std::move(members);
    return json;
}

std::string Json::text() const {
    std::string out;
    write(out, 0);
    return out + "\n";
}

void Json::write(std::string& out, int depth) const {
    if (std::holds_alternative<std::nullptr_t>(value_)) {
        out += "null";
    } else if (const bool* flag = std::get_if<bool>(&value_)) {
        out += *flag ? "true" : "false";
    } else if (const std::int64_t* number = std::get_if<std::int64_t>(&value_)) {
        out += std::to_string(*number);
    } else if (const std::uint64_t* count = std::get_if<std::uint64_t>(&value_)) {
        out += std::to_string(*count);
    } else if (const std::string* text = std::get_if<std::string>(&value_)) {
        out += json_string(*text);
    } else if (const Array* items = std::get_if<Array>(&value_)) {
        out += '[';
        for (std::size_t k = 0; k < items->size(); ++k) {
            out += k == 0 ? "" : ",";
            new_line(out, depth + 1);
            (*items)[k].write(out, depth + 1);
        }
        if (!items->empty()) {
            new_line(out, depth);
        }
        out += ']';
    } else {
        const Object& members = std::get<Object>(value_);
        out += '{';
        for (std::size_t k = 0; k < members.size(); ++k) {
            out += k == 0 ? "" : ",";
            new_line(out, depth + 1);
            out += json_string(members[k].key) + ": ";
            members[k].value.write(out, depth + 1);
        }
        if (!members.empty()) {
            new_line(out, depth);
        }
        out += '}';
    }
}

std::string json_string(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (std::uint32_t code = 0; c >= 0x80) {
            const std::size_t n = utf8_sequence(text.substr(i), &code);
            out += n == 0                ? unicode_escape(0xDC00 + c)
                   : is_c1_control(code) ? unicode_escape(code)
                                         : std::string(text.substr(i, n));
            i += n == 0 ? 1 : n;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (is_control(c)) {
            out += unicode_escape(c);
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    return out + "\"";
}

}  // namespace lyfs::tool
