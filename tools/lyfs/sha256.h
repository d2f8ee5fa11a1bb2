// SHA-256 (FIPS 180-4), for the hashes that prove a copy is what the card held.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace lyfs::tool {

class Sha256 {
public:
    using Digest = std::array<std::uint8_t, 32>;

    void update(std::span<const std::uint8_t> bytes);
    // The digest of every byte given; the hash is spent afterwards.
    Digest finish();
    // finish() as 64 lower-case hex digits, as sha256sum prints it.
    std::string finish_hex();

private:
    void compress(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state_ = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                           0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::array<std::uint8_t, 64> block_{};
    std::size_t held_ = 0;  // bytes of block_ filled
    std::uint64_t length_ = 0;
};

}  // namespace lyfs::tool
