#include "fuse_card.h"

#define FUSE_USE_VERSION 312
#include <fuse.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <vector>

#include "failure.h"

namespace lyfs::tool {
namespace {

CardView& view() {
    return *static_cast<CardView*>(fuse_get_context()->private_data);
}

CardView::Handle* handle_of(const fuse_file_info* fi) {
    return reinterpret_cast<CardView::Handle*>(fi->fh);
}

// Nothing may leave a callback of libfuse as an exception.
template <typename Operation>
int guarded(Operation&& operation) noexcept {
    try {
        return operation();
    } catch (const std::bad_alloc&) {
        return -ENOMEM;
    } catch (...) {
        return -EIO;
    }
}

int refuse(const std::string& what, const std::string& why) {
    return guarded([&] { return view().refuse(what, why, EPERM); });
}

void* init_card(fuse_conn_info* conn, fuse_config* config) {
    // The card changes under the kernel's caches: files are reclaimed, new files grow. Asking
    // again costs a look into the view's own listing.
    config->entry_timeout = 0;
    config->attr_timeout = 0;
    config->negative_timeout = 0;
    config->kernel_cache = 0;
    // Each open drops the kernel's cached pages of the file anyway (a reclaimed name can come
    // back as a new file); asking for the size before every read only slows reading down.
    conn->want &= ~FUSE_CAP_AUTO_INVAL_DATA;
    // A direct write larger than one request reaches us as several requests at once, in any order;
    // a copy onto the card is written front to back, so they must come in order.
    conn->want &= ~FUSE_CAP_ASYNC_DIO;
    conn->max_write = kMaxTransferBytes;
    conn->max_read = kMaxTransferBytes;  // as the mount's max_read option says
    conn->max_readahead = kMaxTransferBytes;
    return fuse_get_context()->private_data;
}

int get_attributes(const char* path, struct stat* st, fuse_file_info* /*fi*/) {
    return guarded([&] {
        NodeInfo info;
        if (const int error = view().stat(path, &info)) {
            return error;
        }
        *st = {};
        switch (info.kind) {
            case NodeInfo::Kind::kRoot:
                st->st_mode = S_IFDIR | 0555;  // the folders are fixed
                break;
            case NodeInfo::Kind::kFolder:
                st->st_mode = S_IFDIR | (view().read_only() ? 0555 : 0755);
                break;
            case NodeInfo::Kind::kFile:
                st->st_mode = S_IFREG | 0444;  // files are never rewritten
                break;
        }
        st->st_nlink = info.links;
        st->st_size = static_cast<off_t>(info.size);
        st->st_blocks = static_cast<blkcnt_t>(info.blocks);
        st->st_blksize = static_cast<blksize_t>(view().cluster_bytes());
        st->st_uid = ::getuid();
        st->st_gid = ::getgid();
        st->st_mtim.tv_sec = info.modified;
        st->st_atim.tv_sec = info.modified;
        st->st_ctim.tv_sec = info.modified;
        return 0;
    });
}

int read_directory(const char* path, void* buffer, fuse_fill_dir_t fill, off_t /*offset*/,
                   fuse_file_info* /*fi*/, fuse_readdir_flags /*flags*/) {
    return guarded([&] {
        std::vector<std::string> names;
        if (const int error = view().list(path, &names)) {
            return error;
        }
        const auto no_flags = static_cast<fuse_fill_dir_flags>(0);
        fill(buffer, ".", nullptr, 0, no_flags);
        fill(buffer, "..", nullptr, 0, no_flags);
        for (const std::string& name : names) {
            if (fill(buffer, name.c_str(), nullptr, 0, no_flags) != 0) {
                break;
            }
        }
        return 0;
    });
}

int open_file(const char* path, fuse_file_info* fi) {
    return guarded([&] {
        CardView::Handle* handle = nullptr;
        bool uncached = false;
        // The kernel leaves O_TRUNC to us, and Linux truncates even a file opened read-only.
        const bool for_writing = (fi->flags & O_ACCMODE) != O_RDONLY || (fi->flags & O_TRUNC) != 0;
        const int error = view().open(path, for_writing, &handle, &uncached);
        fi->fh = reinterpret_cast<std::uint64_t>(handle);
        fi->direct_io = uncached ? 1 : 0;
        return error;
    });
}

int create_file(const char* path, mode_t /*mode*/, fuse_file_info* fi) {
    return guarded([&] {
        CardView::Handle* handle = nullptr;
        const int error = view().create(path, &handle);
        fi->fh = reinterpret_cast<std::uint64_t>(handle);
        return error;
    });
}

int read_file(const char* /*path*/, char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
    return guarded([&] {
        return view().read(handle_of(fi), buffer, size, static_cast<std::uint64_t>(offset));
    });
}

int write_file(const char* /*path*/, const char* buffer, size_t size, off_t offset,
               fuse_file_info* fi) {
    return guarded([&] {
        return view().write(handle_of(fi), buffer, size, static_cast<std::uint64_t>(offset));
    });
}

int flush_file(const char* /*path*/, fuse_file_info* fi) {
    return guarded([&] { return view().flush(handle_of(fi)); });
}

int release_file(const char* /*path*/, fuse_file_info* fi) {
    return guarded([&] {
        view().release(handle_of(fi));
        return 0;
    });
}

int sync_file(const char* /*path*/, int /*data_only*/, fuse_file_info* fi) {
    return guarded([&] { return view().sync(handle_of(fi)); });
}

int truncate_file(const char* path, off_t size, fuse_file_info* /*fi*/) {
    return guarded([&] { return view().truncate(path, static_cast<std::uint64_t>(size)); });
}

int file_system_space(const char* /*path*/, struct statvfs* out) {
    return guarded([&] {
        CardSpace space;
        if (const int error = view().space(&space)) {
            return error;
        }
        *out = {};
        out->f_bsize = space.cluster_bytes;
        out->f_frsize = space.cluster_bytes;
        out->f_blocks = space.clusters;
        out->f_bfree = space.free_clusters;
        out->f_bavail = space.free_clusters;
        out->f_files = space.file_slots;
        out->f_ffree = space.free_file_slots;
        out->f_favail = space.free_file_slots;
        out->f_namemax = kLongestFileName;
        return 0;
    });
}

int make_folder(const char* path, mode_t /*mode*/) {
    return refuse("making the folder " + std::string(path),
                  "the card's folders are fixed when it is formatted");
}

int remove_folder(const char* path) {
    return refuse("removing the folder " + std::string(path),
                  "the card's folders are fixed when it is formatted");
}

int remove_file(const char* path) {
    return refuse("deleting " + std::string(path),
                  "the card deletes only its oldest files, to make room for new ones");
}

int rename_file(const char* from, const char* to, unsigned int /*flags*/) {
    return refuse("renaming " + std::string(from) + " to " + to, "names on the card never change");
}

int link_file(const char* target, const char* link) {
    return refuse("linking " + std::string(link) + " to " + target, "the card has no links");
}

int make_special_file(const char* path, mode_t /*mode*/, dev_t /*device*/) {
    return refuse("making " + std::string(path), "the card holds only plain files");
}

int change_mode(const char* path, mode_t /*mode*/, fuse_file_info* /*fi*/) {
    return refuse("changing the mode of " + std::string(path), "the card keeps no permissions");
}

int change_owner(const char* path, uid_t /*uid*/, gid_t /*gid*/, fuse_file_info* /*fi*/) {
    return refuse("changing the owner of " + std::string(path), "the card keeps no owners");
}

int change_times(const char* path, const timespec /*times*/[2], fuse_file_info* /*fi*/) {
    return refuse("changing the times of " + std::string(path),
                  "a file's time is when it was created");
}

fuse_operations card_operations() {
    fuse_operations ops{};
    ops.init = init_card;
    ops.getattr = get_attributes;
    ops.readdir = read_directory;
    ops.open = open_file;
    ops.create = create_file;
    ops.read = read_file;
    ops.write = write_file;
    ops.flush = flush_file;
    ops.release = release_file;
    ops.fsync = sync_file;
    ops.truncate = truncate_file;
    ops.statfs = file_system_space;
    ops.mkdir = make_folder;
    ops.rmdir = remove_folder;
    ops.unlink = remove_file;
    ops.rename = rename_file;
    ops.link = link_file;
    ops.symlink = link_file;
    ops.mknod = make_special_file;
    ops.chmod = change_mode;
    ops.chown = change_owner;
    ops.utimens = change_times;
    return ops;
}

}  // namespace

FuseMount::FuseMount(CardView& view, const std::string& mountpoint, const std::string& options) {
    std::string program = "lyfs";
    std::string dash_o = "-o";
    std::string option_text = options;
    char* argv[] = {program.data(), dash_o.data(), option_text.data()};
    fuse_args args = FUSE_ARGS_INIT(3, argv);
    const fuse_operations ops = card_operations();
    fuse_ = fuse_new(&args, &ops, sizeof ops, &view);
    fuse_opt_free_args(&args);
    if (fuse_ == nullptr) {
        throw Failure("libfuse refused the options " + options);
    }
    if (fuse_mount(fuse_, mountpoint.c_str()) != 0) {
        fuse_destroy(fuse_);
        throw Failure("cannot mount on " + mountpoint);
    }
}

FuseMount::~FuseMount() {
    fuse_unmount(fuse_);
    fuse_destroy(fuse_);
}

void FuseMount::serve() {
    fuse_session* session = fuse_get_session(fuse_);
    if (fuse_set_signal_handlers(session) != 0) {
        throw Failure("cannot take the signals that end the mount");
    }
    fuse_loop_config* config = fuse_loop_cfg_create();
    fuse_loop_mt(fuse_, config);
    fuse_loop_cfg_destroy(config);
    fuse_remove_signal_handlers(session);
}

}  // namespace lyfs::tool
