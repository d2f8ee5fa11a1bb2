// partition, format and mkimage: preparing cards and card images.
#include <cstdio>
#include <limits>
#include <memory>

#include "commands.h"
#include "device.h"
#include "failure.h"
#include "layout.h"
#include "library.h"
#include "prepare.h"
#include "units.h"

namespace lyfs::tool {
namespace {

constexpr std::uint64_t kDefaultFat32Mib = 64;
// Sector numbers on the card are 32-bit.
constexpr std::uint64_t kLargestCardBytes = std::uint64_t{0xFFFFFFFF} * kSectorBytes;
constexpr std::uint64_t kLargestFat32Mib = kLargestCardBytes / kMiB;

struct PartitionOptions {
    std::string device;
    std::uint64_t fat32_mib = 0;
    bool yes = false;
};

struct FormatOptions {
    std::string device;
    std::string layout{kDefaultLayout};
    bool yes = false;
};

struct ImageOptions {
    std::string image;
    std::uint64_t bytes = 0;
    std::uint64_t fat32_mib = kDefaultFat32Mib;
    std::string layout{kDefaultLayout};
};

// Turns "8G" into its bytes while the command line is parsed, so a bad size is a usage error.
CLI::Validator card_size() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            const auto bytes = parse_size(text);
            if (!bytes) {
                return "\"" + text + "\" is not a size like 8G, 512M or 256MiB";
            }
            if (*bytes == 0 || *bytes % kSectorBytes != 0 || *bytes > kLargestCardBytes) {
                return "a card image holds whole 512-byte sectors, at most 2 TiB";
            }
            text = std::to_string(*bytes);
            return {};
        },
        "SIZE");
}

CLI::Validator folder_layout() {
    return CLI::Validator([](std::string& text) { return parse_layout(text).error; },
                          "NAME:PERCENT:MAXFILES,...");
}

void add_layout_option(CLI::App& command, std::string& layout) {
    command
        .add_option("--layout", layout,
                    "Folders in card order, each NAME:PERCENT:MAXFILES; the last folder takes "
                    "the rest of the card (default " +
                        std::string(kDefaultLayout) + ")")
        ->option_text("LAYOUT")
        ->check(folder_layout());
}

void print_partitions(const std::string& device, const PartitionSizes& sizes) {
    std::printf("%s: slot 0 FAT32, %s; slot 1 card file system, %s\n", device.c_str(),
                format_size(std::uint64_t{sizes.fat32_sectors} * kSectorBytes).c_str(),
                format_size(std::uint64_t{sizes.card_sectors} * kSectorBytes).c_str());
}

void print_format(const std::string& device, const lyfs_folder_table& table) {
    std::printf("%s: formatted with %s\n", device.c_str(), describe_layout(table).c_str());
}

int run_partition(const PartitionOptions& options) {
    require_device(options.device);
    require_writable(options.device);
    confirm_overwrite(options.device, "Writing a new partition table", options.yes);
    Library library;
    print_partitions(options.device, partition_card(options.device, options.fat32_mib));
    return 0;
}

int run_format(const FormatOptions& options) {
    const lyfs_folder_table table = parse_layout(options.layout).table;
    require_device(options.device);
    require_writable(options.device);
    confirm_overwrite(options.device, "Formatting", options.yes);
    Library library;
    format_card(options.device, table);
    print_format(options.device, table);
    warn_of_folders_without_room(options.device, "format");
    return 0;
}

int run_mkimage(const ImageOptions& options) {
    const lyfs_folder_table table = parse_layout(options.layout).table;
    create_sparse_image(options.image, options.bytes);
    try {
        // Stopped before the image could be removed: Windows removes no file still open.
        Library library;
        print_partitions(options.image, partition_card(options.image, options.fat32_mib));
        format_card(options.image, table);
        print_format(options.image, table);
    } catch (...) {
        std::remove(options.image.c_str());
        throw;
    }
    Library library;
    warn_of_folders_without_room(options.image, "mkimage");
    return 0;
}

}  // namespace

void add_prepare_commands(CLI::App& app, Commands& commands) {
    auto partition = std::make_shared<PartitionOptions>();
    CLI::App* partition_app = app.add_subcommand(
        "partition",
        "Write a new partition table: FAT32 in slot 0, the card file system over "
        "the rest of the card in slot 1");
    partition_app->add_option("DEVICE", partition->device, "Block device or card image")
        ->required();
    partition_app->add_option("--fat32", partition->fat32_mib, "Size of the FAT32 partition")
        ->option_text("MIB REQUIRED")
        ->required()
        ->check(CLI::Range(std::uint64_t{1}, kLargestFat32Mib));
    partition_app->add_flag("-y,--yes", partition->yes, "Do not ask before writing a device");
    commands.push_back({partition_app, [partition] { return run_partition(*partition); }});

    auto format = std::make_shared<FormatOptions>();
    CLI::App* format_app =
        app.add_subcommand("format", "Format slot 1 with the card file system and its folders");
    format_app->add_option("DEVICE", format->device, "Block device or card image")->required();
    add_layout_option(*format_app, format->layout);
    format_app->add_flag("-y,--yes", format->yes, "Do not ask before formatting a device");
    commands.push_back({format_app, [format] { return run_format(*format); }});

    auto image = std::make_shared<ImageOptions>();
    CLI::App* image_app =
        app.add_subcommand("mkimage", "Create a sparse card image, partitioned and formatted");
    image_app->add_option("IMAGE", image->image, "Path of the new image file")->required();
    image_app->add_option("--size", image->bytes, "Size of the card, such as 8G or 512M")
        ->option_text("SIZE REQUIRED")
        ->required()
        ->transform(card_size());
    image_app
        ->add_option(
            "--fat32", image->fat32_mib,
            "Size of the FAT32 partition (default " + std::to_string(kDefaultFat32Mib) + ")")
        ->option_text("MIB")
        ->check(CLI::Range(std::uint64_t{1}, kLargestFat32Mib));
    add_layout_option(*image_app, image->layout);
    commands.push_back({image_app, [image] { return run_mkimage(*image); }});
}

}  // namespace lyfs::tool
