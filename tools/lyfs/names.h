// Names read from a card are data from outside: a crafted card can hold any bytes in them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace lyfs::tool {

// The library takes file names of 9 to 39 characters.
inline constexpr std::size_t kShortestFileName = 9;
inline constexpr std::size_t kLongestFileName = 39;

// ASCII's control characters, DEL included.
bool is_control(unsigned char c);
// The C1 controls, U+0080 to U+009F: some terminals obey them as they obey ESC.
bool is_c1_control(std::uint32_t code);

// The length of the well-formed UTF-8 sequence at the start of `text` (not empty), with the
// character it encodes in `*code`; 0 when the bytes there are not one.
std::size_t utf8_sequence(std::string_view text, std::uint32_t* code);

// The text with control characters and bytes that are not printable UTF-8 escaped (\n, \t,
// \xHH), so that what is printed cannot drive the terminal.
std::string printable(std::string_view text);

// Why a name cannot be given to a file on the card, naming the rule it breaks: the card
// takes 9 to 39 printable ASCII characters, none of / \ : * ? " < > |, not ending in a space
// or a dot (what every host can open). Empty when it can.
std::string unfit_card_name(std::string_view name);

}  // namespace lyfs::tool
