// What a card holds, for people to read: tables of folders and files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "card.h"
#include "card_inventory.h"
#include "diagnosis.h"
#include "file_records.h"

namespace lyfs::tool {

struct FolderRow {
    std::string name;
    std::string local_name;  // as copied to this computer (local_names.h)
    FolderUsage usage;       // files counted
    std::uint64_t reserve_bytes = 0;
    // The layout's MAXFILES raised to whole clusters of records; the oldest files are reclaimed
    // when 10 or fewer are left.
    std::uint64_t slots = 0;
};

// The card's folders in card order.
std::vector<FolderRow> folder_rows(Card& card);

// What ls and info tell of a card's folders.
struct FolderListing {
    explicit FolderListing(Card& card);

    std::vector<FolderRow> rows;
    FileRecords records;
    std::vector<LeftOutFolder> left_out;  // folders the card lists that cannot be used
};

// One line per folder under a header: size, free space, the reserve the library keeps free,
// file-entry slots and files.
std::string folder_table(const std::vector<FolderRow>& rows);

// The folder table and the damaged recordings; then a warning on stderr for each folder the
// card lists that cannot be used.
void print_folders(const FolderListing& listing);

// One bar per folder: used and free space, and where the reserve starts that makes the library
// reclaim the oldest files. In colour when stdout is a terminal.
void print_space_bars(const std::vector<FolderRow>& rows);

// One line per file in age order with its size and record time, then the count and the total.
void print_files(const InventoryFolder& folder, AgeOrder order);

// A folder's files in the order asked for.
std::vector<const InventoryFile*> in_order(const InventoryFolder& folder, AgeOrder order);

}  // namespace lyfs::tool
