// The tool's SHA-256 against the standard's test vectors and against sha256sum, fed whole and
// in pieces that end anywhere within a block.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "image_edits.h"
#include "sha256.h"

namespace lyfs::tool {
namespace {

std::string hash_of(const std::string& bytes, std::size_t piece) {
    Sha256 hash;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        const std::size_t length = std::min(piece, bytes.size() - at);
        hash.update(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data() + at), length));
    }
    return hash.finish_hex();
}

TEST(Sha256, GivesTheStandardsTestVectors) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnop"
         "qrlmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1'000'000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& [message, digest] : vectors) {
        EXPECT_EQ(hash_of(message, message.size() + 1), digest) << message.size() << " bytes";
        EXPECT_EQ(hash_of(message, 7), digest) << message.size() << " bytes in pieces";
    }
}

TEST(Sha256, AgreesWithSha256sumAroundEveryBlockEnd) {
    const std::string path = ::testing::TempDir() + "sha256_sample.bin";
    for (const std::size_t length : {1, 55, 56, 57, 63, 64, 65, 119, 120, 128, 4099, 100'000}) {
        const auto sample = cli_test::sample_bytes(length, static_cast<unsigned>(length));
        const std::string bytes(sample.begin(), sample.end());
        std::ofstream(path, std::ios::binary) << bytes;
        std::FILE* pipe = ::popen(("sha256sum " + path).c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char printed[65] = "";
        ASSERT_EQ(std::fread(printed, 1, 64, pipe), 64u);
        ::pclose(pipe);
        for (const std::size_t piece : {std::size_t{1}, std::size_t{63}, length}) {
            EXPECT_EQ(hash_of(bytes, piece), printed) << length << " bytes in pieces of " << piece;
        }
    }
}

}  // namespace
}  // namespace lyfs::tool
