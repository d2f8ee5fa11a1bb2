#include "copy_out.h"

#include <cstdio>

#include "copy.h"
#include "copy_destination.h"
#include "failure.h"
#include "names.h"
#include "sha256.h"
#include "units.h"

namespace lyfs::tool {
namespace {

// What becomes of a copy that did not finish, in words: what was written in place stays, a
// partial copy is kept when asked (`keep`), anything else leaves the destination as it was.
std::string settle_unfinished(CopyDestination& local, bool keep, bool hint, bool* kept) {
    const std::string got = std::to_string(local.written());
    const std::string name = local.name();
    if (local.in_place()) {
        *kept = local.written() != 0;
        local.abandon();
        return got + " bytes of it went to " + name;
    }
    if (keep && local.written() != 0) {
        local.keep();
        // Only once it is in its place: a part that could not be put there is listed nowhere.
        *kept = true;
        return "kept its first " + got + " bytes as " + name;
    }
    local.abandon();
    return name + " was left as it was" +
           (hint && local.written() != 0
                ? " (--keep-partial keeps the " + got + " bytes that could be read)"
                : "");
}

}  // namespace

CopyResult copy_out(Card& card, const CardPath& source, const ListedFile& listed,
                    const std::string& destination, bool keep_partial, bool hash,
                    Progress& progress) {
    CopyResult result;
    Sha256 digest;
    try {
        CardFile file(card, source, listed);
        CopyDestination local(destination);
        std::uint64_t size = 0;
        bool read_whole = false;
        try {
            size = read_card_file(file, source, [&](std::span<const std::uint8_t> piece) {
                local.write_all(piece);
                result.read += piece.size();
                if (hash) {
                    digest.update(piece);
                }
                progress.advance(piece.size());
            });
            read_whole = true;
        } catch (const Interrupted& stop) {
            throw Interrupted(std::string(stop.what()) + "; " +
                                  settle_unfinished(local, false, false, &result.kept),
                              stop.signal_number());
        } catch (const Failure& failure) {
            result.failure = std::string(failure.what()) + "; " +
                             settle_unfinished(local, keep_partial, true, &result.kept);
            result.library_said = failure.library_said();
        }
        if (read_whole) {
            local.keep();  // when it cannot, the destination is as it was (below)
            result.kept = true;
            progress.clear();
            // A stream written as it stands may be standard output itself.
            std::fprintf(local.in_place() ? stderr : stdout, "%s -> %s (%s)\n",
                         printable(source.text()).c_str(), printable(local.name()).c_str(),
                         format_size(size).c_str());
        }
    } catch (const Interrupted&) {
        throw;
    } catch (const Failure& failure) {
        // The file or the destination could not be opened, or the copy not put in its place.
        result.failure = failure.what();
        result.library_said = failure.library_said();
    }
    if (hash && result.kept) {
        result.sha256 = digest.finish_hex();
    }
    return result;
}

}  // namespace lyfs::tool
