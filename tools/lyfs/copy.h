// Moving whole files between the card and the host, in large pieces.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "card.h"

namespace lyfs::tool {

// Eight clusters of 128 KiB: the library moves whole clusters straight to and from the caller.
inline constexpr std::uint32_t kPieceBytes = 1024 * 1024;

// Receives the next piece of a file read from the card.
using PieceSink = std::function<void(std::span<const std::uint8_t>)>;
// Fills the whole span with the next piece of a file being written to the card.
using PieceSource = std::function<void(std::span<std::uint8_t>)>;
// Told of each file the library reclaims ("/EVENT/NAME"), as soon as it is gone.
using ReclaimReport = std::function<void(const std::string&)>;

// Reads the whole file, exactly its size (the library reads to the end of its last cluster).
// Returns the size.
std::uint64_t read_card_file(Card& card, const CardPath& path, const PieceSink& take,
                             bool show_progress);

// Writes a new file of `size` bytes (at least one: the card takes an empty file for one whose
// writer never closed it) and commits it. The library may reclaim the folder's
// oldest files to make room. On a failure the part written stays on the card (there is no
// way to delete a single file), and the message says so.
void write_card_file(Card& card, const CardPath& path, std::uint64_t size, const PieceSource& fill,
                     const ReclaimReport& reclaimed, bool show_progress);

}  // namespace lyfs::tool
