#include "listing.h"

#include <cstdio>

#include "units.h"

namespace lyfs::tool {

void print_folders(Card& card) {
    std::printf("%-8s %11s %11s %9s %6s\n", "FOLDER", "SIZE", "FREE", "MAX FILES", "FILES");
    for (const DirInfo& info : card.folders()) {
        const FolderUsage usage = card.usage(folder_name(info));
        std::printf("%-8s %11s %11s %9u %6u\n", folder_name(info).c_str(),
                    format_size(usage.total_bytes).c_str(), format_size(usage.free_bytes).c_str(),
                    usage.info.max_file_num, usage.files);
    }
}

void print_files(Card& card, const std::string& folder, AgeOrder order) {
    card.space(folder);  // a clear message for a folder the card does not have
    std::printf("%11s %11s  %s\n", "BYTES", "SIZE", "NAME");
    std::uint64_t count = 0;
    std::uint64_t total = 0;
    card.for_each_file(folder, order, [&](const FileInfo& info) {
        std::printf("%11u %11s  %s\n", info.file_size, format_size(info.file_size).c_str(),
                    file_name(info).c_str());
        ++count;
        total += info.file_size;
    });
    std::printf("%llu file%s, %s\n", static_cast<unsigned long long>(count), count == 1 ? "" : "s",
                format_size(total).c_str());
}

}  // namespace lyfs::tool
