#include "card_inventory.h"

#include "local_names.h"

namespace lyfs::tool {

CardInventory::CardInventory(Card& card, const std::string& only_folder) : records_(card.device()) {
    std::vector<std::string> names;
    if (!only_folder.empty()) {
        card.space(only_folder);  // a clear message for a folder the card does not have
        names.push_back(only_folder);
    } else {
        for (const DirInfo& info : card.folders()) {
            names.push_back(folder_name(info));
        }
    }
    // A folder's name comes from the card as much as a file's does.
    const std::vector<std::string> local = local_names(names);
    for (std::size_t k = 0; k < names.size(); ++k) {
        InventoryFolder& folder = folders_.emplace_back();
        folder.name = names[k];
        folder.local_name = local[k];
        std::vector<ListedFile> listed = card.listed_files(names[k]);
        const std::vector<const check::FileSummary*> records = records_.match(names[k], listed);
        for (std::size_t f = 0; f < listed.size(); ++f) {
            const std::optional<lyfs_file_time> recorded = card.recorded(listed[f].info);
            folder.files.push_back({std::move(listed[f]), recorded, records[f]});
        }
    }
}

}  // namespace lyfs::tool
