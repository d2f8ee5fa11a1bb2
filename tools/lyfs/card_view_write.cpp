// Writing new files: from start to end, durable when a descriptor of them is closed, committed
// at their release, and taken back off the card when a write of them failed.
#include <cerrno>

#include "card_view_parts.h"
#include "device.h"
#include "library.h"
#include "names.h"
#include "units.h"

namespace lyfs::tool {

int CardView::create(std::string_view text, Handle** handle) {
    Path path;
    const int error = resolve(text, &path);
    if (path.folder == nullptr || path.name.empty()) {
        const bool beside_folders = text.find('/', 1) == std::string_view::npos;
        return error == 0 || beside_folders
                   ? refuse("creating " + path.text, "files go into the card's folders", EPERM)
                   : error;
    }
    if (error != 0) {
        return error;
    }
    if (read_only_) {
        return -EROFS;
    }
    if (path.name.size() > kLongestFileName) {
        return refuse("creating " + path.text, "names on the card have at most 39 characters",
                      ENAMETOOLONG);
    }
    // The name a file is created under is its name on the card and in the listing alike.
    if (const std::string why = unfit_card_name(path.name); !why.empty()) {
        return refuse("creating " + path.text, why, EINVAL);
    }
    auto created = std::make_unique<Handle>();
    created->writer = std::make_unique<Writer>();
    Writer& writer = *created->writer;
    writer.folder = path.folder;
    writer.name = path.name;
    writer.path = path.text;
    std::lock_guard lock(state_);
    // A card name listed under another local name is taken as well: the card would refuse it.
    for (const auto& [name, record] : path.folder->files) {
        if (name == path.name || record.card_name == path.name) {
            return -EEXIST;
        }
    }
    FileRecord record;
    record.card_name = path.name;
    record.size_known = true;
    record.modified = std::time(nullptr);
    record.writer = &writer;
    add_file(*path.folder, path.name, record);
    handles_.insert(created.get());
    *handle = created.release();
    return 0;
}

int CardView::write(Handle* handle, const char* buffer, std::size_t size, std::uint64_t offset) {
    if (handle->writer == nullptr) {
        return -EBADF;
    }
    Writer& writer = *handle->writer;
    std::lock_guard lock(writer.mutex);
    {
        std::lock_guard state_lock(state_);
        writer.closing = false;
    }
    if (writer.failed) {
        return -EIO;
    }
    // A refused write spoils the copy as much as a failed one: the program goes on without
    // those bytes, or stops.
    if (offset != writer.written) {
        writer.failed = true;
        return refuse("writing " + writer.path + " at byte " + std::to_string(offset),
                      "a new file is written from start to end, and it has " +
                          std::to_string(writer.written) + " bytes",
                      ESPIPE);
    }
    if (size == 0) {
        return 0;
    }
    if (writer.written + size > largest_file_) {
        writer.failed = true;
        return refuse("writing " + writer.path + " beyond " + format_size(largest_file_),
                      "that is the largest file the card holds", EFBIG);
    }
    if (writer.fd == LYFS_INVALID_FD) {
        if (const int error = start_file(writer)) {
            return error;
        }
    }
    forget_library_failures();
    const std::int32_t count =
        CL_LyFS_File_Write(card_.handle(), buffer, static_cast<std::uint32_t>(size), writer.fd);
    if (count < 0 || static_cast<std::size_t>(count) != size) {
        const std::string reason = or_unknown(library_failure());
        FileInfo file{};
        if (CL_LyFS_Get_FileInfo(card_.handle(), writer.fd, &file) == LYFS_OK) {
            writer.written = file.file_size;
        }
        writer.failed = true;
        log_("writing " + writer.path + " failed: " + reason);
    } else {
        writer.written += size;
    }
    {
        std::lock_guard state_lock(state_);
        if (FileRecord* record = find({writer.folder, writer.name, writer.path})) {
            record->size = writer.written;
        }
    }
    return writer.failed ? -ENOSPC : static_cast<int>(size);
}

int CardView::start_file(Writer& writer) {
    forget_library_failures();
    // The listed path may hold the folder's escaped name; the library wants the card's.
    const std::string on_card = "/" + writer.folder->card_name + "/" + writer.name;
    const std::uint32_t fd = CL_LyFS_File_Open(card_.handle(), on_card.c_str(), "w", 0, 0, 0);
    if (fd == LYFS_INVALID_FD) {
        writer.failed = true;
        log_("creating " + writer.path + " failed: " + or_unknown(library_failure()));
        return -ENOSPC;
    }
    writer.fd = fd;
    std::lock_guard lock(state_);
    Folder& folder = *writer.folder;
    if (FileRecord* record = find({writer.folder, writer.name, writer.path})) {
        record->fd = fd;
        // The card lists it behind files that were created while it waited for its first bytes.
        folder.names.splice(folder.names.end(), folder.names, record->place);
    }
    return 0;
}

int CardView::make_durable(Writer& writer) {
    // Durable before the program's close returns: a card pulled before the release keeps the
    // file as one whose writer never closed it, with every byte written.
    std::lock_guard lock(writer.mutex);
    if (writer.fd != LYFS_INVALID_FD && !writer.failed) {
        forget_library_failures();
        if (lyfs_file_flush(card_.handle(), writer.fd) != LYFS_OK) {
            writer.failed = true;
            log_("writing " + writer.path +
                 " to the card failed: " + or_unknown(library_failure()));
        }
    }
    return writer.failed ? -EIO : 0;
}

int CardView::sync(Handle* handle) {
    return handle->writer != nullptr ? make_durable(*handle->writer) : 0;
}

int CardView::flush(Handle* handle) {
    if (handle->writer == nullptr) {
        return 0;
    }
    const int result = make_durable(*handle->writer);
    std::lock_guard lock(state_);
    handle->writer->closing = true;
    return result;
}

void CardView::finish_writer(Writer& writer) {
    std::lock_guard lock(writer.mutex);
    bool gone = writer.fd == LYFS_INVALID_FD;
    if (gone && !writer.failed) {
        log_("nothing was written to " + writer.path +
             ", and the card cannot hold an empty file: it was not created");
    } else if (!gone && writer.failed) {
        forget_library_failures();
        const std::int32_t status = lyfs_file_discard(card_.handle(), writer.fd);
        const std::string why = or_unknown(library_failure());
        // A discard whose last flush failed has taken the file off all the same.
        FileInfo left{};
        gone =
            status == LYFS_OK || CL_LyFS_Get_FileInfo(card_.handle(), writer.fd, &left) != LYFS_OK;
        if (status == LYFS_OK) {
            log_("removed " + writer.path + " from the card again (" +
                 std::to_string(writer.written) + " bytes had been written when a write failed)");
        } else if (gone) {
            note_failure("removed " + writer.path +
                         " from the card again, but flushing the card failed: " + why);
        } else {
            // Refused when a newer file of the folder was created meanwhile: what was written
            // stays, committed. After a failed transfer nothing is left to commit.
            const bool committed =
                CL_LyFS_File_Close(card_.handle(), writer.fd) == LYFS_OK && status == LYFS_FAIL;
            note_failure(writer.path + " could not be removed from the card again (" + why + "): " +
                         (committed ? "its first " + std::to_string(writer.written) +
                                          " bytes stay, committed"
                                    : "it stays as a file whose writer never closed it"));
        }
    } else if (!gone) {
        forget_library_failures();
        if (CL_LyFS_File_Close(card_.handle(), writer.fd) != LYFS_OK) {
            note_failure("committing " + writer.path + " failed: " + or_unknown(library_failure()));
        }
    }
    {
        std::lock_guard state_lock(state_);
        if (gone) {
            drop_file(*writer.folder, writer.name);
        } else if (FileRecord* record = find({writer.folder, writer.name, writer.path})) {
            record->writer = nullptr;
            record->size = writer.written;
        }
    }
    writer_done_.notify_all();
}

}  // namespace lyfs::tool
