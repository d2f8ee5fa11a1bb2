// Runs the independent card checker on an in-memory card.
#pragma once

#include <string>

#include "card_checker.h"
#include "support/memory_device.h"

namespace lyfs::test {

class MemoryCardReader : public check::SectorReader {
public:
    explicit MemoryCardReader(const MemoryDevice& card) : card_(card) {}
    bool read(std::uint32_t lba, std::uint8_t* out512) override {
        return card_.read(static_cast<std::uint64_t>(lba) * 512, out512, 512) == 512;
    }
    std::uint64_t sector_count() const override { return card_.size() / 512; }

private:
    const MemoryDevice& card_;
};

inline check::Report check_memory_card(const MemoryDevice& card) {
    MemoryCardReader reader(card);
    return check::check_card(reader);
}

// The report's problems, one per line, for failure messages.
inline std::string problems_of(const check::Report& report) {
    std::string text;
    for (const auto& p : report.problems) {
        text += p.what + "\n";
    }
    return text;
}

}  // namespace lyfs::test
