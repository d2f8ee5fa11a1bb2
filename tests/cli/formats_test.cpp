// The tool's own formats on their own. No name from a card breaks a JSON document, and every
// byte of it can be had back. The SHA-256 agrees with sha256sum, fed whole and in pieces that
// end anywhere within a block, at the lengths where its padding spills into another block and
// at a long one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

#include "image_edits.h"
#include "json.h"
#include "sha256.h"
#include "units.h"

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
        {"\xF8\x80\x80", R"("\udcf8\udc80\udc80")"},
    };
    for (const auto& [text, json] : cases) {
        EXPECT_EQ(json_string(text), json);
    }
}

// Sizes and lengths of time as typed: units in any case, and whatever does not fit 64 bits
// refused rather than wrapped.
TEST(Units, ParseWhatPeopleTypeAndRefuseTheRest) {
    using Size = std::optional<std::uint64_t>;
    EXPECT_EQ(parse_size("300"), Size(300));
    EXPECT_EQ(parse_size("2kib"), Size(2048));
    EXPECT_EQ(parse_size("1g"), Size(1ull << 30));
    EXPECT_EQ(parse_size("16777216T"), std::nullopt);
    EXPECT_EQ(parse_size("16777215t"), Size(16777215ull << 40));
    for (const char* bad : {"", "M", "5Q", "5MX", "5MiBB", "5KiX", "-1"}) {
        EXPECT_EQ(parse_size(bad), std::nullopt) << bad;
    }
    using Seconds = std::optional<std::int64_t>;
    EXPECT_EQ(parse_duration("1d2H3m4s"), Seconds(93784));
    EXPECT_EQ(parse_duration("90"), Seconds(90));
    EXPECT_EQ(parse_duration("106751991167301d"), std::nullopt);
    for (const char* bad : {"", "m", "5w", "-5m", "5m-"}) {
        EXPECT_EQ(parse_duration(bad), std::nullopt) << bad;
    }
    EXPECT_EQ(format_duration(93784), "1d 2h 3m 4s");
    EXPECT_EQ(format_duration(0), "0s");
    EXPECT_EQ(format_size(1023), "1023 B");
    EXPECT_EQ(format_size(3ull << 60), "3072.0 PiB");
}

TEST(Sha256, AgreesWithSha256sumAroundEveryBlockEnd) {
    const std::string path = ::testing::TempDir() + "sha256_sample.bin";
    for (const std::size_t length : {0, 3, 55, 56, 57, 63, 64, 65, 119, 120, 128, 1'000'000}) {
        const auto bytes = cli_test::sample_bytes(length, length);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(length));
        std::FILE* pipe = ::popen(("sha256sum " + path).c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char printed[65] = "";
        ASSERT_EQ(std::fread(printed, 1, 64, pipe), 64u);
        ::pclose(pipe);
        for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{63}, length}) {
            Sha256 hash;
            for (std::size_t at = 0; at < length; at += piece) {
                hash.update(std::span(bytes.data() + at, std::min(piece, length - at)));
            }
            EXPECT_EQ(hash.finish_hex(), printed) << length << " bytes in pieces of " << piece;
        }
    }
}

}  // namespace
}  // namespace lyfs::tool
