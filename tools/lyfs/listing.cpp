#include "listing.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "damage.h"
#include "diagnosis.h"
#include "names.h"
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

void print_folders(Card& card) {
    std::printf("%-8s %11s %11s %11s %6s %6s\n", "FOLDER", "SIZE", "FREE", "RESERVE", "SLOTS",
                "FILES");
    std::vector<std::string> names;
    for (const DirInfo& info : card.folders()) {
        names.push_back(folder_name(info));
        const FolderUsage usage = card.usage(names.back());
        std::printf("%-8s %11s %11s %11s %6llu %6u\n", printable(names.back()).c_str(),
                    format_size(usage.total_bytes).c_str(), format_size(usage.free_bytes).c_str(),
                    format_size(folder_reserve_bytes(names.back())).c_str(),
                    static_cast<unsigned long long>(
                        entry_slots(usage.info.max_file_num, card.sectors_per_cluster())),
                    usage.files);
    }
    const DamagedFiles damaged(card.device());
    for (const check::FileSummary& file : damaged.all()) {
        std::printf("damaged: /%s/%s: %s\n", printable(file.folder).c_str(),
                    printable(file.name).c_str(), damage_words(file).c_str());
    }
    std::fflush(stdout);
    for (const LeftOutFolder& left_out : folders_left_out(card.device(), names)) {
        std::fprintf(stderr, "warning: folder %s is on the card but cannot be used: %s\n",
                     printable(left_out.name).c_str(), printable(left_out.why).c_str());
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

void print_space_bars(Card& card) {
    const bool colour = colour_wanted();
    std::printf(
        "%-8s # used  . free  | reserve starts: the oldest files go when free space falls to it\n",
        "SPACE");
    for (const DirInfo& info : card.folders()) {
        const std::string name = folder_name(info);
        const FolderUsage usage = card.space(name);
        const std::uint64_t reserve = folder_reserve_bytes(name);
        std::printf(
            "%-8s %s reserve %s%s\n", name.c_str(),
            space_bar(usage.total_bytes, usage.free_bytes, reserve, kBarCells, colour).c_str(),
            format_size(reserve).c_str(),
            reserve >= usage.total_bytes ? ", more than the folder: it cannot take files" : "");
    }
}

void print_files(Card& card, const std::string& folder, AgeOrder order) {
    card.space(folder);  // a clear message for a folder the card does not have
    std::printf("%11s %11s  %s\n", "BYTES", "SIZE", "NAME");
    const DamagedFiles damaged(card.device());
    std::uint64_t count = 0;
    std::uint64_t total = 0;
    std::uint64_t damaged_count = 0;
    card.for_each_file(folder, order, [&](const FileInfo& info) {
        const std::string name = file_name(info);
        const check::FileSummary* damage = damaged.find(folder, name, info.file_size);
        std::printf(
            "%11u %11s  %s%s\n", info.file_size, format_size(info.file_size).c_str(),
            printable(name).c_str(),
            damage != nullptr ? ("  [damaged: " + damage_words(*damage) + "]").c_str() : "");
        ++count;
        total += info.file_size;
        damaged_count += damage != nullptr ? 1 : 0;
    });
    std::printf("%llu file%s, %s", static_cast<unsigned long long>(count), count == 1 ? "" : "s",
                format_size(total).c_str());
    if (damaged_count != 0) {
        std::printf(", %llu damaged (lyfs get --keep-partial copies what can be read)",
                    static_cast<unsigned long long>(damaged_count));
    }
    std::printf("\n");
}

}  // namespace lyfs::tool
