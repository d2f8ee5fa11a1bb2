#include "progress.h"

#include <cstdio>

#include "system.h"
#include "units.h"

namespace lyfs::tool {
namespace {

// Copies shorter than this finish before a bar would tell anything.
constexpr std::uint64_t kWorthShowingBytes = 16 * kMiB;
constexpr int kBarWidth = 30;
constexpr std::size_t kLabelWidth = 32;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

std::string fitted_label(const std::string& label) {
    if (label.size() <= kLabelWidth) {
        return label + std::string(kLabelWidth - label.size(), ' ');
    }
    return "..." + label.substr(label.size() - (kLabelWidth - 3));
}

}  // namespace

Progress::Progress(std::string label, std::uint64_t total_bytes, bool wanted)
    : label_(fitted_label(label)),
      total_(total_bytes),
      shown_(wanted && total_bytes >= kWorthShowingBytes && stdout_is_terminal()) {}

Progress::~Progress() {
    clear();
}

void Progress::advance(std::uint64_t bytes) {
    done_ += bytes;
    if (!shown_) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (drawn_ && done_ < total_ && now - last_draw_ < kRedrawInterval) {
        return;
    }
    last_draw_ = now;
    draw();
}

void Progress::clear() {
    if (drawn_) {
        std::fputs("\r\033[K", stdout);
        std::fflush(stdout);
        drawn_ = false;
    }
}

void Progress::draw() {
    const double fraction = static_cast<double>(done_) / static_cast<double>(total_);
    const int filled = static_cast<int>(fraction * kBarWidth);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(kBarWidth, '.');
    std::printf("\r%s [%s] %3d%%  %s of %s\033[K", label_.c_str(), bar.c_str(),
                static_cast<int>(fraction * 100), format_size(done_).c_str(),
                format_size(total_).c_str());
    std::fflush(stdout);
    drawn_ = true;
}

}  // namespace lyfs::tool
