// Every file of a card's folders as the library lists it, with when it was recorded and the
// checker's reading of its record: what the outputs for evidence and scripts tell of each.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "card.h"
#include "file_records.h"

namespace lyfs::tool {

struct InventoryFile {
    ListedFile listed;
    std::optional<lyfs_file_time> recorded;      // none when the record holds no valid date
    const check::FileSummary* record = nullptr;  // none when no record answers (file_records.h)
};

struct InventoryFolder {
    std::string name;                  // as on the card
    std::string local_name;            // as copied to this computer (local_names.h)
    std::vector<InventoryFile> files;  // oldest first
};

class CardInventory {
public:
    // Every folder of the card, or only `only_folder` when it is not empty (which fails with
    // the card's folder names when there is no such folder).
    explicit CardInventory(Card& card, const std::string& only_folder = "");
    CardInventory(const CardInventory&) = delete;
    CardInventory& operator=(const CardInventory&) = delete;

    const FileRecords& records() const { return records_; }
    const std::vector<InventoryFolder>& folders() const { return folders_; }

private:
    FileRecords records_;
    std::vector<InventoryFolder> folders_;
};

}  // namespace lyfs::tool
