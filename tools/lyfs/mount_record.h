// What a running lyfs mount leaves for lyfs umount: which process serves which mount point and,
// once that process has let go of the card, whether everything was committed. One small file
// per mount under the runtime directory of the user who mounted (/run/lyfs for root).
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace lyfs::tool {

struct MountRecord {
    pid_t pid = 0;
    std::string device;
    std::string mountpoint;
    bool read_only = false;
    bool ended = false;                 // the card is closed and the process about to exit
    std::vector<std::string> failures;  // what could not be committed or flushed, once ended
};

// The mount point as the kernel lists it: absolute, with the links of its parent resolved
// (the mount point itself is not looked at: its file system may be gone).
std::string mount_point_key(const std::string& path);

// Writes (or rewrites) the record of a mount; the file is replaced in one step, so a reader
// sees the old record or the new one. False, with nothing written, when there is no runtime
// directory that is this user's own.
bool save_mount_record(const MountRecord& record);

// The record of the mount at `mountpoint` (a mount_point_key), found in this user's runtime
// directory or, for root, in any user's, with the path of its file. Root takes a record only
// where its folder, its file and the process it names belong to one user: any user can write
// a record naming any process.
std::optional<std::pair<MountRecord, std::string>> find_mount_record(const std::string& mountpoint);

// Reads the record file again (after its process has ended); for root, with the same check of
// its folder and file.
std::optional<MountRecord> read_mount_record(const std::string& file);

// Whether the kernel lists a lyfs mount (a FUSE mount of subtype lyfs) at `mountpoint`.
bool is_lyfs_mount(const std::string& mountpoint);

}  // namespace lyfs::tool
