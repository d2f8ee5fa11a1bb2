// Fills card images with many files quickly, through the library itself:
// the device is flushed once at the end instead of twice per file, and data
// pieces of zeros are not written to the sparse image, where they read back
// as the very same zeros. The card is byte for byte what the library makes.
#pragma once

#include <cstdint>
#include <string>

#include "lyfs/lyfs.h"

namespace lyfs::bench {

class CardBuilder {
public:
    explicit CardBuilder(const std::string& path);  // the card is prepared already
    ~CardBuilder();
    CardBuilder(const CardBuilder&) = delete;
    CardBuilder& operator=(const CardBuilder&) = delete;

    // Writes a file of `clusters` whole clusters (zeros) and closes it.
    void add_file(const char* folder, const std::string& name, std::uint32_t clusters);
    std::uint64_t free_space(const char* folder);

private:
    std::string path_;
    dev_desc desc_{};
};

}  // namespace lyfs::bench
