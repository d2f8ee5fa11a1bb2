// info and ls: what a card holds. Both mount read-only: looking never changes a card.
#include <cstdio>
#include <memory>

#include "card.h"
#include "commands.h"
#include "device.h"
#include "failure.h"
#include "library.h"
#include "listing.h"
#include "manual.h"
#include "units.h"

namespace lyfs::tool {
namespace {

struct InfoOptions {
    std::string device;
};

struct ListOptions {
    std::string device;
    std::string folder;
    bool newest_first = false;
};

std::string sectors_and_size(std::uint64_t sectors) {
    return std::to_string(sectors) + " sectors (" + format_size(sectors * kSectorBytes) + ")";
}

int run_info(const InfoOptions& options) {
    Library library;
    const lyfs_device_info info = read_device_info(options.device);
    std::printf("device:              %s (%s)\n", options.device.c_str(),
                is_block_device(options.device) ? "block device" : "card image file");
    std::printf("size:                %s\n", sectors_and_size(info.total_sectors).c_str());
    std::printf("sectors per cluster: %u (%s clusters)\n", info.n_scts_per_clus,
                format_size(std::uint64_t{info.n_scts_per_clus} * kSectorBytes).c_str());
    if (CL_LyFS_Check_LyFS_partition(options.device.c_str()) != LYFS_IS_LYFS) {
        std::printf("card file system:    none (slot 1 of the partition table does not hold it)\n");
        return 0;
    }
    Card card(options.device, Card::Access::ReadOnly);
    std::printf("write-protected:     %s\n", card.mount_mode() == LYFS_MOUNT_WRITE_PROTECTED
                                                 ? "yes (it can be read; nothing can be written)"
                                                 : "no");
    const lyfs_part_slot& slot = card.handle()->slots[1];
    std::printf("card file system:    slot 1, from sector %u, %s\n", slot.first_sector,
                sectors_and_size(slot.sector_count).c_str());
    std::printf("largest file:        %s\n",
                format_size(largest_file_bytes(card.sectors_per_cluster())).c_str());
    std::printf("\n");
    print_folders(card);
    std::printf("\n");
    print_space_bars(card);
    return 0;
}

int run_ls(const ListOptions& options) {
    Library library;
    Card card(options.device, Card::Access::ReadOnly);
    if (options.folder.empty()) {
        print_folders(card);
        return 0;
    }
    const CardPath path = parse_card_path(options.folder);
    if (!path.name.empty()) {
        throw UsageError("give a folder such as /" + path.folder + ", not a file");
    }
    print_files(card, path.folder,
                options.newest_first ? AgeOrder::NewestFirst : AgeOrder::OldestFirst);
    return 0;
}

}  // namespace

void add_show_commands(CLI::App& app, Commands& commands) {
    auto info = std::make_shared<InfoOptions>();
    CLI::App* info_app = app.add_subcommand(
        "info",
        "Show the device's size and clusters and, when it holds the card file system, "
        "its partition and folders");
    info_app->add_option("DEVICE", info->device, "Block device or card image")->required();
    commands.push_back({info_app, [info] { return run_info(*info); }});

    auto ls = std::make_shared<ListOptions>();
    CLI::App* ls_app = app.add_subcommand(
        "ls", "List the files of a folder in age order, or the folders when none is given");
    ls_app->add_option("DEVICE", ls->device, "Block device or card image")->required();
    names_on_card(ls_app->add_option("FOLDER", ls->folder, "Folder to list, such as /EVENT"),
                  OnCard::kFolder);
    ls_app->add_flag("--newest-first", ls->newest_first, "List the newest file first");
    commands.push_back({ls_app, [ls] { return run_ls(*ls); }});
}

}  // namespace lyfs::tool
