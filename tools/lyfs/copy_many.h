// lyfs get of a folder or of the whole card: every file it can copy (on an evidence card each
// one counts), the others named at the end.
#pragma once

#include <string>

#include "card.h"

namespace lyfs::tool {

struct CopyManyOptions {
    bool keep_partial = false;
    bool manifest = false;    // SHA256SUMS and lyfs-report.txt beside the copies
    bool hash_device = true;  // the report's hash of the whole device
};

// Copies the files of `folder` into `destination`, or with an empty `folder` those of every
// folder, each into destination/FOLDER, under their local names, with one progress bar.
// Returns the exit status: a failure when any file or folder could not be copied.
int copy_many(Card& card, const std::string& folder, const std::string& destination,
              const CopyManyOptions& options);

}  // namespace lyfs::tool
