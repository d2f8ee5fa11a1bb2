// Where a file copied off the card goes, so that a copy that fails never costs the user a file.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "local_file.h"

namespace lyfs::tool {

class CopyDestination {
public:
    // A regular file, or a path where there is none yet, is written through a new temporary
    // file beside it that takes its place only once the copy is kept; a link is followed to
    // what it names. Anything else (a device, a pipe, the terminal, "-" for standard output) is
    // written as it stands and never removed.
    explicit CopyDestination(const std::string& path);
    ~CopyDestination();
    CopyDestination(const CopyDestination&) = delete;
    CopyDestination& operator=(const CopyDestination&) = delete;

    // Written as it stands: what was written stays even when the copy fails.
    bool in_place() const { return temporary_.empty(); }
    // The destination as the user named it ("standard output" for "-").
    const std::string& name() const { return name_; }
    std::uint64_t written() const { return written_; }

    void write_all(std::span<const std::uint8_t> piece);
    // The copy becomes the destination.
    void keep();
    // The temporary file goes; the destination is as it was.
    void abandon();

private:
    std::string name_;
    std::string target_;     // the file the copy becomes
    std::string temporary_;  // empty when written in place
    std::unique_ptr<LocalFile> file_;
    std::uint64_t written_ = 0;
};

}  // namespace lyfs::tool
