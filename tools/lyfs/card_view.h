// A mounted card as a tree of files, for lyfs mount: the root holds the card's folders, each
// folder its recordings oldest first, all under their local names (local_names.h). A folder
// the library cannot be asked for by its name is left out, with a log line. The view follows
// the card as files are created through it and as the library reclaims old ones, serves several
// readers at once, and refuses what the card cannot do with the nearest error number and one
// log line, never half done.
//
// Every operation may be called from several threads at once. Failures are negative errno
// values, as the kernel wants them.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "card.h"

namespace lyfs::tool {

struct NodeInfo {
    enum class Kind { kRoot, kFolder, kFile };
    Kind kind = Kind::kRoot;
    std::uint64_t size = 0;
    std::uint64_t blocks = 0;  // 512-byte blocks the node holds on the card
    std::time_t modified = 0;
    std::uint32_t links = 1;
};

struct CardSpace {
    std::uint64_t cluster_bytes = 0;
    std::uint64_t clusters = 0;  // of all folders' content areas
    std::uint64_t free_clusters = 0;
    std::uint64_t file_slots = 0;  // files the folders can hold
    std::uint64_t free_file_slots = 0;
};

class CardView {
public:
    using LogLine = std::function<void(const std::string&)>;

    // Lists every folder of the mounted card. Nothing else changes the card while the view
    // lives (the mount keeps other programs away), so the listing is kept, not read again.
    CardView(Card& card, bool read_only, LogLine log);
    ~CardView();
    CardView(const CardView&) = delete;
    CardView& operator=(const CardView&) = delete;

    bool read_only() const { return read_only_; }
    std::uint32_t cluster_bytes() const { return cluster_bytes_; }

    int stat(std::string_view path, NodeInfo* info);
    int list(std::string_view path, std::vector<std::string>* names);
    int space(CardSpace* space);

    struct Handle;
    // Opens a recording for reading (recordings are never opened for writing). `uncached` is
    // set when the recording is damaged: its reads must reach the program as they are, a short
    // one and then the error, rather than through a cache that would take a short read for the
    // end of the file.
    int open(std::string_view path, bool for_writing, Handle** handle, bool* uncached);
    // A new file of a folder, written from start to end and committed when it is released.
    int create(std::string_view path, Handle** handle);
    // Bytes read or written, or a negative errno. A read fails with EIO where the recording's
    // cluster chain ends before its size.
    int read(Handle* handle, char* buffer, std::size_t size, std::uint64_t offset);
    int write(Handle* handle, const char* buffer, std::size_t size, std::uint64_t offset);
    // A descriptor of the handle was closed: what was written through it is made durable on
    // the card; its release, which commits it, follows soon.
    int flush(Handle* handle);
    // The same without the close.
    int sync(Handle* handle);
    // Commits a new file, or takes it back off the card when a write of it failed or was
    // refused: a copy that did not finish never stays as a recording.
    void release(Handle* handle);
    int truncate(std::string_view path, std::uint64_t size);
    // Logs "refused WHAT: WHY" and returns -error.
    int refuse(const std::string& what, const std::string& why, int error);
    // Releases what is still open when the file system goes away.
    void close_all();
    // What could not be committed or taken back since the view was made, one line each.
    std::vector<std::string> failures();

private:
    struct Writer;
    struct Reader;
    struct FileRecord {
        std::string card_name;
        std::uint32_t fd = LYFS_INVALID_FD;  // none until the card holds the file
        std::uint64_t size = 0;
        bool size_known = false;  // a file whose writer never closed it reads as whole clusters
        std::optional<std::time_t> modified;
        Writer* writer = nullptr;  // while the file is written through the view
        std::list<std::string>::iterator place;
    };
    struct Folder {
        std::string name;                         // local, as listed
        std::string card_name;                    // for the library, which finds folders by it
        std::list<std::string> names;             // local names, oldest first
        std::map<std::string, FileRecord> files;  // by local name
    };
    struct Path {
        Folder* folder = nullptr;  // null for the root
        std::string name;          // the local name; empty for a folder
        std::string text;
    };

    static void on_reclaimed(std::uint32_t fd, std::uint32_t length, char* path);
    void reclaimed(std::uint32_t fd, const std::string& path);
    // Resolves a path to the root, a folder or a (possibly missing) file of a folder.
    int resolve(std::string_view text, Path* path);
    // The same for a listed file: -ENOENT, or -EISDIR for the root or a folder.
    int resolve_listed(std::string_view text, Path* path);
    void add_file(Folder& folder, const std::string& name, const FileRecord& record);
    void drop_file(Folder& folder, const std::string& name);
    // The listed file, under state_.
    FileRecord* find(const Path& path);
    // Size and time of a listed file, learnt from the card the first time they are asked for.
    int describe_file(const Path& path, NodeInfo* info);
    int learn_size(const Path& path);
    int wait_for_writer(const Path& path);
    int open_reader(const Path& path, Reader** reader);
    bool reaches_its_size(Reader& reader);
    int broken_chain(Reader& reader, std::uint64_t offset);
    int start_file(Writer& writer);
    int make_durable(Writer& writer);
    void finish_writer(Writer& writer);
    void note_failure(const std::string& line);
    std::uint64_t blocks_of(std::uint64_t size, bool on_card) const;

    Card& card_;
    const bool read_only_;
    const LogLine log_;
    const std::uint32_t cluster_bytes_;
    const std::uint64_t largest_file_;
    const std::time_t mounted_at_;

    // state_ guards the listing, the readers, the handles and the failures; it is never held
    // across a call into the library, whose delete callback takes it. opening_ keeps the
    // library's opens and closes of one file in order (the library shares one open file among
    // all its readers).
    std::mutex state_;
    std::condition_variable writer_done_;
    std::mutex opening_;
    std::vector<std::unique_ptr<Folder>> folders_;
    std::map<std::uint32_t, std::unique_ptr<Reader>> readers_;  // by the library's fd
    std::set<Handle*> handles_;
    std::set<std::uint32_t> reported_damage_;  // fds of files whose broken chain was logged
    std::vector<std::string> failures_;
};

}  // namespace lyfs::tool
