#include "listing.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "local_names.h"
#include "names.h"
#include "record_time.h"
#include "space_bar.h"
#include "units.h"

namespace lyfs::tool {

namespace {

// Records a folder's file-entry area holds: the folder table's maximum number of files, raised
// to whole clusters of 128-byte records.
std::uint64_t entry_slots(std::uint32_t max_files, std::uint32_t sectors_per_cluster) {
    constexpr std::uint64_t kRecordsPerSector = kSectorBytes / 128;
    const std::uint64_t sectors = (max_files + kRecordsPerSector - 1) / kRecordsPerSector;
    const std::uint64_t clusters = (sectors + sectors_per_cluster - 1) / sectors_per_cluster;
    return clusters * sectors_per_cluster * kRecordsPerSector;
}

}  // namespace

std::vector<FolderRow> folder_rows(Card& card) {
    std::vector<FolderRow> rows;
    std::vector<std::string> names;
    for (const DirInfo& info : card.folders()) {
        FolderRow& row = rows.emplace_back();
        row.name = folder_name(info);
        row.usage = card.usage(row.name);
        row.reserve_bytes = folder_reserve_bytes(row.name);
        row.slots = entry_slots(row.usage.info.max_file_num, card.sectors_per_cluster());
        names.push_back(row.name);
    }
    const std::vector<std::string> local = local_names(names);
    for (std::size_t k = 0; k < rows.size(); ++k) {
        rows[k].local_name = local[k];
    }
    return rows;
}

FolderListing::FolderListing(Card& card) : rows(folder_rows(card)), records(card.device()) {
    std::vector<std::string> names;
    for (const FolderRow& row : rows) {
        names.push_back(row.name);
    }
    left_out = folders_left_out(card.device(), names);
}

std::string folder_table(const std::vector<FolderRow>& rows) {
    char line[160];
    std::snprintf(line, sizeof line, "%-8s %11s %11s %11s %6s %6s\n", "FOLDER", "SIZE", "FREE",
                  "RESERVE", "SLOTS", "FILES");
    std::string table = line;
    for (const FolderRow& row : rows) {
        std::snprintf(line, sizeof line, "%-8s %11s %11s %11s %6llu %6u\n",
                      printable(row.name).c_str(), format_size(row.usage.total_bytes).c_str(),
                      format_size(row.usage.free_bytes).c_str(),
                      format_size(row.reserve_bytes).c_str(),
                      static_cast<unsigned long long>(row.slots), row.usage.files);
        table += line;
    }
    return table;
}

void print_folders(const FolderListing& listing) {
    std::fputs(folder_table(listing.rows).c_str(), stdout);
    for (const check::FileSummary* file : listing.records.damaged()) {
        std::printf("damaged: /%s/%s: %s\n", printable(file->folder).c_str(),
                    printable(file->name).c_str(), damage_words(*file).c_str());
    }
    std::fflush(stdout);
    for (const LeftOutFolder& left_out : listing.left_out) {
        std::fprintf(stderr, "warning: %s\n", left_out_words(left_out).c_str());
    }
}

namespace {

constexpr std::size_t kBarCells = 40;

bool colour_wanted() {
    const char* term = std::getenv("TERM");
    return ::isatty(STDOUT_FILENO) != 0 && std::getenv("NO_COLOR") == nullptr &&
           (term == nullptr || std::strcmp(term, "dumb") != 0);
}

}  // namespace

void print_space_bars(const std::vector<FolderRow>& rows) {
    const bool colour = colour_wanted();
    std::printf(
        "%-8s # used  . free  | reserve starts: the oldest files go when free space falls to it\n",
        "SPACE");
    for (const FolderRow& row : rows) {
        const std::uint64_t total = row.usage.total_bytes;
        std::printf(
            "%-8s %s reserve %s%s\n", printable(row.name).c_str(),
            space_bar(total, row.usage.free_bytes, row.reserve_bytes, kBarCells, colour).c_str(),
            format_size(row.reserve_bytes).c_str(),
            row.reserve_bytes >= total ? ", more than the folder: it cannot take files" : "");
    }
}

std::vector<const InventoryFile*> in_order(const InventoryFolder& folder, AgeOrder order) {
    std::vector<const InventoryFile*> files;
    for (const InventoryFile& file : folder.files) {
        files.push_back(&file);
    }
    if (order == AgeOrder::NewestFirst) {
        std::reverse(files.begin(), files.end());
    }
    return files;
}

void print_files(const InventoryFolder& folder, AgeOrder order) {
    std::printf("%11s %11s  %-19s  %s\n", "BYTES", "SIZE", "RECORDED", "NAME");
    std::uint64_t total = 0;
    std::uint64_t damaged_count = 0;
    for (const InventoryFile* file : in_order(folder, order)) {
        const std::uint32_t size = file->listed.info.file_size;
        const bool damaged = file->record != nullptr && !file->record->damage.empty();
        std::printf("%11u %11s  %-19s  %s%s\n", size, format_size(size).c_str(),
                    file->recorded ? shown_time(*file->recorded).c_str() : "unknown",
                    printable(file->listed.card_name).c_str(),
                    damaged ? ("  [damaged: " + damage_words(*file->record) + "]").c_str() : "");
        total += size;
        damaged_count += damaged ? 1 : 0;
    }
    const std::size_t count = folder.files.size();
    std::printf("%s, %s", counted(count, "file").c_str(), format_size(total).c_str());
    if (damaged_count != 0) {
        std::printf(", %llu damaged (lyfs get --keep-partial copies what can be read)",
                    static_cast<unsigned long long>(damaged_count));
    }
    std::printf("\n");
}

}  // namespace lyfs::tool
