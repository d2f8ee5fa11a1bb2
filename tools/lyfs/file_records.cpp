#include "file_records.h"

#include <unordered_map>
#include <unordered_set>

namespace lyfs::tool {
namespace {

bool answers(const check::FileSummary& record, const std::string& folder, const std::string& name,
             std::uint64_t size, bool committed) {
    return record.committed() == committed && record.folder == folder && record.name == name &&
           (!committed || record.size == size);
}

}  // namespace

FileRecords::FileRecords(const std::string& device) {
    check::FileSectorReader reader(device);
    if (reader.is_open()) {  // what cannot be read is reported by the reads themselves
        report_ = check::check_card(reader);
    }
}

const check::FileSummary* FileRecords::find(const std::string& folder, const std::string& name,
                                            std::uint64_t size) const {
    for (const bool committed : {true, false}) {
        for (const check::FileSummary& record : report_.files) {
            if (answers(record, folder, name, size, committed)) {
                return &record;
            }
        }
    }
    return nullptr;
}

std::vector<const check::FileSummary*> FileRecords::match(
    const std::string& folder, const std::vector<ListedFile>& files) const {
    // Folders hold thousands of files: each file looks only at the records of its name.
    std::unordered_map<std::string, std::vector<const check::FileSummary*>> by_name;
    for (const check::FileSummary& record : report_.files) {
        if (record.folder == folder) {
            by_name[record.name].push_back(&record);
        }
    }
    std::vector<const check::FileSummary*> matched(files.size(), nullptr);
    std::unordered_set<const check::FileSummary*> taken;
    for (const bool committed : {true, false}) {
        for (std::size_t f = 0; f < files.size(); ++f) {
            const auto candidates = by_name.find(files[f].card_name);
            if (matched[f] != nullptr || candidates == by_name.end()) {
                continue;
            }
            for (const check::FileSummary* record : candidates->second) {
                if (!taken.contains(record) && answers(*record, folder, files[f].card_name,
                                                       files[f].info.file_size, committed)) {
                    taken.insert(record);
                    matched[f] = record;
                    break;
                }
            }
        }
    }
    return matched;
}

std::vector<const check::FileSummary*> FileRecords::damaged() const {
    std::vector<const check::FileSummary*> damaged;
    for (const check::FileSummary& record : report_.files) {
        if (!record.damage.empty()) {
            damaged.push_back(&record);
        }
    }
    return damaged;
}

std::string damage_words(const check::FileSummary& file) {
    return "only its first " + std::to_string(file.readable_bytes) + " of " +
           std::to_string(file.size) + " bytes can be read (" + file.damage + ")";
}

}  // namespace lyfs::tool
