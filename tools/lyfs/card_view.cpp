#include "card_view.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "device.h"
#include "failure.h"
#include "library.h"
#include "units.h"

namespace lyfs::tool {

struct CardView::Reader {
    std::mutex mutex;  // the library keeps one position per open file, shared by its readers
    std::uint32_t fd = LYFS_INVALID_FD;
    std::string path;
    std::uint64_t size = 0;
    std::uint64_t position = 0;
    int users = 0;  // guarded by state_
};

struct CardView::Writer {
    std::mutex mutex;
    Folder* folder = nullptr;
    std::string name;
    std::string path;
    // The card gets the file with its first bytes, so that a file nobody writes to never
    // reaches it (the card cannot hold an empty file).
    std::uint32_t fd = LYFS_INVALID_FD;
    std::uint64_t written = 0;
    bool failed = false;
    bool closing = false;  // a descriptor was closed since the last write; guarded by state_
};

struct CardView::Handle {
    Reader* reader = nullptr;
    std::unique_ptr<Writer> writer;
};

namespace {

// The view of the card the library's delete callback speaks of: one per process.
CardView* g_view = nullptr;

// A program that reads a new file right after writing it waits this long at most for the
// file's release, which the kernel sends after close returns.
constexpr auto kCommitWait = std::chrono::seconds(10);

std::time_t epoch_of(const lyfs_file_time& t) {
    std::tm parts{};
    parts.tm_year = t.year - 1900;
    parts.tm_mon = t.month - 1;
    parts.tm_mday = t.day;
    parts.tm_hour = t.hour;
    parts.tm_min = t.minute;
    parts.tm_sec = t.second;
    parts.tm_isdst = -1;  // the recorder's clock is local time
    return std::mktime(&parts);
}

std::string or_unknown(const std::string& reason) {
    return reason.empty() ? "the library gave no reason" : reason;
}

}  // namespace

CardView::CardView(Card& card, bool read_only, LogLine log)
    : card_(card),
      read_only_(read_only),
      log_(std::move(log)),
      cluster_bytes_(static_cast<std::uint32_t>(card.sectors_per_cluster() * kSectorBytes)),
      largest_file_(largest_file_bytes(card.sectors_per_cluster())),
      mounted_at_(std::time(nullptr)) {
    for (const DirInfo& info : card.folders()) {
        auto folder = std::make_unique<Folder>();
        folder->name = folder_name(info);
        card.for_each_file(folder->name, AgeOrder::OldestFirst, [&](const FileInfo& file) {
            FileRecord record;
            record.fd = file.fd;
            record.size = file.file_size;
            record.size_known = file.file_size != 0;
            add_file(*folder, tool::file_name(file), record);
        });
        folders_.push_back(std::move(folder));
    }
    g_view = this;
    CL_LyFS_File_Delete_Callback_Register(&CardView::on_reclaimed);
}

CardView::~CardView() {
    CL_LyFS_File_Delete_Callback_Register(nullptr);
    g_view = nullptr;
}

void CardView::on_reclaimed(std::uint32_t /*fd*/, std::uint32_t length, char* path) {
    try {
        if (g_view != nullptr) {
            g_view->reclaimed(std::string(path, length));
        }
    } catch (...) {  // out of memory: the listing keeps a name whose stat then fails
    }
}

void CardView::reclaimed(const std::string& path) {
    const std::size_t slash = path.find('/', 1);
    if (slash != std::string::npos) {
        const std::string folder = path.substr(1, slash - 1);
        std::lock_guard lock(state_);
        for (auto& f : folders_) {
            if (f->name == folder) {
                drop_file(*f, path.substr(slash + 1));
            }
        }
    }
    log_("reclaimed " + path);
}

int CardView::resolve(std::string_view text, Path* path) {
    path->text = text;
    if (!text.starts_with('/')) {
        return -ENOENT;
    }
    text.remove_prefix(1);
    if (text.empty()) {
        return 0;
    }
    const std::size_t slash = text.find('/');
    const std::string_view folder = text.substr(0, slash);
    for (auto& f : folders_) {
        if (f->name == folder) {
            path->folder = f.get();
        }
    }
    if (path->folder == nullptr) {
        return -ENOENT;
    }
    if (slash != std::string_view::npos) {
        path->name = text.substr(slash + 1);
        if (path->name.empty() || path->name.find('/') != std::string::npos) {
            return -ENOENT;
        }
    }
    return 0;
}

void CardView::add_file(Folder& folder, const std::string& name, const FileRecord& record) {
    FileRecord& added = folder.files[name] = record;
    added.place = folder.names.insert(folder.names.end(), name);
}

void CardView::drop_file(Folder& folder, const std::string& name) {
    if (auto it = folder.files.find(name); it != folder.files.end()) {
        folder.names.erase(it->second.place);
        folder.files.erase(it);
    }
}

std::uint64_t CardView::blocks_of(std::uint64_t size, bool on_card) const {
    // A file on the card holds at least its first cluster.
    const std::uint64_t clusters =
        on_card ? std::max<std::uint64_t>(1, (size + cluster_bytes_ - 1) / cluster_bytes_) : 0;
    return clusters * (cluster_bytes_ / kSectorBytes);
}

int CardView::stat(std::string_view text, NodeInfo* info) {
    Path path;
    if (const int error = resolve(text, &path)) {
        return error;
    }
    if (path.folder == nullptr || path.name.empty()) {
        info->kind = path.folder == nullptr ? NodeInfo::Kind::kRoot : NodeInfo::Kind::kFolder;
        info->links =
            2 + (path.folder == nullptr ? static_cast<std::uint32_t>(folders_.size()) : 0);
        info->modified = mounted_at_;
        return 0;
    }
    return describe_file(path, info);
}

int CardView::describe_file(const Path& path, NodeInfo* info) {
    std::uint32_t fd = LYFS_INVALID_FD;
    bool size_known = false;
    {
        std::lock_guard lock(state_);
        const auto it = path.folder->files.find(path.name);
        if (it == path.folder->files.end()) {
            return -ENOENT;
        }
        const FileRecord& record = it->second;
        info->kind = NodeInfo::Kind::kFile;
        if (record.writer != nullptr || (record.size_known && record.modified)) {
            info->size = record.size;
            info->blocks = blocks_of(record.size, record.fd != LYFS_INVALID_FD);
            info->modified = record.modified.value_or(mounted_at_);
            return 0;
        }
        fd = record.fd;
        size_known = record.size_known;
    }
    if (!size_known) {
        if (const int error = learn_size(path)) {
            return error;
        }
    }
    lyfs_file_time stamp{};
    if (lyfs_get_file_time(card_.handle(), fd, &stamp) != LYFS_OK) {
        return -ENOENT;  // reclaimed meanwhile
    }
    std::lock_guard lock(state_);
    const auto it = path.folder->files.find(path.name);
    if (it == path.folder->files.end()) {
        return -ENOENT;
    }
    it->second.modified = epoch_of(stamp);
    info->size = it->second.size;
    info->blocks = blocks_of(it->second.size, true);
    info->modified = *it->second.modified;
    return 0;
}

int CardView::learn_size(const Path& path) {
    // A file whose writer never closed it gets its size, its whole clusters, when it is opened.
    std::lock_guard open_lock(opening_);
    {
        std::lock_guard lock(state_);
        const auto it = path.folder->files.find(path.name);
        if (it == path.folder->files.end()) {
            return -ENOENT;
        }
        if (it->second.size_known) {
            return 0;  // an open in between learnt it
        }
    }
    forget_library_failures();
    const std::uint32_t opened = CL_LyFS_File_Open(card_.handle(), path.text.c_str(), "r", 0, 0, 0);
    FileInfo file{};
    const bool known =
        opened != LYFS_INVALID_FD && CL_LyFS_Get_FileInfo(card_.handle(), opened, &file) == LYFS_OK;
    const std::string reason = library_failure();
    if (opened != LYFS_INVALID_FD) {
        CL_LyFS_File_Close(card_.handle(), opened);
    }
    if (!known) {
        log_("cannot tell the size of " + path.text + ": " + or_unknown(reason));
        return -EIO;
    }
    std::lock_guard lock(state_);
    if (const auto it = path.folder->files.find(path.name); it != path.folder->files.end()) {
        it->second.size = file.file_size;
        it->second.size_known = true;
    }
    return 0;
}

int CardView::list(std::string_view text, std::vector<std::string>* names) {
    Path path;
    if (const int error = resolve(text, &path)) {
        return error;
    }
    if (path.folder == nullptr) {
        for (const auto& folder : folders_) {
            names->push_back(folder->name);
        }
        return 0;
    }
    std::lock_guard lock(state_);
    if (!path.name.empty()) {
        return path.folder->files.contains(path.name) ? -ENOTDIR : -ENOENT;
    }
    names->assign(path.folder->names.begin(), path.folder->names.end());
    return 0;
}

int CardView::space(CardSpace* space) {
    space->cluster_bytes = cluster_bytes_;
    std::uint64_t files = 0;
    for (const auto& folder : folders_) {
        FolderUsage usage;
        try {
            usage = card_.space(folder->name);
        } catch (const Failure& failure) {
            log_(failure.what());
            return -EIO;
        }
        space->clusters += usage.total_bytes / cluster_bytes_;
        space->free_clusters += usage.free_bytes / cluster_bytes_;
        space->file_slots += usage.info.max_file_num;
        std::lock_guard lock(state_);
        files += folder->files.size();
    }
    space->free_file_slots = space->file_slots - std::min(files, space->file_slots);
    return 0;
}

int CardView::open(std::string_view text, bool for_writing, Handle** handle) {
    Path path;
    if (const int error = resolve(text, &path)) {
        return error;
    }
    if (path.name.empty()) {
        return -EISDIR;
    }
    {
        std::lock_guard lock(state_);
        if (!path.folder->files.contains(path.name)) {
            return -ENOENT;
        }
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
    std::lock_guard lock(state_);
    handles_.insert(opened.get());
    *handle = opened.release();
    return 0;
}

int CardView::wait_for_writer(const Path& path) {
    std::unique_lock lock(state_);
    const auto writer = [&]() -> Writer* {
        const auto it = path.folder->files.find(path.name);
        return it == path.folder->files.end() ? nullptr : it->second.writer;
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
    {
        std::lock_guard lock(state_);
        const auto it = path.folder->files.find(path.name);
        if (it == path.folder->files.end()) {
            return -ENOENT;  // reclaimed, or a new file that was never written
        }
        if (it->second.writer != nullptr) {
            return -EBUSY;
        }
        if (const auto r = readers_.find(it->second.fd); r != readers_.end()) {
            ++r->second->users;
            *reader = r->second.get();
            return 0;
        }
    }
    forget_library_failures();
    const std::uint32_t fd = CL_LyFS_File_Open(card_.handle(), path.text.c_str(), "r", 0, 0, 0);
    FileInfo file{};
    if (fd == LYFS_INVALID_FD || CL_LyFS_Get_FileInfo(card_.handle(), fd, &file) != LYFS_OK) {
        log_("cannot open " + path.text + ": " + or_unknown(library_failure()));
        if (fd != LYFS_INVALID_FD) {
            CL_LyFS_File_Close(card_.handle(), fd);
        }
        return -EIO;
    }
    auto opened = std::make_unique<Reader>();
    opened->fd = fd;
    opened->path = path.text;
    opened->size = file.file_size;
    opened->users = 1;
    std::lock_guard lock(state_);
    if (const auto it = path.folder->files.find(path.name); it != path.folder->files.end()) {
        it->second.size = file.file_size;
        it->second.size_known = true;
    }
    *reader = opened.get();
    readers_[fd] = std::move(opened);
    return 0;
}

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
    if (path.name.size() < kShortestFileName) {
        return refuse("creating " + path.text, "names on the card have at least 9 characters",
                      EINVAL);
    }
    auto created = std::make_unique<Handle>();
    created->writer = std::make_unique<Writer>();
    Writer& writer = *created->writer;
    writer.folder = path.folder;
    writer.name = path.name;
    writer.path = path.text;
    std::lock_guard lock(state_);
    if (path.folder->files.contains(path.name)) {
        return -EEXIST;
    }
    FileRecord record;
    record.size_known = true;
    record.modified = std::time(nullptr);
    record.writer = &writer;
    add_file(*path.folder, path.name, record);
    handles_.insert(created.get());
    *handle = created.release();
    return 0;
}

int CardView::read(Handle* handle, char* buffer, std::size_t size, std::uint64_t offset) {
    if (handle->reader == nullptr) {
        return refuse("reading " + handle->writer->path, "it is being written", EBADF);
    }
    Reader& reader = *handle->reader;
    std::lock_guard lock(reader.mutex);
    // The library reads on to the end of the last cluster; the file ends at its size.
    if (offset >= reader.size) {
        return 0;
    }
    const auto wanted =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(size, reader.size - offset));
    if (reader.position != offset) {
        if (CL_LyFS_File_Seek(card_.handle(), reader.fd, LYFS_SEEK_SET,
                              static_cast<std::int32_t>(offset)) != offset) {
            log_("cannot seek to byte " + std::to_string(offset) + " of " + reader.path);
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
            log_("reading " + reader.path + " failed: " + or_unknown(library_failure()));
            return -EIO;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::uint32_t>(got);
        reader.position += static_cast<std::uint32_t>(got);
    }
    return static_cast<int>(done);
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
    if (offset != writer.written) {
        return refuse("writing " + writer.path + " at byte " + std::to_string(offset),
                      "a new file is written from start to end, and it has " +
                          std::to_string(writer.written) + " bytes",
                      ESPIPE);
    }
    if (size == 0) {
        return 0;
    }
    if (writer.written + size > largest_file_) {
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
        if (const auto it = writer.folder->files.find(writer.name);
            it != writer.folder->files.end()) {
            it->second.size = writer.written;
        }
    }
    return writer.failed ? -ENOSPC : static_cast<int>(size);
}

int CardView::start_file(Writer& writer) {
    forget_library_failures();
    const std::uint32_t fd = CL_LyFS_File_Open(card_.handle(), writer.path.c_str(), "w", 0, 0, 0);
    if (fd == LYFS_INVALID_FD) {
        writer.failed = true;
        log_("creating " + writer.path + " failed: " + or_unknown(library_failure()));
        return -ENOSPC;
    }
    writer.fd = fd;
    std::lock_guard lock(state_);
    Folder& folder = *writer.folder;
    if (const auto it = folder.files.find(writer.name); it != folder.files.end()) {
        it->second.fd = fd;
        // The card lists it behind files that were created while it waited for its first bytes.
        folder.names.splice(folder.names.end(), folder.names, it->second.place);
    }
    return 0;
}

int CardView::flush(Handle* handle) {
    if (handle->writer != nullptr) {
        std::lock_guard lock(state_);
        handle->writer->closing = true;
    }
    return 0;
}

void CardView::finish_writer(Writer& writer) {
    std::lock_guard lock(writer.mutex);
    if (writer.fd != LYFS_INVALID_FD) {
        forget_library_failures();
        if (CL_LyFS_File_Close(card_.handle(), writer.fd) != LYFS_OK) {
            log_("committing " + writer.path + " failed: " + or_unknown(library_failure()));
        } else if (writer.failed) {
            log_("kept the first " + std::to_string(writer.written) + " bytes of " + writer.path);
        }
    } else if (!writer.failed) {
        log_("nothing was written to " + writer.path +
             ", and the card cannot hold an empty file: it was not created");
    }
    {
        std::lock_guard state_lock(state_);
        Folder& folder = *writer.folder;
        if (writer.fd == LYFS_INVALID_FD) {
            drop_file(folder, writer.name);
        } else if (const auto it = folder.files.find(writer.name); it != folder.files.end()) {
            it->second.writer = nullptr;
            it->second.size = writer.written;
        }
    }
    writer_done_.notify_all();
}

void CardView::release(Handle* handle) {
    std::unique_ptr<Handle> released(handle);
    if (handle->writer != nullptr) {
        finish_writer(*handle->writer);
        std::lock_guard lock(state_);
        handles_.erase(handle);
        return;
    }
    std::lock_guard open_lock(opening_);
    std::unique_ptr<Reader> last;
    {
        std::lock_guard lock(state_);
        handles_.erase(handle);
        if (--handle->reader->users == 0) {
            const auto it = readers_.find(handle->reader->fd);
            last = std::move(it->second);
            readers_.erase(it);
        }
    }
    if (last != nullptr) {
        CL_LyFS_File_Close(card_.handle(), last->fd);
    }
}

int CardView::truncate(std::string_view text, std::uint64_t size) {
    Path path;
    if (const int error = resolve(text, &path)) {
        return error;
    }
    if (path.name.empty()) {
        return -EISDIR;
    }
    {
        std::lock_guard lock(state_);
        const auto it = path.folder->files.find(path.name);
        if (it == path.folder->files.end()) {
            return -ENOENT;
        }
        if (it->second.writer != nullptr && it->second.size == size) {
            return 0;  // nothing to change, as for O_TRUNC on a new file
        }
    }
    return read_only_ ? -EROFS
                      : refuse("truncating " + path.text + " to " + std::to_string(size) + " bytes",
                               "the card cannot change the size of a file", EPERM);
}

int CardView::refuse(const std::string& what, const std::string& why, int error) {
    log_("refused " + what + ": " + why + " (" + std::strerror(error) + ")");
    return -error;
}

void CardView::close_all() {
    std::vector<Handle*> open;
    {
        std::lock_guard lock(state_);
        open.assign(handles_.begin(), handles_.end());
    }
    for (Handle* handle : open) {
        release(handle);
    }
}

}  // namespace lyfs::tool
