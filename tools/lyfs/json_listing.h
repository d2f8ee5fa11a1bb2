// The JSON documents of info, ls and check: every figure their text shows, under field names
// that stay, for scripts. Sizes are in bytes, times ISO 8601 as recorded, names as on the card
// (json.h says how any byte is written) with the local name beside them.
#pragma once

#include <string>

#include "card_checker.h"
#include "card_inventory.h"
#include "json.h"
#include "listing.h"

namespace lyfs::tool {

// "folders", "damaged" and "unusable_folders", for the documents of ls and info.
Json::Object folder_listing_members(const FolderListing& listing);

// ls DEVICE /FOLDER: the folder's files in the order asked for, with the totals.
Json files_document(const std::string& device, const InventoryFolder& folder, AgeOrder order);

// check: the problems, the counts and the notes.
Json check_document(const std::string& device, const check::Report& report);

}  // namespace lyfs::tool
