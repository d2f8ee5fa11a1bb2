// Collects the library's diagnostic lines for the life of the object.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace lyfs::test {

class LogCapture {
public:
    explicit LogCapture(bool verbose = false);
    ~LogCapture();

    std::vector<std::string> lines() const;
    // Lines that contain `text`.
    std::size_t count(const std::string& text) const;
    bool contains(const std::string& text) const { return count(text) > 0; }
    void clear();

private:
    static void sink(const char* line, void* user);
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace lyfs::test
