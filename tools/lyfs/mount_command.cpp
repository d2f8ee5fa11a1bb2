// mount and umount: the card as a folder of the file system, for every program to open its
// recordings, and the unmount after which the card can be pulled.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "card.h"
#include "card_view.h"
#include "commands.h"
#include "device.h"
#include "failure.h"
#include "fuse_card.h"
#include "library.h"
#include "mount_record.h"
#include "names.h"

extern char** environ;

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

struct UnmountOptions {
    std::string mountpoint;
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

// Goes on in a child process. The command's own process exits once the child calls the
// returned function, so that the prompt comes back only when lyfs umount can find the mount.
std::function<void()> go_to_background() {
    int ready[2];
    if (::pipe(ready) != 0) {
        throw Failure("cannot go on in the background");
    }
    const pid_t child = ::fork();
    if (child < 0) {
        throw Failure("cannot go on in the background");
    }
    if (child > 0) {
        ::close(ready[1]);
        char said = 0;
        ::_exit(::read(ready[0], &said, 1) == 1 ? kExitSuccess : kExitFailure);
    }
    ::close(ready[0]);
    ::setsid();
    if (::chdir("/") != 0) {
        log_line("cannot work from /");
    }
    const int null = ::open("/dev/null", O_RDWR);
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        ::dup2(null, fd);
    }
    ::close(null);
    return [fd = ready[1]] {
        const char yes = 1;
        if (::write(fd, &yes, 1) != 1) {
            log_line("cannot tell the starting command that the card is mounted");
        }
        ::close(fd);
    };
}

int run_mount(const MountOptions& options) {
    require_device(options.device);
    std::error_code error;
    if (!fs::is_directory(options.mountpoint, error)) {
        throw Failure(options.mountpoint + " is not a folder to mount the card on");
    }
    // The background process works from /, so paths are kept absolute.
    const std::string mountpoint = mount_point_key(options.mountpoint);
    const std::string device = fs::absolute(options.device).lexically_normal().string();
    Library library;
    Card card(options.device, options.read_only ? Card::Access::ReadOnly : Card::Access::ReadWrite);
    const bool write_protected = card.mount_mode() == LYFS_MOUNT_WRITE_PROTECTED;
    const bool read_only = options.read_only || write_protected;
    if (write_protected) {
        std::printf("%s is write-protected: it is mounted read-only\n", options.device.c_str());
    }
    CardView view(card, read_only, log_line);
    // The kernel enforces the modes the mount shows: other users (allow_other) read and never
    // write, so they can never make a folder reclaim a recording.
    std::string fuse_options = "default_permissions,fsname=" + option_value(device) +
                               ",subtype=lyfs,max_read=" + std::to_string(kMaxTransferBytes);
    if (read_only) {
        fuse_options += ",ro";
    }
    if (!options.options.empty()) {
        fuse_options += "," + options.options;
    }
    MountRecord record{::getpid(), device, mountpoint, read_only, false, {}};
    {
        FuseMount mount(view, mountpoint, fuse_options);
        std::printf("%s mounted on %s%s; before removing the card, unmount with: lyfs umount %s\n",
                    options.device.c_str(), mountpoint.c_str(), read_only ? " read-only" : "",
                    mountpoint.c_str());
        std::fflush(stdout);
        std::function<void()> started = [] {};
        if (!options.foreground) {
            ::openlog("lyfs", LOG_PID, LOG_USER);
            g_to_system_log = true;
            started = go_to_background();
        }
        record.pid = ::getpid();
        if (!save_mount_record(record)) {
            log_line(
                "cannot keep a record of this mount for lyfs umount: unmount with "
                "fusermount3 -u " +
                mountpoint + ", which does not wait for the card");
        }
        started();
        mount.serve();
        view.close_all();
    }
    record.failures = view.failures();
    if (const std::string why = card.close(); !why.empty()) {
        record.failures.push_back("flushing and closing " + device + " failed: " + why);
        log_line(record.failures.back());
    }
    record.ended = true;
    save_mount_record(record);
    return record.failures.empty() ? kExitSuccess : kExitFailure;
}

// Runs fusermount3 -u quietly; true when it unmounted.
bool unmount_now(const std::string& mountpoint) {
    const char* argv[] = {"fusermount3", "-u", "-q", "--", mountpoint.c_str(), nullptr};
    pid_t pid = 0;
    if (::posix_spawnp(&pid, "fusermount3", nullptr, nullptr, const_cast<char**>(argv), environ) !=
        0) {
        throw Failure("cannot run fusermount3 (package fuse3): nothing was unmounted");
    }
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool process_running(pid_t pid) {
    if (::kill(pid, 0) != 0) {
        return false;
    }
    // A process that has exited but was not reaped yet holds nothing any more.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    const std::size_t close = text.rfind(')');
    return close == std::string::npos || close + 2 >= text.size() || text[close + 2] != 'Z';
}

int run_umount(const UnmountOptions& options) {
    const std::string mountpoint = mount_point_key(options.mountpoint);
    if (!is_lyfs_mount(mountpoint)) {
        throw Failure(mountpoint + " is not a lyfs mount: nothing was unmounted");
    }
    const auto found = find_mount_record(mountpoint);
    if (!found) {
        throw Failure("cannot find the process of the lyfs mount on " + mountpoint +
                      " (its record is kept for the user who mounted: run lyfs umount as that "
                      "user or as root): nothing was unmounted");
    }
    const auto& [record, file] = *found;
    // The kernel refuses a plain unmount while programs hold files open on it; the mount is
    // then ended under them, which commits what they wrote so far.
    if (!unmount_now(mountpoint)) {
        if (::kill(record.pid, SIGTERM) != 0) {
            throw Failure("cannot unmount " + mountpoint + ": it is busy, and its process " +
                          std::to_string(record.pid) + " is not yours to stop");
        }
        std::printf(
            "files were still open on %s: the mount is ended under them, which commits what "
            "was written to them\n",
            mountpoint.c_str());
        std::fflush(stdout);
    }
    const auto started = std::chrono::steady_clock::now();
    bool said = false;
    while (process_running(record.pid)) {
        if (!said && std::chrono::steady_clock::now() - started > std::chrono::seconds(1)) {
            std::fprintf(stderr,
                         "waiting for lyfs mount (process %d) to commit, flush and close %s...\n",
                         static_cast<int>(record.pid), record.device.c_str());
            said = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::optional<MountRecord> ended = read_mount_record(file);
    std::remove(file.c_str());
    if (!ended || !ended->ended) {
        throw Failure(mountpoint + " was unmounted, but its process ended without closing " +
                      record.device + ": check the card with lyfs check");
    }
    if (!ended->failures.empty()) {
        std::string lines;
        for (const std::string& failure : ended->failures) {
            lines += "\n  " + printable(failure);
        }
        throw Failure(mountpoint + " was unmounted, but not everything reached " + record.device +
                      ":" + lines);
    }
    std::printf("%s unmounted: %s %s; it can be removed\n", mountpoint.c_str(),
                record.device.c_str(),
                record.read_only ? "closed (mounted read-only, nothing was written)"
                                 : "committed, flushed and closed");
    return kExitSuccess;
}

}  // namespace

void add_mount_command(CLI::App& app, Commands& commands) {
    auto options = std::make_shared<MountOptions>();
    CLI::App* mount = app.add_subcommand(
        "mount",
        "Show the card as a folder: its folders hold the recordings, oldest first, for any "
        "program to read; new files copied into a folder are written to the card. Files and "
        "folders belong to the user who mounted; only that user can copy files in (with -o "
        "allow_other, other users can list and read, never write). Before removing the card, "
        "unmount with lyfs umount MOUNTPOINT");
    mount->add_option("DEVICE", options->device, "Block device or card image")->required();
    mount->add_option("MOUNTPOINT", options->mountpoint, "An existing folder")->required();
    mount->add_flag("--read-only", options->read_only, "Never write to the card");
    mount->add_flag("--foreground", options->foreground,
                    "Stay in the foreground and log to stderr until unmounted");
    mount->add_option("-o", options->options, "FUSE mount options, such as allow_other")
        ->option_text("OPTIONS");
    commands.push_back({mount, [options] { return run_mount(*options); }});

    auto unmount = std::make_shared<UnmountOptions>();
    CLI::App* umount = app.add_subcommand(
        "umount",
        "Unmount a card mounted with lyfs mount and wait until every file is committed and the "
        "card flushed and closed: then it can be removed (fusermount3 -u returns at once)");
    umount->add_option("MOUNTPOINT", unmount->mountpoint, "Where the card is mounted")->required();
    commands.push_back({umount, [unmount] { return run_umount(*unmount); }});
}

}  // namespace lyfs::tool
