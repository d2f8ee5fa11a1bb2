#include "copy.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "device.h"
#include "failure.h"
#include "library.h"
#include "progress.h"
#include "space_bar.h"
#include "system.h"
#include "units.h"

namespace lyfs::tool {
namespace {

// About a MiB, in whole clusters: the library moves whole clusters straight to and from the
// caller, and a write that ends inside a cluster would need the reserve kept once more.
std::uint32_t piece_bytes(std::uint32_t sectors_per_cluster) {
    const auto cluster = static_cast<std::uint32_t>(sectors_per_cluster * kSectorBytes);
    return std::max<std::uint32_t>(1, static_cast<std::uint32_t>(kMiB) / cluster) * cluster;
}

void refuse_what_never_fits(Card& card, const CardPath& path, std::uint64_t size) {
    const FolderUsage usage = card.space(path.folder);
    const std::uint64_t reserve = folder_reserve_bytes(path.folder);
    const std::uint64_t largest =
        largest_file_of_folder(usage, path.folder, card.sectors_per_cluster());
    const std::string unchanged = "; nothing on the card was changed";
    if (largest == 0) {
        throw Failure("/" + path.folder + " cannot take files on this card: it has " +
                      format_size(usage.total_bytes) + " and the library keeps " +
                      format_size(reserve) + " of a folder named " + path.folder +
                      " free for recording" + unchanged);
    }
    const std::uint64_t chain = largest_file_bytes(card.sectors_per_cluster());
    if (size > chain) {
        throw Failure(path.text() + ": " + format_size(size) + " is more than the largest file " +
                      "the card holds (" + format_size(chain) + ")" + unchanged);
    }
    if (size > largest) {
        throw Failure("/" + path.folder + " cannot take a file of " + format_size(size) +
                      ": the most it can ever hold is " + format_size(largest) + " (its " +
                      format_size(usage.total_bytes) + " less the " + format_size(reserve) +
                      " it keeps free for recording)" + unchanged);
    }
}

// Takes the file back off the card; says what became of it.
std::string undo(CardFile& file, const CardPath& path, std::uint64_t size) {
    const std::uint32_t written = file.size();
    try {
        file.discard();
        return "removed " + path.text() + " from the card again (" + std::to_string(written) +
               " of its " + std::to_string(size) + " bytes had been written)";
    } catch (const Failure& failure) {
        return path.text() + " could not be removed from the card (" + failure.what() +
               "): it stays as an unfinished file";
    }
}

}  // namespace

void stop_if_interrupted(const std::string& what) {
    if (const int signal_number = interruption(); signal_number != 0) {
        throw Interrupted("stopped by " + signal_name(signal_number) + what, signal_number);
    }
}

std::uint64_t read_card_file(CardFile& file, const CardPath& path, const PieceSink& take) {
    const std::uint64_t size = file.size();
    std::vector<std::uint8_t> piece(kMiB);
    std::uint64_t done = 0;
    while (done < size) {
        stop_if_interrupted(" while " + path.text() + " was read");
        const auto wanted = static_cast<std::uint32_t>(std::min<std::uint64_t>(kMiB, size - done));
        const std::uint32_t got = file.read(piece.data(), wanted);
        if (got == 0) {
            throw Failure(path.text() + " ends after " + std::to_string(done) + " of its " +
                          std::to_string(size) + " bytes (its cluster chain is broken)");
        }
        take(std::span(piece.data(), got));
        done += got;
    }
    return size;
}

std::uint64_t read_card_file(Card& card, const CardPath& path, const PieceSink& take) {
    CardFile file(card, path, CardFile::Mode::Read);
    return read_card_file(file, path, take);
}

std::uint64_t largest_file_of_folder(const FolderUsage& usage, const std::string& folder,
                                     std::uint32_t sectors_per_cluster) {
    const std::uint64_t cluster = std::uint64_t{sectors_per_cluster} * kSectorBytes;
    const std::uint64_t reserve = folder_reserve_bytes(folder);
    const std::uint64_t room =
        usage.total_bytes > reserve ? (usage.total_bytes - reserve) / cluster * cluster : 0;
    return std::min(room, largest_file_bytes(sectors_per_cluster));
}

void write_card_file(Card& card, const CardPath& path, std::uint64_t size, const PieceSource& fill,
                     const ReclaimReport& reclaimed, bool show_progress) {
    refuse_what_never_fits(card, path, size);
    stop_if_interrupted(": nothing was written to the card");
    Progress progress(path.text(), size, show_progress);
    std::size_t reclaimed_count = 0;
    const auto report_reclaimed = [&] {
        const auto paths = Library::take_reclaimed();
        if (!paths.empty()) {
            progress.clear();
        }
        for (const std::string& gone : paths) {
            reclaimed(gone);
        }
        reclaimed_count += paths.size();
    };
    const auto still_gone = [&] {
        return reclaimed_count == 0 ? std::string()
                                    : "; the files reclaimed to make room for it stay deleted";
    };
    std::unique_ptr<CardFile> file;
    try {
        file = std::make_unique<CardFile>(card, path, CardFile::Mode::Write);
    } catch (const Failure&) {
        report_reclaimed();  // what the library deleted before the create failed is gone anyway
        throw;
    }
    report_reclaimed();
    const std::uint32_t piece_size = piece_bytes(card.sectors_per_cluster());
    std::vector<std::uint8_t> piece(piece_size);
    std::uint64_t done = 0;
    try {
        while (done < size) {
            stop_if_interrupted(" while " + path.text() + " was written");
            const auto length =
                static_cast<std::uint32_t>(std::min<std::uint64_t>(piece_size, size - done));
            fill(std::span(piece.data(), length));
            file->write(piece.data(), length);
            report_reclaimed();
            done += length;
            progress.advance(length);
        }
    } catch (const Interrupted& stop) {
        report_reclaimed();
        progress.clear();
        throw Interrupted(std::string(stop.what()) + ": " + undo(*file, path, size) + still_gone(),
                          stop.signal_number());
    } catch (const Failure& failure) {
        report_reclaimed();
        progress.clear();
        throw Failure(std::string(failure.what()) + "; " + undo(*file, path, size) + still_gone(),
                      failure.library_said());
    }
    file->close();
}

}  // namespace lyfs::tool
