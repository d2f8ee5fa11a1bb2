// A progress bar for long copies and hashes, drawn only when stdout is a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace lyfs::tool {

class Progress {
public:
    // Shows nothing for short copies or when stdout is not a terminal, or when not wanted.
    Progress(std::string label, std::uint64_t total_bytes, bool wanted);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Counts `bytes` more as done.
    void advance(std::uint64_t bytes);
    // Clears the bar so that a line can be printed; the next update draws it again.
    void clear();

private:
    void draw();

    std::string label_;
    std::uint64_t total_;
    std::uint64_t done_ = 0;
    bool shown_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point last_draw_{};
};

}  // namespace lyfs::tool
