#include "json_listing.h"

#include "record_time.h"

namespace lyfs::tool {
namespace {

Json slot_of(const check::FileSummary* record) {
    return record != nullptr ? Json(record->slot) : Json();
}

Json folder_json(const FolderRow& row) {
    return Json::object({
        {"name", row.name},
        {"local_name", row.local_name},
        {"size_bytes", row.usage.total_bytes},
        {"free_bytes", row.usage.free_bytes},
        {"reserve_bytes", row.reserve_bytes},
        {"slots", row.slots},
        {"max_files", row.usage.info.max_file_num},
        {"files", row.usage.files},
    });
}

Json damaged_json(const check::FileSummary& file) {
    return Json::object({
        {"folder", file.folder},
        {"name", file.name},
        {"slot", file.slot},
        {"size_bytes", file.size},
        {"readable_bytes", file.readable_bytes},
        {"why", file.damage},
    });
}

Json file_json(const InventoryFile& file) {
    const check::FileSummary* record = file.record;
    Json damage;
    if (record != nullptr && !record->damage.empty()) {
        damage =
            Json::object({{"readable_bytes", record->readable_bytes}, {"why", record->damage}});
    }
    std::optional<std::string> recorded;
    if (file.recorded) {
        recorded = iso_time(*file.recorded);
    }
    return Json::object({
        {"name", file.listed.card_name},
        {"local_name", file.listed.local_name},
        {"size_bytes", file.listed.info.file_size},
        {"recorded", recorded},
        {"slot", slot_of(record)},
        {"committed", record != nullptr ? Json(record->committed()) : Json()},
        {"damage", damage},
    });
}

}  // namespace

Json::Object folder_listing_members(const FolderListing& listing) {
    Json::Array folders;
    for (const FolderRow& row : listing.rows) {
        folders.push_back(folder_json(row));
    }
    Json::Array damaged;
    for (const check::FileSummary* file : listing.records.damaged()) {
        damaged.push_back(damaged_json(*file));
    }
    Json::Array unusable;
    for (const LeftOutFolder& left_out : listing.left_out) {
        unusable.push_back(Json::object({{"name", left_out.name}, {"why", left_out.why}}));
    }
    return {{"folders", folders}, {"damaged", damaged}, {"unusable_folders", unusable}};
}

Json files_document(const std::string& device, const InventoryFolder& folder, AgeOrder order) {
    Json::Array files;
    std::uint64_t total = 0;
    std::uint64_t damaged = 0;
    for (const InventoryFile* file : in_order(folder, order)) {
        files.push_back(file_json(*file));
        total += file->listed.info.file_size;
        damaged += file->record != nullptr && !file->record->damage.empty() ? 1 : 0;
    }
    return Json::object({
        {"device", device},
        {"folder", folder.name},
        {"order", order == AgeOrder::OldestFirst ? "oldest_first" : "newest_first"},
        {"files", files},
        {"file_count", folder.files.size()},
        {"total_bytes", total},
        {"damaged_count", damaged},
    });
}

Json check_document(const std::string& device, const check::Report& report) {
    Json::Array problems;
    for (const check::Problem& problem : report.problems) {
        problems.push_back(
            Json::object({{"kind", check::kind_name(problem.kind)}, {"text", problem.what}}));
    }
    Json::Array notes;
    for (const std::string& note : report.notes) {
        notes.push_back(note);
    }
    return Json::object({
        {"device", device},
        {"clean", report.problems.empty() && report.unlisted_problems == 0},
        {"problem_count", report.problems.size() + report.unlisted_problems},
        {"problems", problems},
        {"unlisted_problems", report.unlisted_problems},
        {"folder_count", report.folders.size()},
        {"file_count", report.files.size()},
        {"notes", notes},
    });
}

}  // namespace lyfs::tool
