#include "damage.h"

namespace lyfs::tool {

DamagedFiles::DamagedFiles(const std::string& device) {
    check::FileSectorReader reader(device);
    if (!reader.is_open()) {
        return;  // what cannot be read is reported by the reads themselves
    }
    for (check::FileSummary& file : check::check_card(reader).files) {
        if (!file.damage.empty()) {
            damaged_.push_back(std::move(file));
        }
    }
}

const check::FileSummary* DamagedFiles::find(const std::string& folder, const std::string& name,
                                             std::uint64_t size) const {
    for (const check::FileSummary& file : damaged_) {
        if (file.folder == folder && file.name == name && file.size == size) {
            return &file;
        }
    }
    return nullptr;
}

std::string damage_words(const check::FileSummary& file) {
    return "only its first " + std::to_string(file.readable_bytes) + " of " +
           std::to_string(file.size) + " bytes can be read (" + file.damage + ")";
}

}  // namespace lyfs::tool
