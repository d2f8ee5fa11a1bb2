// Runs the independent card checker on an in-memory card.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "card_checker.h"
#include "support/memory_device.h"

namespace lyfs::test {

inline check::Report check_memory_card(const MemoryDevice& card) {
    struct Reader : check::SectorReader {
        const MemoryDevice& card;
        explicit Reader(const MemoryDevice& c) : card(c) {}
        bool read(std::uint32_t lba, std::uint8_t* out512) override {
            return card.read(std::uint64_t{lba} * 512, out512, 512) == 512;
        }
        std::uint64_t sector_count() const override { return card.size() / 512; }
    } reader(card);
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

// Expects the checker to find no problem on the card but those of the `tolerated` kinds.
inline void expect_only_problems(const MemoryDevice& card,
                                 const std::set<check::ProblemKind>& tolerated) {
    for (const auto& problem : check_memory_card(card).problems) {
        EXPECT_TRUE(tolerated.count(problem.kind) != 0) << problem.what;
    }
}

}  // namespace lyfs::test
