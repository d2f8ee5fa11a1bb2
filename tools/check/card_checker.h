// A read-only consistency checker for cards of this file system.
//
// It decodes the on-card layout on its own, without any of the library's code, so that tests
// can use it as a second opinion on what the library wrote. It never writes, and it copes with
// arbitrary bytes: every walk is bounded and every number read from the card is range-checked
// before it is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lyfs::check {

// Source of 512-byte sectors: an in-memory image in tests, a file or block device otherwise.
struct SectorReader {
    virtual ~SectorReader() = default;
    // Reads sector `lba` into `out512`; false when it cannot be read.
    virtual bool read(std::uint32_t lba, std::uint8_t* out512) = 0;
    virtual std::uint64_t sector_count() const = 0;
};

// Reads a card image file or a block device, opened read-only.
class FileSectorReader : public SectorReader {
public:
    explicit FileSectorReader(const std::string& path);
    ~FileSectorReader() override;
    FileSectorReader(const FileSectorReader&) = delete;
    FileSectorReader& operator=(const FileSectorReader&) = delete;

    bool is_open() const { return fd_ >= 0; }
    bool read(std::uint32_t lba, std::uint8_t* out512) override;
    std::uint64_t sector_count() const override { return sectors_; }

private:
    int fd_ = -1;
    std::uint64_t sectors_ = 0;
};

// What kind of fault a problem is. Each kind's line starts with kind_name(kind) and ": ", so
// tests can accept a precise set of kinds (for example what an interrupted write may leave).
enum class ProblemKind {
    ReadError,          // "read error"
    PartitionTable,     // "partition table"
    BootSector,         // "boot sector"
    FsInfo,             // "fsinfo"
    FolderRecord,       // "folder record": folder count invalid or unlike the root directory
    RegionTiling,       // "region tiling"
    FileEntryArea,      // "file-entry area": entry area not smaller than its region, or too big
    FatTooLarge,        // "fat too large"
    FatHeader,          // "fat header": entries 0, 1, 2
    FileEntryChain,     // "file-entry chain"
    BadAttribute,       // "bad attribute"
    ChainLeavesFolder,  // "chain leaves folder"
    InvalidLink,        // "invalid link": reserved or bad value, or a committed chain without end
    Loop,               // "loop"
    SharedCluster,      // "shared cluster"
    ShortChain,         // "short chain"
    LostCluster,        // "lost cluster"
    CheckAborted,       // "check aborted": the checker itself failed (out of memory, reader threw)
};

std::string_view kind_name(ProblemKind kind);

struct Problem {
    ProblemKind kind;
    std::string what;  // one human-readable line, starting with kind_name(kind)
};

struct FolderSummary {
    std::string name;
    std::uint32_t start_cluster = 0;
    std::uint32_t cluster_count = 0;
    std::uint32_t max_file_num = 0;
};

struct FileSummary {
    std::string folder;
    std::string name;
    std::uint32_t slot = 0;  // index in the folder's file-entry area
    std::uint32_t start_cluster = 0;
    std::uint32_t size = 0;            // 0 while the file is not committed
    std::uint32_t chain_clusters = 0;  // clusters of its chain that belong to it alone
    // Why a committed file's chain ends before its size ("cluster 7 holds 0x0FFFFFF7"), and
    // the bytes it reaches until then; empty when it reaches them all (or is not committed).
    std::string damage;
    std::uint64_t readable_bytes = 0;
    bool committed() const { return size != 0; }
};

struct Report {
    std::vector<Problem> problems;  // at most a hundred of each kind; the rest only counted
    std::size_t unlisted_problems = 0;
    std::vector<std::string> notes;      // geometry, folders and totals, for people reading the log
    std::vector<FolderSummary> folders;  // empty when the folder record is not to be trusted
    std::vector<FileSummary> files;
    std::uint32_t used_clusters = 0;  // content clusters reached by some file's chain
    std::uint32_t lost_clusters = 0;  // content clusters in use that no chain reaches
    // One past the last sector of slot 1, when slot 1 holds this file system's type; 0 when not.
    std::uint64_t partition_end = 0;
    bool formatted = false;  // the boot sector of slot 1 names this file system

    bool clean() const { return problems.empty(); }
    std::size_t count(ProblemKind kind) const;
    std::size_t committed_files() const;
};

// Checks the file system of partition slot 1. Never throws.
Report check_card(SectorReader& reader);

// Checks what a few sectors tell: the partition table, the boot sector, the folder record and
// the folders' regions; neither the FAT nor any file. Enough to say why a card does not mount,
// or why a folder cannot be used. Never throws.
Report check_volume(SectorReader& reader);

}  // namespace lyfs::check
