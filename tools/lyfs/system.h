// What the tool needs of the operating system beyond the C++ library, so the
// commands read the same on every system. One implementation per system:
// system_posix.cpp, system_windows.cpp.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace lyfs::tool {

enum class PathKind {
    kMissing,  // `why` says what the system answered
    kFile,     // a regular file: a card image
    kDevice,   // a block device (/dev/sdb) or a drive or volume (\\.\PhysicalDrive2)
    kOther,
};
PathKind path_kind(const std::string& path, std::string* why);

// Flags for open() beside the access mode: descriptors are not inherited by
// child processes, and bytes pass untranslated.
extern const int kOpenFlags;

// Creates a new file of `bytes` that takes no space until written; throws
// Failure when it cannot, and leaves no file behind then.
void create_sparse_file(const std::string& path, std::uint64_t bytes);

// The tool holds a local path as the system's own narrow text: what the command line gives and
// the system's narrow calls and the library take, the ANSI code page on Windows. There the
// MinGW std::filesystem reads a std::string byte for byte as Latin-1 and gives one back as
// UTF-8, so paths cross between the two through these alone.
std::filesystem::path local_path(const std::string& text);
std::string path_text(const std::filesystem::path& path);

// A new, empty folder of the system's temporary folder, named after `prefix`.
std::filesystem::path make_temporary_folder(const std::string& prefix);

bool stdout_is_terminal();
bool stdin_is_terminal();

// The descriptor of standard output, set to pass bytes untranslated.
int standard_output_for_bytes();

// Whether the path names one of the system's own streams or devices (/dev/stdout, /dev/null,
// /proc/self/fd/1), whatever it leads to: written as it stands, never replaced.
bool is_system_stream(const std::string& path);

// Makes the bytes written through `fd` reach the disk; false when they did not.
bool sync_file(int fd);
// Cuts the file open as `fd` to its first `bytes`; false when it could not.
bool truncate_file(int fd, std::uint64_t bytes);

// Puts the file `from` in the place of `to`, in one step: `to` is either as it was or replaced.
// Throws Failure when it cannot.
void replace_file(const std::string& from, const std::string& to);

// From now on SIGINT, SIGTERM and SIGHUP (where there is one) no longer end the process at
// once: they are noted, for a long copy to stop at its next piece and undo what it did.
void catch_interruptions();
// The signal noted since catch_interruptions, or 0.
int interruption();
std::string signal_name(int signal_number);  // "SIGINT"

// Whether the device cannot be written: a card's write-protect switch, a read-only device node
// or image. Nothing is written to find out.
bool is_write_protected(const std::string& path);

// A device or image opened for reading only and read from its start to its end, as a whole:
// what its hash is taken of.
class DeviceReader {
public:
    // Fails with the system's words when it cannot be opened, and when another program holds it
    // for writing (a mount, a format), which would change it under the reader.
    explicit DeviceReader(const std::string& path);
    ~DeviceReader();
    DeviceReader(const DeviceReader&) = delete;
    DeviceReader& operator=(const DeviceReader&) = delete;

    // Bytes from its start to its end.
    std::uint64_t size() const { return size_; }
    // Reads the next bytes into `piece`: as many as fit or as are left, 0 at the end. Fails
    // with the system's words and the offset.
    std::size_t read(std::span<std::uint8_t> piece);

private:
    std::string path_;
    std::intptr_t handle_ = -1;  // a descriptor, or a HANDLE on Windows
    std::uint64_t size_ = 0;
    std::uint64_t offset_ = 0;
};

}  // namespace lyfs::tool
