// The FAT of slot 1's partition, held in memory for the whole check.
#pragma once

#include <optional>
#include <vector>

#include "check_support.h"

namespace lyfs::check {

enum class FatValue { Free, Link, End, Invalid };

// Classifies a value already masked to its meaningful 28 bits.
FatValue classify(std::uint32_t value);

class Fat {
public:
    explicit Fat(std::vector<std::uint32_t> entries) : entries_(std::move(entries)) {}

    // The entry of `cluster` masked to 28 bits; nothing for a cluster the FAT does not cover
    // (with the largest cluster counts the last one or two clusters have no entry).
    std::optional<std::uint32_t> value(std::uint64_t cluster) const;
    std::uint32_t raw(std::size_t index) const { return entries_[index]; }
    std::size_t size() const { return entries_.size(); }

private:
    std::vector<std::uint32_t> entries_;
};

// Nothing when the FAT cannot be read or is too large to hold (reported).
std::optional<Fat> read_fat(CheckContext& context, const Geometry& geometry);

// Entries 0 and 1 as formatted, and the root directory's single cluster.
void check_fat_header(CheckContext& context, const Fat& fat);

// Each usable folder's file-entry area is one ascending chain that ends in an end mark.
void check_entry_area_chains(CheckContext& context, const Fat& fat,
                             const std::vector<FolderLayout>& folders);

}  // namespace lyfs::check
