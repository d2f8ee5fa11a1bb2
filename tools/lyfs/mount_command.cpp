// mount: the card as a folder of the file system, for every program to open its recordings.
#include <syslog.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "card.h"
#include "card_view.h"
#include "commands.h"
#include "device.h"
#include "failure.h"
#include "fuse_card.h"
#include "library.h"

namespace lyfs::tool {
namespace {

namespace fs = std::filesystem;

struct MountOptions {
    std::string device;
    std::string mountpoint;
    bool read_only = false;
    bool foreground = false;
    std::string options;
};

// In the background the mount has no terminal: its lines go to the system log.
std::atomic<bool> g_to_system_log{false};

void log_line(const std::string& line) {
    if (g_to_system_log) {
        ::syslog(LOG_NOTICE, "%s", line.c_str());
    } else {
        std::fprintf(stderr, "lyfs mount: %s\n", line.c_str());
    }
}

// A value inside -o, where commas separate options.
std::string option_value(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        if (c == ',' || c == '\\') {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

int run_mount(const MountOptions& options) {
    require_device(options.device);
    std::error_code error;
    if (!fs::is_directory(options.mountpoint, error)) {
        throw Failure(options.mountpoint + " is not a folder to mount the card on");
    }
    // The background process works from /, so the mount point is kept as an absolute path.
    const std::string mountpoint = fs::absolute(options.mountpoint).lexically_normal().string();
    Library library;
    Card card(options.device, options.read_only ? Card::Access::ReadOnly : Card::Access::ReadWrite);
    const bool write_protected = card.mount_mode() == LYFS_MOUNT_WRITE_PROTECTED;
    const bool read_only = options.read_only || write_protected;
    if (write_protected) {
        std::printf("%s is write-protected: it is mounted read-only\n", options.device.c_str());
    }
    CardView view(card, read_only, log_line);
    std::string fuse_options = "fsname=" + option_value(fs::absolute(options.device).string()) +
                               ",subtype=lyfs,max_read=" + std::to_string(kMaxTransferBytes);
    if (read_only) {
        fuse_options += ",ro";
    }
    if (!options.options.empty()) {
        fuse_options += "," + options.options;
    }
    FuseMount mount(view, mountpoint, fuse_options);
    std::printf("%s mounted on %s%s; unmount with: fusermount3 -u %s\n", options.device.c_str(),
                mountpoint.c_str(), read_only ? " read-only" : "", mountpoint.c_str());
    std::fflush(stdout);
    if (!options.foreground) {
        ::openlog("lyfs", LOG_PID, LOG_USER);
        g_to_system_log = true;
        mount.detach();
    }
    mount.serve();
    view.close_all();
    return 0;
}

}  // namespace

void add_mount_command(CLI::App& app, Commands& commands) {
    auto options = std::make_shared<MountOptions>();
    CLI::App* mount = app.add_subcommand(
        "mount",
        "Show the card as a folder: its folders hold the recordings, oldest first, for any "
        "program to read; new files copied into a folder are written to the card. Unmount with "
        "fusermount3 -u MOUNTPOINT");
    mount->add_option("DEVICE", options->device, "Block device or card image")->required();
    mount->add_option("MOUNTPOINT", options->mountpoint, "An existing folder")->required();
    mount->add_flag("--read-only", options->read_only, "Never write to the card");
    mount->add_flag("--foreground", options->foreground,
                    "Stay in the foreground and log to stderr until unmounted");
    mount->add_option("-o", options->options, "FUSE mount options, such as allow_other")
        ->option_text("OPTIONS");
    commands.push_back({mount, [options] { return run_mount(*options); }});
}

}  // namespace lyfs::tool
