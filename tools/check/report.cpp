#include <algorithm>
#include <cstdio>
#include <limits>

#include "check_support.h"

namespace lyfs::check {

namespace {

// Enough to show what is wrong without letting a card of garbage fill the memory.
constexpr std::size_t kMaxListedPerKind = 100;

}  // namespace

std::string_view kind_name(ProblemKind kind) {
    switch (kind) {
        case ProblemKind::ReadError:
            return "read error";
        case ProblemKind::PartitionTable:
            return "partition table";
        case ProblemKind::BootSector:
            return "boot sector";
        case ProblemKind::FsInfo:
            return "fsinfo";
        case ProblemKind::FolderRecord:
            return "folder record";
        case ProblemKind::RegionTiling:
            return "region tiling";
        case ProblemKind::FileEntryArea:
            return "file-entry area";
        case ProblemKind::FatTooLarge:
            return "fat too large";
        case ProblemKind::FatHeader:
            return "fat header";
        case ProblemKind::FileEntryChain:
            return "file-entry chain";
        case ProblemKind::BadAttribute:
            return "bad attribute";
        case ProblemKind::ChainLeavesFolder:
            return "chain leaves folder";
        case ProblemKind::InvalidLink:
            return "invalid link";
        case ProblemKind::Loop:
            return "loop";
        case ProblemKind::SharedCluster:
            return "shared cluster";
        case ProblemKind::ShortChain:
            return "short chain";
        case ProblemKind::LostCluster:
            return "lost cluster";
        case ProblemKind::CheckAborted:
            return "check aborted";
    }
    return "unknown";
}

std::size_t Report::count(ProblemKind kind) const {
    return static_cast<std::size_t>(std::count_if(
        problems.begin(), problems.end(), [kind](const Problem& p) { return p.kind == kind; }));
}

std::size_t Report::committed_files() const {
    return static_cast<std::size_t>(std::count_if(
        files.begin(), files.end(), [](const FileSummary& f) { return f.committed(); }));
}

bool CheckContext::read_sector(std::uint64_t lba, Sector& out) {
    if (lba <= std::numeric_limits<std::uint32_t>::max() &&
        reader_.read(static_cast<std::uint32_t>(lba), out.data())) {
        return true;
    }
    problem(ProblemKind::ReadError, "sector " + std::to_string(lba));
    return false;
}

void CheckContext::problem(ProblemKind kind, const std::string& detail) {
    std::size_t& listed = listed_[static_cast<std::size_t>(kind)];
    if (listed >= kMaxListedPerKind) {
        ++report_.unlisted_problems;
        return;
    }
    ++listed;
    report_.problems.push_back({kind, std::string(kind_name(kind)) + ": " + detail});
}

std::string hex(std::uint32_t value, int digits) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

std::string printable(const std::uint8_t* bytes, std::size_t length) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        const bool visible = bytes[i] >= 0x20 && bytes[i] < 0x7F;
        text += visible ? static_cast<char>(bytes[i]) : '?';
    }
    return text;
}

}  // namespace lyfs::check
