// Reproducible file contents for tests: the same seed always gives the same
// bytes, and no byte is 0, so zeros read back stand out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lyfs::test {

inline std::vector<std::uint8_t> pattern(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16 | 1);
    }
    return bytes;
}

}  // namespace lyfs::test
