// A file of the host, read or written whole in pieces.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>

namespace lyfs::tool {

class LocalFile {
public:
    // Opens an existing regular file for reading.
    static LocalFile open_for_reading(const std::string& path);
    // Opens what is at `path` (a device, a pipe) for writing as it stands.
    static LocalFile open_for_writing(const std::string& path);
    // Creates a new file beside `target`, named after it, that nothing else uses; its path in
    // `*temporary`.
    static LocalFile create_beside(const std::string& target, std::string* temporary);
    static LocalFile standard_output();

    ~LocalFile();
    LocalFile(LocalFile&& other) noexcept;
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;
    LocalFile& operator=(LocalFile&&) = delete;

    std::uint64_t size() const;
    // Fills the whole span; fails when the file ends first.
    void read_exactly(std::span<std::uint8_t> piece);
    void write_all(std::span<const std::uint8_t> piece);
    // Cuts the file to its first `bytes`; false when it could not.
    bool truncate(std::uint64_t bytes);
    // Makes sure the bytes written so far are on the disk.
    void sync();
    // Closes a file being written and makes sure its bytes arrived.
    void finish();
    // Closes it whatever became of its bytes.
    void finish_quietly();
    // Closes and deletes a file whose copy failed, so no truncated copy is left behind.
    void discard();

private:
    LocalFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}

    std::string path_;
    int fd_ = -1;
    bool close_at_end_ = true;  // not standard output, which stays open for messages
};

}  // namespace lyfs::tool
