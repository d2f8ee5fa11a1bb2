// The listing: folders and files under their local names, as the card and the reclaim change
// them, with what stat and statfs tell of them.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "card_view_parts.h"
#include "device.h"
#include "failure.h"
#include "library.h"
#include "local_names.h"
#include "names.h"
#include "record_time.h"
#include "units.h"

namespace lyfs::tool {
namespace {

// The view of the card the library's delete callback speaks of: one per process.
CardView* g_view = nullptr;

// Why the library cannot reach the folder of this name, which it looks up in a path
// "/FOLDER/FILE" by the first folder of that name; empty when it can.
std::string unreachable_folder(const std::string& name, const std::vector<std::string>& earlier) {
    if (name.empty()) {
        return "it has no name, and a path cannot name it";
    }
    if (name.find('/') != std::string::npos) {
        return "its name holds a slash, which ends a folder's name in a path";
    }
    if (std::find(earlier.begin(), earlier.end(), name) != earlier.end()) {
        return "an earlier folder has the same name, and the card answers with that one's files";
    }
    return {};
}

}  // namespace

std::string or_unknown(const std::string& reason) {
    return reason.empty() ? "the library gave no reason" : reason;
}

CardView::CardView(Card& card, bool read_only, LogLine log)
    : card_(card),
      read_only_(read_only),
      log_(std::move(log)),
      cluster_bytes_(static_cast<std::uint32_t>(card.sectors_per_cluster() * kSectorBytes)),
      largest_file_(largest_file_bytes(card.sectors_per_cluster())),
      mounted_at_(std::time(nullptr)) {
    std::vector<std::string> card_names;
    for (const DirInfo& info : card.folders()) {
        const std::string name = folder_name(info);
        if (const std::string why = unreachable_folder(name, card_names); !why.empty()) {
            log_("folder " + (name.empty() ? std::string("with no name") : printable(name)) +
                 " is on the card but cannot be shown: " + why);
            continue;
        }
        card_names.push_back(name);
    }
    const std::vector<std::string> local_folders = local_names(card_names);
    for (std::size_t k = 0; k < card_names.size(); ++k) {
        auto folder = std::make_unique<Folder>();
        folder->name = local_folders[k];
        folder->card_name = card_names[k];
        const std::vector<FileInfo> files = card.files(folder->card_name, AgeOrder::OldestFirst);
        std::vector<std::string> file_names;
        for (const FileInfo& file : files) {
            file_names.push_back(tool::file_name(file));
        }
        const std::vector<std::string> local = local_names(file_names);
        for (std::size_t i = 0; i < files.size(); ++i) {
            FileRecord record;
            record.card_name = file_names[i];
            record.fd = files[i].fd;
            record.size = files[i].file_size;
            record.size_known = files[i].file_size != 0;
            add_file(*folder, local[i], record);
        }
        folders_.push_back(std::move(folder));
    }
    g_view = this;
    CL_LyFS_File_Delete_Callback_Register(&CardView::on_reclaimed);
}

CardView::~CardView() {
    CL_LyFS_File_Delete_Callback_Register(nullptr);
    g_view = nullptr;
}

void CardView::on_reclaimed(std::uint32_t fd, std::uint32_t length, char* path) {
    try {
        if (g_view != nullptr) {
            g_view->reclaimed(fd, std::string(path, length));
        }
    } catch (...) {  // out of memory: the listing keeps a name whose stat then fails
    }
}

void CardView::reclaimed(std::uint32_t fd, const std::string& path) {
    const std::size_t slash = path.find('/', 1);
    if (slash != std::string::npos) {
        const std::string folder = path.substr(1, slash - 1);
        std::lock_guard lock(state_);
        for (auto& f : folders_) {
            if (f->card_name != folder) {
                continue;
            }
            // By its fd: names can repeat on a card.
            const auto it = std::find_if(f->files.begin(), f->files.end(),
                                         [fd](const auto& file) { return file.second.fd == fd; });
            if (it != f->files.end()) {
                const std::string name = it->first;
                drop_file(*f, name);
            }
        }
    }
    log_("reclaimed " + printable(path));
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
            break;
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

int CardView::resolve_listed(std::string_view text, Path* path) {
    if (const int error = resolve(text, path)) {
        return error;
    }
    if (path->name.empty()) {
        return -EISDIR;
    }
    std::lock_guard lock(state_);
    return find(*path) == nullptr ? -ENOENT : 0;
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

CardView::FileRecord* CardView::find(const Path& path) {
    const auto it = path.folder->files.find(path.name);
    return it == path.folder->files.end() ? nullptr : &it->second;
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
        const FileRecord* record = find(path);
        if (record == nullptr) {
            return -ENOENT;
        }
        info->kind = NodeInfo::Kind::kFile;
        if (record->writer != nullptr || (record->size_known && record->modified)) {
            info->size = record->size;
            info->blocks = blocks_of(record->size, record->fd != LYFS_INVALID_FD);
            info->modified = record->modified.value_or(mounted_at_);
            return 0;
        }
        fd = record->fd;
        size_known = record->size_known;
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
    FileRecord* record = find(path);
    if (record == nullptr) {
        return -ENOENT;
    }
    record->modified = epoch_of(stamp);
    info->size = record->size;
    info->blocks = blocks_of(record->size, true);
    info->modified = *record->modified;
    return 0;
}

int CardView::learn_size(const Path& path) {
    // A file whose writer never closed it gets its size, its whole clusters, when it is opened.
    std::lock_guard open_lock(opening_);
    std::uint32_t fd = LYFS_INVALID_FD;
    {
        std::lock_guard lock(state_);
        const FileRecord* record = find(path);
        if (record == nullptr) {
            return -ENOENT;
        }
        if (record->size_known) {
            return 0;  // an open in between learnt it
        }
        fd = record->fd;
    }
    forget_library_failures();
    const std::uint32_t opened = CL_LyFS_File_Open(card_.handle(), nullptr, "r", 0, 0, fd);
    FileInfo file{};
    const bool known =
        opened != LYFS_INVALID_FD && CL_LyFS_Get_FileInfo(card_.handle(), opened, &file) == LYFS_OK;
    const std::string reason = library_failure();
    if (opened != LYFS_INVALID_FD) {
        CL_LyFS_File_Close(card_.handle(), opened);
    }
    if (!known) {
        log_("cannot tell the size of " + printable(path.text) + ": " + or_unknown(reason));
        return -EIO;
    }
    std::lock_guard lock(state_);
    if (FileRecord* record = find(path)) {
        record->size = file.file_size;
        record->size_known = true;
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
        return find(path) != nullptr ? -ENOTDIR : -ENOENT;
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
            usage = card_.space(folder->card_name);
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

int CardView::truncate(std::string_view text, std::uint64_t size) {
    Path path;
    if (const int error = resolve_listed(text, &path)) {
        return error;
    }
    {
        std::lock_guard lock(state_);
        const FileRecord* record = find(path);
        if (record != nullptr && record->writer != nullptr && record->size == size) {
            return 0;  // nothing to change, as for O_TRUNC on a new file
        }
    }
    return read_only_ ? -EROFS
                      : refuse("truncating " + path.text + " to " + std::to_string(size) + " bytes",
                               "the card cannot change the size of a file", EPERM);
}

int CardView::refuse(const std::string& what, const std::string& why, int error) {
    log_("refused " + printable(what) + ": " + why + " (" + std::strerror(error) + ")");
    return -error;
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

void CardView::note_failure(const std::string& line) {
    log_(line);
    std::lock_guard lock(state_);
    failures_.push_back(line);
}

std::vector<std::string> CardView::failures() {
    std::lock_guard lock(state_);
    return failures_;
}

}  // namespace lyfs::tool
