// Reading the recording through lyfs mount with cat, as any program would, against reading it
// through the library in this process, on the same card image in the same run.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "recording.h"

namespace lyfs::bench {
namespace {

#ifdef LYFS_TOOL_PATH

constexpr const char* kFigure = "read 256 MiB through lyfs mount with cat";
constexpr const char* kFile = "/DATA/20240101_120000_F.MP4";

std::string why_fuse_is_unusable() {
    if (::access("/dev/fuse", R_OK | W_OK) != 0) {
        return "no usable /dev/fuse";
    }
    if (::geteuid() != 0) {
        return "not root";
    }
    return std::system("command -v fusermount3 >/dev/null 2>&1") == 0 ? "" : "no fusermount3";
}

// Runs a program with stdout to /dev/null and waits for it; its exit status. Spawned, not
// forked: a fork would make every later write to this process's large buffers fault.
int run(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int error = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (error != 0 || ::waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The card mounted read-only by the tool in a scratch folder, so that the library can mount
// it read-only beside it; unmounted on the way out.
class ToolMount {
public:
    ToolMount(const Options& options, const std::string& image)
        : folder_(options.dir + "/lyfs-bench-mnt-XXXXXX") {
        check(::mkdtemp(folder_.data()) != nullptr, "cannot make a mount point in " + options.dir);
        check(run({LYFS_TOOL_PATH, "mount", "--read-only", image, folder_}) == 0,
              "lyfs mount failed");
    }
    ~ToolMount() {
        run({"fusermount3", "-u", folder_});
        ::rmdir(folder_.c_str());
    }
    ToolMount(const ToolMount&) = delete;
    ToolMount& operator=(const ToolMount&) = delete;
    std::string file() const { return folder_ + kFile; }

private:
    std::string folder_;
};

class ReadOnlyMount {
public:
    explicit ReadOnlyMount(const std::string& image) {
        check(CL_LyFS_Start() == LYFS_OK, "start");
        check(lyfs_device_open_read_only(image.c_str(), "card", &desc_) == LYFS_OK,
              "read-only mount beside lyfs mount");
    }
    ~ReadOnlyMount() {
        CL_LyFS_Device_Close(&desc_);
        CL_LyFS_Stop();
    }
    ReadOnlyMount(const ReadOnlyMount&) = delete;
    ReadOnlyMount& operator=(const ReadOnlyMount&) = delete;
    dev_desc* desc() { return &desc_; }

private:
    dev_desc desc_{};
};

#endif

}  // namespace

void run_mount_read_benchmark(const Options& options) {
#ifndef LYFS_TOOL_PATH
    (void)options;
    print_figure("read through lyfs mount", "skipped: the tool is built without FUSE");
#else
    if (const std::string why = why_fuse_is_unusable(); !why.empty()) {
        print_figure(kFigure, "skipped: " + why);
        return;
    }
    Options on_image = options;
    on_image.device.clear();  // mounting a block device is no different
    ScratchImage image(on_image, "fuse", kRecordingCardBytes);
    prepare_recording_card(image.path());
    const std::vector<std::uint8_t> data = recording_bytes();
    const std::uint64_t offset = recording_offset(image.path());
    {
        Mount mount(image.path());
        lyfs_write(mount.desc(), data.data(), kClusterBytes, offset);
    }
    ToolMount tool(options, image.path());
    ReadOnlyMount library(image.path());
    std::vector<std::uint8_t> back(kRecordingBytes);
    std::ifstream(tool.file(), std::ios::binary)
        .read(reinterpret_cast<char*>(back.data()), static_cast<std::streamsize>(back.size()));
    check(back == data, "the recording reads back wrong through lyfs mount");
    const double mib = static_cast<double>(kRecordingBytes) / kMiB;
    for (const bool cold : {false, true}) {
        std::vector<double> cat;
        std::vector<double> direct;
        for (int round = 0; round < options.runs; ++round) {
            for (int turn = 0; turn < 2; ++turn) {
                if (cold) {
                    image.drop_cache();
                }
                if ((round + turn) % 2 == 0) {
                    const auto start = Clock::now();
                    check(run({"cat", tool.file()}) == 0, "cat through lyfs mount");
                    cat.push_back(seconds_since(start));
                } else {
                    direct.push_back(lyfs_read(library.desc(), back.data(), kClusterBytes));
                }
            }
        }
        print_figure(format("read 256 MiB through lyfs mount with cat, %s (image), mount/library "
                            "throughput",
                            cold ? "guest page cache dropped" : "page cache"),
                     format("%.3f  (cat %.0f MiB/s, library in 128 KiB pieces %.0f MiB/s)",
                            ratio_of(cat, direct), mib / median(cat), mib / median(direct)));
    }
#endif
}

}  // namespace lyfs::bench
