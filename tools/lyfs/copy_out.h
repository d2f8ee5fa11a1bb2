// One file of the card copied to a local destination, which changes only when the copy is
// kept: a failed copy costs the user no file.
#pragma once

#include <cstdint>
#include <string>

#include "card.h"
#include "progress.h"

namespace lyfs::tool {

struct CopyResult {
    std::uint64_t read = 0;  // bytes read off the card
    bool kept = false;       // the destination holds the bytes read (all of them, or a part)
    std::string sha256;      // of the bytes read, when asked for
    std::string failure;     // why the copy is not whole, and what became of it; empty if whole
    std::string library_said;
};

// Copies the listed file to `destination` and says so on stdout ("/DATA/NAME -> out/NAME"),
// or on stderr when the destination may be stdout itself; the progress bar advances by the
// bytes read. With `keep_partial` what can be read of a file that cannot be read whole is
// kept. With `hash` the bytes are hashed as they come off the card. Fails only when a signal
// stops it (Interrupted); every other failure is in the result.
CopyResult copy_out(Card& card, const CardPath& source, const ListedFile& listed,
                    const std::string& destination, bool keep_partial, bool hash,
                    Progress& progress);

}  // namespace lyfs::tool
