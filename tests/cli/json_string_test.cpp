// No name from a card breaks a JSON document, and every byte of it can be had back.
#include <gtest/gtest.h>

#include "json.h"

namespace lyfs::tool {
namespace {

TEST(JsonString, EscapesWhatJsonOrATerminalCannotTakeAndKeepsUtf8) {
    const std::pair<std::string, std::string> cases[] = {
        {"clip \"1\" \\ a.mp4", R"("clip \"1\" \\ a.mp4")"},
        {"\n\t\x1B\x7F", R"("\n\t\u001b\u007f")"},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xA5",
         "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xA5\""},
        // C1 controls are UTF-8 that terminals obey; stray, cut or overlong bytes are no UTF-8.
        {"\xC2\x9B"
         "2J",
         R"("\u009b2J")"},
        {"caf\xE9", R"("caf\udce9")"},
        {"\xE2\x82", R"("\udce2\udc82")"},
        {"\xC0\xAF", R"("\udcc0\udcaf")"},
        {"\xED\xA0\x80", R"("\udced\udca0\udc80")"},
    };
    for (const auto& [text, json] : cases) {
        EXPECT_EQ(json_string(text), json);
    }
}

}  // namespace
}  // namespace lyfs::tool
