// Each file's record as the independent checker reads it from the card, beside the file the
// library lists: the checker knows what the library does not tell (the record's slot, whether
// the file was ever committed, and where a cluster chain ends before the file's size).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "card.h"
#include "card_checker.h"

namespace lyfs::tool {

class FileRecords {
public:
    // Reads the device (for reading only: it never writes).
    explicit FileRecords(const std::string& device);

    const check::Report& report() const { return report_; }

    // The record of a file of `folder` with that card name and the size the library gives
    // (for a file never committed, which the checker reads as size 0, its recovered size), or
    // null. The library lists nothing else that tells files apart: of two files with the same
    // name and size, the first record answers.
    const check::FileSummary* find(const std::string& folder, const std::string& name,
                                   std::uint64_t size) const;
    // The record of each of a folder's listed files, in their order, each record answering
    // one file only: the committed records of the same name and size first, then the records
    // of the same name never committed. Null for a file no record answers.
    std::vector<const check::FileSummary*> match(const std::string& folder,
                                                 const std::vector<ListedFile>& files) const;
    // The committed files whose cluster chain ends before their size.
    std::vector<const check::FileSummary*> damaged() const;

private:
    check::Report report_;
};

// "only its first 131072 of 393216 bytes can be read (cluster 7 holds 0x0FFFFFF7)"
std::string damage_words(const check::FileSummary& file);

}  // namespace lyfs::tool
