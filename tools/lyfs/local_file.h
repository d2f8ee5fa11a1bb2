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
    // Creates the file, or empties an existing one.
    static LocalFile create(const std::string& path);

    ~LocalFile();
    LocalFile(LocalFile&& other) noexcept;
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;
    LocalFile& operator=(LocalFile&&) = delete;

    std::uint64_t size() const;
    // Fills the whole span; fails when the file ends first.
    void read_exactly(std::span<std::uint8_t> piece);
    void write_all(std::span<const std::uint8_t> piece);
    // Closes a file being written and makes sure its bytes arrived.
    void finish();
    // Closes and deletes a file whose copy failed, so no truncated copy is left behind.
    void discard();

private:
    LocalFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}

    std::string path_;
    int fd_ = -1;
};

}  // namespace lyfs::tool
