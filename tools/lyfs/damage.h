// Recordings whose cluster chain ends before their size, as the independent checker reads the
// card: the library reads such a file only up to the break, so a copy of it cannot be whole.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "card_checker.h"

namespace lyfs::tool {

class DamagedFiles {
public:
    // Reads the device (for reading only: it never writes).
    explicit DamagedFiles(const std::string& device);

    // The damage of the file of `folder` with that card name and recorded size, or null. The
    // library lists nothing else that tells files apart, so of two files with the same name
    // and size, both count as damaged when one is.
    const check::FileSummary* find(const std::string& folder, const std::string& name,
                                   std::uint64_t size) const;
    const std::vector<check::FileSummary>& all() const { return damaged_; }

private:
    std::vector<check::FileSummary> damaged_;
};

// "only its first 131072 of 393216 bytes can be read (cluster 7 holds 0x0FFFFFF7)"
std::string damage_words(const check::FileSummary& file);

}  // namespace lyfs::tool
