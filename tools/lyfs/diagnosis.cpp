#include "diagnosis.h"

#include <algorithm>

#include "card_checker.h"
#include "names.h"
#include "units.h"

namespace lyfs::tool {
namespace {

// What the checker finds in the card's volume, and how many sectors the device has; nothing
// when the device cannot be read.
struct VolumeLook {
    check::Report report;
    std::uint64_t sectors = 0;
};

VolumeLook look_at_volume(const std::string& device) {
    check::FileSectorReader reader(device);
    if (!reader.is_open()) {
        return {};
    }
    return {check::check_volume(reader), reader.sector_count()};
}

std::string sectors_and_bytes(std::uint64_t sectors) {
    return std::to_string(sectors) + " sectors (" + format_size(sectors * kSectorBytes) + ")";
}

}  // namespace

std::string volume_trouble(const std::string& device) {
    const auto [report, sectors] = look_at_volume(device);
    if (report.partition_end > sectors) {
        return device + " is shorter than its partition table says: the table needs " +
               sectors_and_bytes(report.partition_end) + ", " + device + " has " +
               sectors_and_bytes(sectors) +
               "; it was cut short or copied before its end (copy the whole card again)";
    }
    if (report.partition_end != 0 && !report.formatted) {
        return device + " is partitioned but not formatted: lyfs format " + device +
               " puts the card file system on it";
    }
    return {};
}

std::string left_out_words(const LeftOutFolder& folder) {
    return "folder " + printable(folder.name) +
           " is on the card but cannot be used: " + printable(folder.why);
}

std::vector<LeftOutFolder> folders_left_out(const std::string& device,
                                            const std::vector<std::string>& usable) {
    const check::Report report = look_at_volume(device).report;
    std::vector<LeftOutFolder> left_out;
    for (const check::FolderSummary& folder : report.folders) {
        if (std::find(usable.begin(), usable.end(), folder.name) != usable.end()) {
            continue;
        }
        std::string why = "its region (clusters " + std::to_string(folder.start_cluster) + " + " +
                          std::to_string(folder.cluster_count) +
                          ") lies outside the card or over another folder";
        const std::string about = "folder " + folder.name + " ";
        for (const check::Problem& problem : report.problems) {
            if (problem.what.find(about) != std::string::npos) {
                why = problem.what;
                break;
            }
        }
        left_out.push_back({folder.name, why});
    }
    return left_out;
}

}  // namespace lyfs::tool
