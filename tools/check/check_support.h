// What the checking steps share: the reader, the report they fill, and a bound on how many
// problems of one kind are listed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "card_checker.h"
#include "layout.h"

namespace lyfs::check {

inline constexpr std::size_t kProblemKinds =
    static_cast<std::size_t>(ProblemKind::CheckAborted) + 1;

class CheckContext {
public:
    CheckContext(SectorReader& reader, Report& report) : reader_(reader), report_(report) {}

    Report& report() { return report_; }
    std::uint64_t sector_count() const { return reader_.sector_count(); }

    // Reads one device sector; a failure is recorded as a problem.
    bool read_sector(std::uint64_t lba, Sector& out);

    // Records "<kind name>: <detail>". A card of garbage can yield a problem per slot, so
    // beyond a hundred of one kind they are only counted.
    void problem(ProblemKind kind, const std::string& detail);

    void note(std::string line) { report_.notes.push_back(std::move(line)); }

private:
    SectorReader& reader_;
    Report& report_;
    std::array<std::size_t, kProblemKinds> listed_{};
};

// "0x" and `digits` upper-case hex digits.
std::string hex(std::uint32_t value, int digits = 8);

// Bytes from the card as text that is safe to print.
std::string printable(const std::uint8_t* bytes, std::size_t length);

}  // namespace lyfs::check
