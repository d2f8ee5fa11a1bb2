// The scan that finds a folder's ring and files again at every mount.
#pragma once

#include <cstdint>

#include "device/partition.h"
#include "entry/file_object.h"
#include "folder/folder.h"

namespace lyfs {

// The ring search's working values, kept by one scan alone.
struct RingSearch {
    std::uint32_t header = 0xFFFFFFFF;
    std::uint32_t tail = 0xFFFFFFFF;
    std::uint32_t first_free = 0xFFFFFFFF;
    bool run_from_zero = false;
    bool second_run = false;
};

// One step of the ring search for slot `index`; stores header, tail and
// count into the folder.
void update_file_entry_ring(stFOLDER* folder, RingSearch* search, std::uint32_t index, bool used);

// Deletes a listed file wherever it stands in the ring, for the scan, which
// cannot follow a file's cluster chain itself; 0 or the failure.
using DeleteListedFile = int32_t (*)(stPARTITION* part, stFOLDER* folder, stFILE* file);

// Lays the folder out, creates its locks and cache, finds its ring, lists
// its files oldest first and charges their sizes against its free space.
// A file that no longer fits is deleted through `delete_misfit` and the scan
// goes on; a record that cannot be decoded is counted, not listed, and left
// on the card.
int32_t setup_folder_file_list(stPARTITION* part, stFOLDER* folder, DeleteListedFile delete_misfit);

}  // namespace lyfs
