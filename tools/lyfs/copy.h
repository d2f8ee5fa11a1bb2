// Moving whole files between the card and the host, in large pieces.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "card.h"

namespace lyfs::tool {

// Receives the next piece of a file read from the card.
using PieceSink = std::function<void(std::span<const std::uint8_t>)>;
// Fills the whole span with the next piece of a file being written to the card.
using PieceSource = std::function<void(std::span<std::uint8_t>)>;
// Told of each file the library reclaims ("/EVENT/NAME"), as soon as it is gone.
using ReclaimReport = std::function<void(const std::string&)>;

// Reads the whole file, exactly its size (the library reads to the end of its last cluster).
// Returns the size. Stops with Interrupted when a signal was caught (catch_interruptions).
std::uint64_t read_card_file(CardFile& file, const CardPath& path, const PieceSink& take);
std::uint64_t read_card_file(Card& card, const CardPath& path, const PieceSink& take);

// Stops with Interrupted, naming the signal and then `what` was being done (" while ..."), when
// one was caught since catch_interruptions.
void stop_if_interrupted(const std::string& what);

// The largest file the folder can ever take: the library keeps the folder's reserve free for
// recording, so a file can fill its content area but for the reserve, and no more than the
// longest chain the library tracks. 0 when the reserve leaves no room.
std::uint64_t largest_file_of_folder(const FolderUsage& usage, const std::string& folder,
                                     std::uint32_t sectors_per_cluster);

// Writes a new file of `size` bytes (at least one: the card takes an empty file for one whose
// writer never closed it) and commits it. The library may reclaim the folder's oldest files to
// make room. A file the folder can never take is refused before anything changes; a write that
// fails, or a signal caught on the way (Interrupted), removes what was written from the card.
void write_card_file(Card& card, const CardPath& path, std::uint64_t size, const PieceSource& fill,
                     const ReclaimReport& reclaimed, bool show_progress);

}  // namespace lyfs::tool
