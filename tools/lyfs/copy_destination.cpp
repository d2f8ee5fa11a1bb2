#include "copy_destination.h"

#include <filesystem>

#include "failure.h"
#include "system.h"

namespace lyfs::tool {
namespace {

namespace fs = std::filesystem;

constexpr int kMostLinks = 40;  // as many as the system itself follows

// What a chain of symbolic links ends at, existing or not.
fs::path followed(fs::path path) {
    std::error_code error;
    for (int hops = 0; hops < kMostLinks && fs::is_symlink(path, error); ++hops) {
        const fs::path target = fs::read_symlink(path, error);
        if (error) {
            break;
        }
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return path;
}

}  // namespace

CopyDestination::CopyDestination(const std::string& path) : name_(path) {
    if (path == "-") {
        name_ = "standard output";
        file_ = std::make_unique<LocalFile>(LocalFile::standard_output());
        return;
    }
    std::error_code error;
    const fs::file_status status = fs::status(local_path(path), error);
    if (fs::is_directory(status)) {
        throw Failure(path + " is a folder");
    }
    if ((fs::exists(status) && !fs::is_regular_file(status)) || is_system_stream(path)) {
        file_ = std::make_unique<LocalFile>(LocalFile::open_for_writing(path));
        return;
    }
    target_ = path_text(followed(local_path(path)));
    file_ = std::make_unique<LocalFile>(LocalFile::create_beside(target_, &temporary_));
    if (fs::exists(status)) {
        // The copy takes the place of the file, and keeps who may read it.
        fs::permissions(local_path(temporary_), status.permissions(), error);
    }
}

CopyDestination::~CopyDestination() {
    if (file_ != nullptr) {
        abandon();
    }
}

void CopyDestination::write_all(std::span<const std::uint8_t> piece) {
    try {
        file_->write_all(piece);
    } catch (const Failure&) {
        // A full disk takes part of a piece before it refuses the rest: a copy kept in part
        // must hold exactly the pieces counted, or none at all.
        if (!temporary_.empty() && !file_->truncate(written_)) {
            written_ = 0;
        }
        throw;
    }
    written_ += piece.size();
}

void CopyDestination::keep() {
    std::unique_ptr<LocalFile> file = std::move(file_);
    if (temporary_.empty()) {
        file->finish();
        return;
    }
    try {
        // On the disk before it takes the place of the file: a host that loses power then
        // keeps the one or the other.
        file->sync();
        file->finish();
        replace_file(temporary_, target_);
    } catch (...) {
        file->discard();
        throw;
    }
}

void CopyDestination::abandon() {
    std::unique_ptr<LocalFile> file = std::move(file_);
    if (temporary_.empty()) {
        file->finish_quietly();
    } else {
        file->discard();
    }
}

}  // namespace lyfs::tool
