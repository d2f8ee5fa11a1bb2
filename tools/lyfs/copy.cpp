#include "copy.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "device.h"
#include "failure.h"
#include "library.h"
#include "progress.h"
#include "units.h"

namespace lyfs::tool {

std::uint64_t read_card_file(Card& card, const CardPath& path, const PieceSink& take,
                             bool show_progress) {
    CardFile file(card, path, CardFile::Mode::Read);
    const std::uint64_t size = file.size();
    Progress progress(path.text(), size, show_progress);
    std::vector<std::uint8_t> piece(kPieceBytes);
    std::uint64_t done = 0;
    while (done < size) {
        const auto wanted =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(kPieceBytes, size - done));
        const std::uint32_t got = file.read(piece.data(), wanted);
        if (got == 0) {
            throw Failure(path.text() + " ends after " + std::to_string(done) + " of its " +
                          std::to_string(size) + " bytes");
        }
        take(std::span(piece.data(), got));
        done += got;
        progress.update(done);
    }
    return size;
}

void write_card_file(Card& card, const CardPath& path, std::uint64_t size, const PieceSource& fill,
                     const ReclaimReport& reclaimed, bool show_progress) {
    if (const std::uint64_t largest = largest_file_bytes(card.sectors_per_cluster());
        size > largest) {
        throw Failure(path.text() + ": " + format_size(size) + " is more than the largest file " +
                      "the card holds (" + format_size(largest) + ")");
    }
    Progress progress(path.text(), size, show_progress);
    const auto report_reclaimed = [&] {
        const auto paths = Library::take_reclaimed();
        if (!paths.empty()) {
            progress.clear();
        }
        for (const std::string& gone : paths) {
            reclaimed(gone);
        }
    };
    std::unique_ptr<CardFile> file;
    try {
        file = std::make_unique<CardFile>(card, path, CardFile::Mode::Write);
    } catch (const Failure&) {
        report_reclaimed();  // what the library deleted before the create failed is gone anyway
        throw;
    }
    report_reclaimed();
    std::vector<std::uint8_t> piece(kPieceBytes);
    std::uint64_t done = 0;
    try {
        while (done < size) {
            const auto length =
                static_cast<std::uint32_t>(std::min<std::uint64_t>(kPieceBytes, size - done));
            fill(std::span(piece.data(), length));
            file->write(piece.data(), length);
            report_reclaimed();
            done += length;
            progress.update(done);
        }
    } catch (const Failure& failure) {
        report_reclaimed();
        const std::uint32_t kept = file->size();
        file->close();
        throw Failure(std::string(failure.what()) + "; the first " + std::to_string(kept) +
                          " bytes stay on the card as " + path.text(),
                      failure.library_said());
    }
    file->close();
}

}  // namespace lyfs::tool
