// Reading recordings: one library open per file shared by all its readers, and reads that fail
// loudly where a damaged recording's chain ends before its size.
#include <algorithm>
#include <cerrno>
#include <chrono>

#include "card_view_parts.h"
#include "file_records.h"
#include "library.h"
#include "names.h"

namespace lyfs::tool {
namespace {

// A program that reads a new file right after writing it waits this long at most for the
// file's release, which the kernel sends after close returns.
constexpr auto kCommitWait = std::chrono::seconds(10);

}  // namespace

int CardView::open(std::string_view text, bool for_writing, Handle** handle, bool* uncached) {
    Path path;
    if (const int error = resolve_listed(text, &path)) {
        return error;
    }
    if (for_writing) {
        return read_only_ ? -EROFS
                          : refuse("opening " + path.text + " for writing",
                                   "files on the card are never rewritten", EPERM);
    }
    Reader* reader = nullptr;
    if (const int error = open_reader(path, &reader)) {
        return error;
    }
    auto opened = std::make_unique<Handle>();
    opened->reader = reader;
    *uncached = reader->damaged;
    std::lock_guard lock(state_);
    handles_.insert(opened.get());
    *handle = opened.release();
    return 0;
}

int CardView::wait_for_writer(const Path& path) {
    std::unique_lock lock(state_);
    const auto writer = [&]() -> Writer* {
        const FileRecord* record = find(path);
        return record == nullptr ? nullptr : record->writer;
    };
    const Writer* current = writer();
    if (current == nullptr) {
        return 0;
    }
    if (!current->closing) {
        lock.unlock();
        return refuse("opening " + path.text, "it is being written", EBUSY);
    }
    return writer_done_.wait_for(lock, kCommitWait, [&] { return writer() == nullptr; }) ? 0
                                                                                         : -EBUSY;
}

int CardView::open_reader(const Path& path, Reader** reader) {
    if (const int error = wait_for_writer(path)) {
        return error;
    }
    std::lock_guard open_lock(opening_);
    auto opened = std::make_unique<Reader>();
    {
        std::lock_guard lock(state_);
        const FileRecord* record = find(path);
        if (record == nullptr) {
            return -ENOENT;  // reclaimed, or a new file that was never written
        }
        if (record->writer != nullptr) {
            return -EBUSY;
        }
        if (const auto r = readers_.find(record->fd); r != readers_.end()) {
            ++r->second->users;
            *reader = r->second.get();
            return 0;
        }
        opened->fd = record->fd;
        opened->card_name = record->card_name;
    }
    // By its fd: the card name may hold a slash or belong to another file as well.
    forget_library_failures();
    const std::uint32_t fd = CL_LyFS_File_Open(card_.handle(), nullptr, "r", 0, 0, opened->fd);
    FileInfo file{};
    if (fd == LYFS_INVALID_FD || CL_LyFS_Get_FileInfo(card_.handle(), fd, &file) != LYFS_OK) {
        log_("cannot open " + printable(path.text) + ": " + or_unknown(library_failure()));
        if (fd != LYFS_INVALID_FD) {
            CL_LyFS_File_Close(card_.handle(), fd);
        }
        return -EIO;
    }
    opened->path = path.text;
    opened->folder = path.folder->card_name;
    opened->size = file.file_size;
    opened->users = 1;
    opened->damaged = !reaches_its_size(*opened);
    std::lock_guard lock(state_);
    if (FileRecord* record = find(path)) {
        record->size = file.file_size;
        record->size_known = true;
    }
    *reader = opened.get();
    readers_[fd] = std::move(opened);
    return 0;
}

bool CardView::reaches_its_size(Reader& reader) {
    // The library reads along the chain and gives nothing past its end: one byte at the end
    // tells whether the chain reaches that far.
    if (reader.size == 0) {
        return true;
    }
    char last = 0;
    const auto at = static_cast<std::int32_t>(reader.size - 1);
    const bool reached = CL_LyFS_File_Seek(card_.handle(), reader.fd, LYFS_SEEK_SET, at) ==
                             static_cast<std::uint32_t>(at) &&
                         CL_LyFS_File_Read(card_.handle(), &last, 1, reader.fd) == 1;
    reader.position = ~std::uint64_t{0};  // unknown: the next read seeks
    return reached;
}

int CardView::read(Handle* handle, char* buffer, std::size_t size, std::uint64_t offset) {
    if (handle->reader == nullptr) {
        return refuse("reading " + handle->writer->path, "it is being written", EBADF);
    }
    Reader& reader = *handle->reader;
    std::lock_guard lock(reader.mutex);
    // The library reads on to the end of the last cluster; the file ends at its size.
    if (offset >= reader.size || size == 0) {
        return 0;
    }
    const auto wanted =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(size, reader.size - offset));
    if (reader.position != offset) {
        if (CL_LyFS_File_Seek(card_.handle(), reader.fd, LYFS_SEEK_SET,
                              static_cast<std::int32_t>(offset)) != offset) {
            log_("cannot seek to byte " + std::to_string(offset) + " of " + printable(reader.path));
            return -EIO;
        }
        reader.position = offset;
    }
    std::uint32_t done = 0;
    while (done < wanted) {
        forget_library_failures();
        const std::int32_t got =
            CL_LyFS_File_Read(card_.handle(), buffer + done, wanted - done, reader.fd);
        if (got < 0) {
            reader.position = ~std::uint64_t{0};  // unknown: the next read seeks
            log_("reading " + printable(reader.path) + " failed: " + or_unknown(library_failure()));
            return -EIO;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::uint32_t>(got);
        reader.position += static_cast<std::uint32_t>(got);
    }
    // What lies before the break comes first, as from a disk with a bad sector; the read that
    // starts at the break fails.
    return done == 0 ? broken_chain(reader, offset) : static_cast<int>(done);
}

int CardView::broken_chain(Reader& reader, std::uint64_t offset) {
    {
        std::lock_guard lock(state_);
        if (!reported_damage_.insert(reader.fd).second) {
            return -EIO;
        }
    }
    const FileRecords records(card_.device());
    const check::FileSummary* found = records.find(reader.folder, reader.card_name, reader.size);
    log_("reading " + printable(reader.path) + " failed at byte " + std::to_string(offset) +
         " of its " + std::to_string(reader.size) + ": its cluster chain ends there (" +
         (found != nullptr && !found->damage.empty() ? found->damage
                                                     : "the chain is shorter than the file") +
         "); lyfs get --keep-partial copies the bytes before it");
    return -EIO;
}

}  // namespace lyfs::tool
