// JSON documents for scripts: values built in one expression and written as one document.
#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace lyfs::tool {

class Json {
public:
    struct Member;
    using Array = std::vector<Json>;
    using Object = std::vector<Member>;  // members keep the order they are given in

    // Defined below, once Member is complete: clang instantiates the destructor of `value_`
    // in every constructor, and that needs every alternative complete.
    Json();
    Json(std::nullptr_t);
    Json(bool value);
    template <std::integral Number>
    requires(!std::same_as<Number, bool>) Json(Number value);
    Json(std::string text);
    Json(std::string_view text);
    Json(const char* text);
    template <typename Value>
    Json(const std::optional<Value>& value);
    Json(Array items);

    static Json object(Object members);

    // The document, indented, ending in a line end.
    std::string text() const;

private:
    void write(std::string& out, int depth) const;

    std::variant<std::nullptr_t, bool, std::int64_t, std::uint64_t, std::string, Array, Object>
        value_;
};

struct Json::Member {
    std::string key;
    Json value;
};

inline Json::Json() : value_(nullptr) {}
inline Json::Json(std::nullptr_t) : value_(nullptr) {}
inline Json::Json(bool value) : value_(value) {}
inline Json::Json(std::string text) : value_(std::move(text)) {}
inline Json::Json(std::string_view text) : value_(std::string(text)) {}
inline Json::Json(const char* text) : value_(std::string(text)) {}
inline Json::Json(Array items) : value_(std::move(items)) {}

template <std::integral Number>
requires(!std::same_as<Number, bool>) Json::Json(Number value) {
    if constexpr (std::signed_integral<Number>) {
        value_ = static_cast<std::int64_t>(value);
    } else {
        value_ = static_cast<std::uint64_t>(value);
    }
}

template <typename Value>
Json::Json(const std::optional<Value>& value) : Json() {
    if (value) {
        *this = Json(*value);
    }
}

// `text` as a JSON string, quotes included. Card names are any bytes: UTF-8 passes as it is;
// control characters (C1 ones too, and DEL) are written as \uXXXX; a byte that is not part of
// well-formed UTF-8 is written as the lone surrogate \uDC80 to \uDCFF that stands for it, as
// Python's "surrogateescape" reads and writes it, so that no name breaks the document and every
// byte of it can be had back.
std::string json_string(std::string_view text);

}  // namespace lyfs::tool
