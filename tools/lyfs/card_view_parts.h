// What the view keeps of each open file, shared by the files that implement the view.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "card_view.h"

namespace lyfs::tool {

struct CardView::Reader {
    std::mutex mutex;  // the library keeps one position per open file, shared by its readers
    std::uint32_t fd = LYFS_INVALID_FD;
    std::string path;    // as listed
    std::string folder;  // its name on the card, as the checker knows it
    std::string card_name;
    std::uint64_t size = 0;
    std::uint64_t position = 0;
    bool damaged = false;  // its chain ends before its size
    int users = 0;         // guarded by state_
};

struct CardView::Writer {
    std::mutex mutex;
    Folder* folder = nullptr;
    std::string name;  // on the card and in the listing alike
    std::string path;
    // The card gets the file with its first bytes, so that a file nobody writes to never
    // reaches it (the card cannot hold an empty file).
    std::uint32_t fd = LYFS_INVALID_FD;
    std::uint64_t written = 0;
    bool failed = false;   // a write failed or was refused: the copy is not whole
    bool closing = false;  // a descriptor was closed since the last write; guarded by state_
};

struct CardView::Handle {
    Reader* reader = nullptr;
    std::unique_ptr<Writer> writer;
};

// "the library gave no reason" where it logged none.
std::string or_unknown(const std::string& reason);

}  // namespace lyfs::tool
