#include "mount_record.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace lyfs::tool {
namespace {

namespace fs = std::filesystem;

constexpr const char* kRecordSuffix = ".mount";

// The folder this user's records go to; empty when there is none that is safely this user's.
std::string own_record_folder() {
    std::string base;
    if (::geteuid() == 0) {
        base = "/run";
    } else if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr) {
        base = runtime;
    } else {
        base = "/tmp";
    }
    const std::string folder =
        base + (base == "/tmp" ? "/lyfs-" + std::to_string(::geteuid()) : "/lyfs");
    ::mkdir(folder.c_str(), 0755);
    // In a folder others can write to, a folder of that name may be someone else's.
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
        (st.st_mode & 022) != 0) {
        return {};
    }
    return folder;
}

// Where root looks for the records of mounts other users made.
std::vector<std::string> every_record_folder() {
    std::vector<std::string> folders;
    if (const std::string own = own_record_folder(); !own.empty()) {
        folders.push_back(own);
    }
    if (::geteuid() != 0) {
        return folders;
    }
    std::error_code error;
    for (const char* base : {"/run/user", "/tmp"}) {
        for (const auto& entry : fs::directory_iterator(base, error)) {
            const std::string name = entry.path().filename().string();
            if (std::string_view(base) == "/run/user") {
                folders.push_back(entry.path().string() + "/lyfs");
            } else if (name.starts_with("lyfs-")) {
                folders.push_back(entry.path().string());
            }
        }
    }
    return folders;
}

std::string record_name(const std::string& mountpoint) {
    // FNV-1a: a name that depends on the mount point alone, from any build of the tool.
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : mountpoint) {
        hash = (hash ^ c) * 0x100000001b3ull;
    }
    char name[32];
    std::snprintf(name, sizeof name, "%016llx%s", static_cast<unsigned long long>(hash),
                  kRecordSuffix);
    return name;
}

// Mount points in /proc/self/mountinfo write a space, tab, newline and backslash as \ooo.
std::string unescape_octal(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::optional<MountRecord> parse_mount_record(std::istream& in) {
    MountRecord record;
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
        if (key == "pid") {
            record.pid = static_cast<pid_t>(std::atol(value.c_str()));
        } else if (key == "device") {
            record.device = value;
        } else if (key == "mountpoint") {
            record.mountpoint = value;
        } else if (key == "read-only") {
            record.read_only = value == "1";
        } else if (key == "ended") {
            record.ended = true;
        } else if (key == "failure") {
            record.failures.push_back(value);
        }
    }
    return record.pid > 0 ? std::optional(record) : std::nullopt;
}

// Root reads records that other users can write. One is believed only when its folder is a
// real folder and the record a regular file, both of one user: a link would lead root's reads
// elsewhere, and a file of another user in the folder was not written by the mount. `owner`
// gets that user.
std::optional<MountRecord> read_record(const std::string& file, uid_t* owner) {
    if (::geteuid() != 0) {
        std::ifstream in(file);
        return in ? parse_mount_record(in) : std::nullopt;
    }
    const fs::path path(file);
    const int folder =
        ::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0) {
        return std::nullopt;
    }
    struct stat folder_st {};
    const int fd = ::fstat(folder, &folder_st) == 0 && S_ISDIR(folder_st.st_mode)
                       ? ::openat(folder, path.filename().c_str(),
                                  O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)
                       : -1;
    ::close(folder);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat file_st {};
    std::string text;
    // A record is a few lines; a huge one is not the mount's.
    constexpr std::size_t kLargestRecord = 65536;
    if (::fstat(fd, &file_st) == 0 && S_ISREG(file_st.st_mode) &&
        file_st.st_uid == folder_st.st_uid && file_st.st_size <= off_t{kLargestRecord}) {
        char buffer[4096];
        ssize_t count = 0;
        while (text.size() < kLargestRecord && (count = ::read(fd, buffer, sizeof buffer)) > 0) {
            text.append(buffer, static_cast<std::size_t>(count));
        }
    }
    ::close(fd);
    if (text.empty()) {
        return std::nullopt;
    }
    if (owner != nullptr) {
        *owner = folder_st.st_uid;
    }
    std::istringstream in(text);
    return parse_mount_record(in);
}

// Whether the process runs as `user`: a record must not make root stop or wait for a process
// of anyone but the user who wrote it.
bool runs_as(pid_t pid, uid_t user) {
    struct stat st {};
    return ::stat(("/proc/" + std::to_string(pid)).c_str(), &st) == 0 && st.st_uid == user;
}

}  // namespace

std::string mount_point_key(const std::string& path) {
    fs::path absolute = fs::absolute(path).lexically_normal();
    if (absolute.filename().empty() && absolute.has_relative_path()) {
        absolute = absolute.parent_path();  // "mnt/"
    }
    std::error_code error;
    const fs::path parent = fs::canonical(absolute.parent_path(), error);
    return error ? absolute.string() : (parent / absolute.filename()).string();
}

bool save_mount_record(const MountRecord& record) {
    const std::string folder = own_record_folder();
    if (folder.empty()) {
        return false;
    }
    const std::string file = folder + "/" + record_name(record.mountpoint);
    const std::string partial = file + ".new";
    {
        std::ofstream out(partial, std::ios::trunc);
        out << "pid " << record.pid << "\ndevice " << record.device << "\nmountpoint "
            << record.mountpoint << "\nread-only " << (record.read_only ? 1 : 0) << "\n";
        if (record.ended) {
            out << "ended\n";
        }
        for (const std::string& failure : record.failures) {
            out << "failure " << failure << "\n";
        }
        if (!out.flush()) {
            std::remove(partial.c_str());
            return false;
        }
    }
    return std::rename(partial.c_str(), file.c_str()) == 0;
}

std::optional<MountRecord> read_mount_record(const std::string& file) {
    return read_record(file, nullptr);
}

std::optional<std::pair<MountRecord, std::string>> find_mount_record(
    const std::string& mountpoint) {
    for (const std::string& folder : every_record_folder()) {
        const std::string file = folder + "/" + record_name(mountpoint);
        uid_t owner = 0;
        const std::optional<MountRecord> record = read_record(file, &owner);
        // A record whose process is gone is left from a mount that ended without lyfs umount.
        if (record && record->mountpoint == mountpoint && !record->ended &&
            ::kill(record->pid, 0) == 0 && (::geteuid() != 0 || runs_as(record->pid, owner))) {
            return std::pair(*record, file);
        }
    }
    return std::nullopt;
}

bool is_lyfs_mount(const std::string& mountpoint) {
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        // ID PARENT MAJ:MIN ROOT MOUNTPOINT OPTIONS [OPTIONAL...] - TYPE SOURCE SUPER-OPTIONS
        std::istringstream fields(line);
        std::string skip, point, field;
        fields >> skip >> skip >> skip >> skip >> point;
        while (fields >> field && field != "-") {
        }
        std::string type;
        fields >> type;
        if (type == "fuse.lyfs" && unescape_octal(point) == mountpoint) {
            return true;
        }
    }
    return false;
}

}  // namespace lyfs::tool
