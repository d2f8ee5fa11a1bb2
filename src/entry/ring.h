// A folder's file-entry area used as a ring: new files take the slot behind
// the newest (the tail), deletions take the oldest (the header).
#pragma once

#include <cstdint>

#include "entry/file_object.h"

namespace lyfs {

// Slots from header to tail inclusive, going forward with wrap-around.
std::uint32_t get_file_entry_count(std::uint32_t header, std::uint32_t tail, std::uint32_t totals);
// The slot after `index` (0 for a ring without slots).
std::uint32_t next_ring_slot(const stFOLDER* folder, std::uint32_t index);
std::uint32_t get_free_file_entries(stFOLDER* folder);

// Reserves the slot behind the tail; 38 when it still holds a file.
int32_t find_free_file_entry(stPARTITION* part, stFOLDER* folder, std::uint32_t* entry_index);
// Gives back the slot the last find_free_file_entry reserved.
void release_reserved_file_entry(stFOLDER* folder, std::uint32_t entry_index,
                                 std::uint32_t previous_tail);

// Erases the file's slot, moves the header to the next slot that holds a
// file, and frees the object. 39 when the file is not at the header.
int32_t delete_file_entry(stPARTITION* part, stFOLDER* folder, stFILE* file);
// Erases the header's slot, whatever it holds, and moves the header on as
// delete_file_entry does.
int32_t delete_header_entry(stPARTITION* part, stFOLDER* folder);
// Erases the tail's slot, `index`, and moves the tail back to the slot
// before it, where it stood before the slot was taken (the ring empties when
// it was the only one).
int32_t delete_tail_entry(stPARTITION* part, stFOLDER* folder, std::uint32_t index);

// Searches the ring for `name` and builds its object, or null.
stFILE* generate_file_object(stPARTITION* part, stFOLDER* folder, const char* name);

}  // namespace lyfs
