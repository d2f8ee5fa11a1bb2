// info and ls: what a card holds, for people (text, a timeline) and for scripts (JSON, a body
// file). Both mount read-only: looking never changes a card.
#include <cstdio>
#include <memory>

#include "body_file.h"
#include "card.h"
#include "card_inventory.h"
#include "commands.h"
#include "device.h"
#include "failure.h"
#include "json_listing.h"
#include "library.h"
#include "listing.h"
#include "manual.h"
#include "timeline.h"
#include "units.h"

namespace lyfs::tool {
namespace {

struct InfoOptions {
    std::string device;
    bool json = false;
};

struct ListOptions {
    std::string device;
    std::string folder;
    bool newest_first = false;
    bool json = false;
    bool body_file = false;
    bool timeline = false;
    std::string gap = "2m";
};

// The device as info tells of it, the card file system's partition when there is one.
struct DeviceFacts {
    std::string device;
    bool block_device = false;
    lyfs_device_info info{};
    bool write_protected = false;
    lyfs_part_slot slot{};
    std::uint64_t largest_file = 0;
};

void print_info(const DeviceFacts& facts, const FolderListing* listing) {
    std::printf("device:              %s (%s)\n", facts.device.c_str(),
                facts.block_device ? "block device" : "card image file");
    std::printf("size:                %s\n", format_sectors(facts.info.total_sectors).c_str());
    std::printf("sectors per cluster: %u (%s clusters)\n", facts.info.n_scts_per_clus,
                format_size(std::uint64_t{facts.info.n_scts_per_clus} * kSectorBytes).c_str());
    if (listing == nullptr) {
        std::printf("card file system:    none (slot 1 of the partition table does not hold it)\n");
        return;
    }
    std::printf("write-protected:     %s\n",
                facts.write_protected ? "yes (it can be read; nothing can be written)" : "no");
    std::printf("card file system:    slot 1, from sector %u, %s\n", facts.slot.first_sector,
                format_sectors(facts.slot.sector_count).c_str());
    std::printf("largest file:        %s\n", format_size(facts.largest_file).c_str());
    std::printf("\n");
    print_folders(*listing);
    std::printf("\n");
    print_space_bars(listing->rows);
}

// Every field is there whatever the device holds: null, or empty lists, without a card.
Json info_document(const DeviceFacts& facts, const FolderListing* listing) {
    Json write_protected;
    Json partition;
    Json largest_file;
    Json::Object folders = {{"folders", Json::Array{}},
                            {"damaged", Json::Array{}},
                            {"unusable_folders", Json::Array{}}};
    if (listing != nullptr) {
        write_protected = facts.write_protected;
        partition = Json::object({
            {"slot", 1},
            {"first_sector", facts.slot.first_sector},
            {"sectors", facts.slot.sector_count},
            {"size_bytes", std::uint64_t{facts.slot.sector_count} * kSectorBytes},
        });
        largest_file = facts.largest_file;
        folders = folder_listing_members(*listing);
    }
    Json::Object members = {
        {"device", facts.device},
        {"kind", facts.block_device ? "block_device" : "image"},
        {"sectors", facts.info.total_sectors},
        {"size_bytes", std::uint64_t{facts.info.total_sectors} * kSectorBytes},
        {"sectors_per_cluster", facts.info.n_scts_per_clus},
        {"cluster_bytes", std::uint64_t{facts.info.n_scts_per_clus} * kSectorBytes},
        {"card_file_system", listing != nullptr},
        {"write_protected", write_protected},
        {"partition", partition},
        {"largest_file_bytes", largest_file},
    };
    members.insert(members.end(), folders.begin(), folders.end());
    return Json::object(std::move(members));
}

int run_info(const InfoOptions& options) {
    Library library;
    DeviceFacts facts;
    facts.device = options.device;
    facts.info = read_device_info(options.device);
    facts.block_device = is_block_device(options.device);
    std::unique_ptr<Card> card;
    std::unique_ptr<FolderListing> listing;
    if (CL_LyFS_Check_LyFS_partition(options.device.c_str()) == LYFS_IS_LYFS) {
        card = std::make_unique<Card>(options.device, Card::Access::ReadOnly);
        facts.write_protected = card->mount_mode() == LYFS_MOUNT_WRITE_PROTECTED;
        facts.slot = card->handle()->slots[1];
        facts.largest_file = largest_file_bytes(card->sectors_per_cluster());
        listing = std::make_unique<FolderListing>(*card);
    }
    if (options.json) {
        std::fputs(info_document(facts, listing.get()).text().c_str(), stdout);
    } else {
        print_info(facts, listing.get());
    }
    return kExitSuccess;
}

int run_ls(const ListOptions& options) {
    const std::optional<std::int64_t> gap = parse_duration(options.gap);
    if (!gap) {
        throw UsageError("--gap: \"" + options.gap + "\" is not a length of time such as 90s, " +
                         "5m or 1h30m");
    }
    std::string folder;
    if (!options.folder.empty()) {
        const CardPath path = parse_card_path(options.folder);
        if (!path.name.empty()) {
            throw UsageError("give a folder such as /" + path.folder + ", not a file");
        }
        folder = path.folder;
    }
    const AgeOrder order = options.newest_first ? AgeOrder::NewestFirst : AgeOrder::OldestFirst;
    Library library;
    Card card(options.device, Card::Access::ReadOnly);
    if (options.body_file || options.timeline) {
        const CardInventory inventory(card, folder);
        if (options.body_file) {
            print_body_file(inventory);
        } else {
            print_timeline(inventory, *gap);
        }
        return kExitSuccess;
    }
    if (folder.empty()) {
        const FolderListing listing(card);
        if (options.json) {
            Json::Object members = folder_listing_members(listing);
            members.insert(members.begin(), {"device", options.device});
            std::fputs(Json::object(std::move(members)).text().c_str(), stdout);
        } else {
            print_folders(listing);
        }
        return kExitSuccess;
    }
    const CardInventory inventory(card, folder);
    const InventoryFolder& listed = inventory.folders().front();
    if (options.json) {
        std::fputs(files_document(options.device, listed, order).text().c_str(), stdout);
    } else {
        print_files(listed, order);
    }
    return kExitSuccess;
}

}  // namespace

void add_show_commands(CLI::App& app, Commands& commands) {
    auto info = std::make_shared<InfoOptions>();
    CLI::App* info_app = app.add_subcommand(
        "info",
        "Show the device's size and clusters and, when it holds the card file system, "
        "its partition and folders");
    info_app->add_option("DEVICE", info->device, "Block device or card image")->required();
    info_app->add_flag("--json", info->json, "Print one JSON document for scripts (see README)");
    commands.push_back({info_app, [info] { return run_info(*info); }});

    auto ls = std::make_shared<ListOptions>();
    CLI::App* ls_app = app.add_subcommand(
        "ls",
        "List the files of a folder in age order with their record times, or the folders when "
        "none is given");
    ls_app->add_option("DEVICE", ls->device, "Block device or card image")->required();
    names_on_card(ls_app->add_option("FOLDER", ls->folder, "Folder to list, such as /EVENT"),
                  OnCard::kFolder);
    ls_app->add_flag("--newest-first", ls->newest_first, "List the newest file first");
    CLI::Option* json =
        ls_app->add_flag("--json", ls->json, "Print one JSON document for scripts (see README)");
    CLI::Option* body_file = ls_app->add_flag(
        "--bodyfile", ls->body_file,
        "Print a body file for timelines (mactime -b): a line per file of every folder, or of "
        "FOLDER");
    CLI::Option* timeline = ls_app->add_flag(
        "--timeline", ls->timeline,
        "Draw each folder's recordings along one time axis and list the gaps between them");
    ls_app
        ->add_option("--gap", ls->gap,
                     "With --timeline: list the gaps longer than this (90s, 5m, 1h30m; default 2m)")
        ->needs(timeline);
    json->excludes(body_file)->excludes(timeline);
    body_file->excludes(timeline);
    commands.push_back({ls_app, [ls] { return run_ls(*ls); }});
}

}  // namespace lyfs::tool
