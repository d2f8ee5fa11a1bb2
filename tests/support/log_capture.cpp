#include "support/log_capture.h"

#include <algorithm>

#include "lyfs/lyfs.h"

namespace lyfs::test {

LogCapture::LogCapture(bool verbose) {
    lyfs_set_debug_output(&LogCapture::sink, this, verbose);
}

LogCapture::~LogCapture() {
    lyfs_set_debug_output(nullptr, nullptr, 0);
}

void LogCapture::sink(const char* line, void* user) {
    auto* self = static_cast<LogCapture*>(user);
    std::lock_guard<std::mutex> guard(self->mutex_);
    self->lines_.emplace_back(line);
}

std::vector<std::string> LogCapture::lines() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return lines_;
}

std::size_t LogCapture::count(const std::string& text) const {
    std::lock_guard<std::mutex> guard(mutex_);
    return static_cast<std::size_t>(std::count_if(lines_.begin(), lines_.end(), [&](const auto& l) {
        return l.find(text) != std::string::npos;
    }));
}

void LogCapture::clear() {
    std::lock_guard<std::mutex> guard(mutex_);
    lines_.clear();
}

}  // namespace lyfs::test
