#include "timeline.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "names.h"
#include "record_time.h"
#include "units.h"

namespace lyfs::tool {
namespace {

constexpr std::int64_t kColumns = 60;

struct Start {
    std::int64_t at;  // clock_seconds of the stamp
    lyfs_file_time stamp;
};

struct FolderStarts {
    std::string name;
    std::vector<Start> starts;  // in time order
    std::size_t untimed = 0;    // files whose record holds no valid date
};

std::vector<FolderStarts> starts_of(const CardInventory& inventory) {
    std::vector<FolderStarts> folders;
    for (const InventoryFolder& folder : inventory.folders()) {
        FolderStarts& row = folders.emplace_back();
        row.name = folder.name;
        for (const InventoryFile& file : folder.files) {
            if (file.recorded) {
                row.starts.push_back({clock_seconds(*file.recorded), *file.recorded});
            } else {
                ++row.untimed;
            }
        }
        // A recorder whose clock was set back writes newer files with older times.
        std::stable_sort(row.starts.begin(), row.starts.end(),
                         [](const Start& a, const Start& b) { return a.at < b.at; });
    }
    return folders;
}

class Axis {
public:
    Axis(std::int64_t first, std::int64_t last)
        : first_(first), step_(std::max<std::int64_t>(1, (last - first + kColumns) / kColumns)) {}

    std::int64_t step() const { return step_; }
    std::size_t column(std::int64_t at) const {
        return static_cast<std::size_t>((at - first_) / step_);
    }

    std::string bar(const std::vector<Start>& starts, std::int64_t gap_seconds) const {
        std::string cells(kColumns, ' ');
        const std::size_t from = column(starts.front().at);
        const std::size_t to = column(starts.back().at);
        std::fill(cells.begin() + from, cells.begin() + to + 1, '.');
        for (std::size_t k = 0; k < starts.size(); ++k) {
            const bool lasts =
                k + 1 < starts.size() && starts[k + 1].at - starts[k].at <= gap_seconds;
            const std::size_t end = lasts ? column(starts[k + 1].at) : column(starts[k].at);
            std::fill(cells.begin() + column(starts[k].at), cells.begin() + end + 1, '#');
        }
        return cells;
    }

private:
    std::int64_t first_;
    std::int64_t step_;
};

void print_gaps(const std::vector<FolderStarts>& folders, std::int64_t gap_seconds) {
    const std::string longer = format_duration(gap_seconds);
    std::string lines;
    for (const FolderStarts& folder : folders) {
        for (std::size_t k = 1; k < folder.starts.size(); ++k) {
            const Start& before = folder.starts[k - 1];
            const Start& after = folder.starts[k];
            if (after.at - before.at > gap_seconds) {
                char line[160];
                std::snprintf(line, sizeof line, "%-8s %s to %s  %s\n",
                              printable(folder.name).c_str(), shown_time(before.stamp).c_str(),
                              shown_time(after.stamp).c_str(),
                              format_duration(after.at - before.at).c_str());
                lines += line;
            }
        }
    }
    if (lines.empty()) {
        std::printf("\nno gaps longer than %s\n", longer.c_str());
        return;
    }
    std::printf("\nGAPS LONGER THAN %s (from a recording's start to the next one's)\n%s",
                longer.c_str(), lines.c_str());
}

}  // namespace

void print_timeline(const CardInventory& inventory, std::int64_t gap_seconds) {
    const std::vector<FolderStarts> folders = starts_of(inventory);
    const Start* first = nullptr;
    const Start* last = nullptr;
    for (const FolderStarts& folder : folders) {
        if (!folder.starts.empty()) {
            if (first == nullptr || folder.starts.front().at < first->at) {
                first = &folder.starts.front();
            }
            if (last == nullptr || folder.starts.back().at > last->at) {
                last = &folder.starts.back();
            }
        }
    }
    if (first == nullptr) {
        std::printf("no recording with a valid record time\n");
        return;
    }
    const Axis axis(first->at, last->at);
    std::printf("%-8s %s to %s, one column per %s\n", "TIMELINE", shown_time(first->stamp).c_str(),
                shown_time(last->stamp).c_str(), format_duration(axis.step()).c_str());
    for (const FolderStarts& folder : folders) {
        std::printf("%-8s ", printable(folder.name).c_str());
        const std::string untimed =
            counted(folder.untimed, "file") + " without a valid record time";
        if (folder.starts.empty()) {
            std::printf("%s\n", folder.untimed == 0 ? "no recordings" : untimed.c_str());
            continue;
        }
        std::printf("|%s| %s to %s, %s%s\n", axis.bar(folder.starts, gap_seconds).c_str(),
                    shown_time(folder.starts.front().stamp).c_str(),
                    shown_time(folder.starts.back().stamp).c_str(),
                    counted(folder.starts.size(), "recording").c_str(),
                    folder.untimed == 0 ? "" : (" (and " + untimed + ")").c_str());
    }
    print_gaps(folders, gap_seconds);
}

}  // namespace lyfs::tool
