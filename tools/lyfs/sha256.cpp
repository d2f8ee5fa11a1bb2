#include "sha256.h"

#include <algorithm>
#include <bit>

namespace lyfs::tool {
namespace {

constexpr std::array<std::uint32_t, 64> kRoundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

std::uint32_t big_endian_u32(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
           std::uint32_t{bytes[2]} << 8 | bytes[3];
}

}  // namespace

void Sha256::compress(const std::uint8_t* block) {
    std::array<std::uint32_t, 64> w{};
    for (std::size_t t = 0; t < 16; ++t) {
        w[t] = big_endian_u32(block + 4 * t);
    }
    for (std::size_t t = 16; t < 64; ++t) {
        const std::uint32_t s0 =
            std::rotr(w[t - 15], 7) ^ std::rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
        const std::uint32_t s1 =
            std::rotr(w[t - 2], 17) ^ std::rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
        w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    auto [a, b, c, d, e, f, g, h] = state_;
    for (std::size_t t = 0; t < 64; ++t) {
        const std::uint32_t sum1 = std::rotr(e, 6) ^ std::rotr(e, 11) ^ std::rotr(e, 25);
        const std::uint32_t choice = (e & f) ^ (~e & g);
        const std::uint32_t t1 = h + sum1 + choice + kRoundConstants[t] + w[t];
        const std::uint32_t sum0 = std::rotr(a, 2) ^ std::rotr(a, 13) ^ std::rotr(a, 22);
        const std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
        const std::uint32_t t2 = sum0 + majority;
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    const std::array<std::uint32_t, 8> worked = {a, b, c, d, e, f, g, h};
    for (std::size_t k = 0; k < 8; ++k) {
        state_[k] += worked[k];
    }
}

void Sha256::update(std::span<const std::uint8_t> bytes) {
    length_ += bytes.size();
    if (held_ != 0) {
        const std::size_t taken = std::min(bytes.size(), block_.size() - held_);
        std::copy_n(bytes.begin(), taken, block_.begin() + static_cast<std::ptrdiff_t>(held_));
        held_ += taken;
        bytes = bytes.subspan(taken);
        if (held_ < block_.size()) {
            return;
        }
        compress(block_.data());
        held_ = 0;
    }
    // Whole blocks straight from the caller's bytes: a card is hashed gigabytes at a time.
    while (bytes.size() >= block_.size()) {
        compress(bytes.data());
        bytes = bytes.subspan(block_.size());
    }
    std::copy(bytes.begin(), bytes.end(), block_.begin());
    held_ = bytes.size();
}

Sha256::Digest Sha256::finish() {
    const std::uint64_t bits = length_ * 8;
    // A one bit, zeros up to 56 bytes into a block, then the length in bits, big-endian.
    std::array<std::uint8_t, 72> padding{};
    padding[0] = 0x80;
    const std::size_t zeros = (held_ < 56 ? 56 : 120) - held_;
    for (std::size_t k = 0; k < 8; ++k) {
        padding[zeros + k] = static_cast<std::uint8_t>(bits >> (56 - 8 * k));
    }
    update(std::span(padding.data(), zeros + 8));
    Digest digest{};
    for (std::size_t k = 0; k < 8; ++k) {
        for (std::size_t byte = 0; byte < 4; ++byte) {
            digest[4 * k + byte] = static_cast<std::uint8_t>(state_[k] >> (24 - 8 * byte));
        }
    }
    return digest;
}

std::string Sha256::finish_hex() {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t byte : finish()) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

}  // namespace lyfs::tool
