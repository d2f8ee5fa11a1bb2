// A mounted card: its folders, the files of a folder page by page, and open files.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lyfs/lyfs.h"
#include "names.h"

namespace lyfs::tool {

// "/FOLDER/NAME" or "/FOLDER" (name empty) as given on the command line.
struct CardPath {
    std::string folder;
    std::string name;

    std::string text() const { return "/" + folder + (name.empty() ? "" : "/" + name); }
};

// Fails with a usage error for anything but /FOLDER or /FOLDER/NAME.
CardPath parse_card_path(std::string_view text);

// Fails with a usage error naming the rule when the card cannot take `name` (unfit_card_name).
void require_file_name(const std::string& name);

std::string file_name(const FileInfo& info);
std::string folder_name(const DirInfo& info);

struct FolderUsage {
    DirInfo info{};
    std::uint64_t total_bytes = 0;
    std::uint64_t free_bytes = 0;
    std::uint32_t files = 0;
};

enum class AgeOrder { OldestFirst, NewestFirst };

// A file of a folder as the card lists it, with the name it goes by on this computer.
struct ListedFile {
    FileInfo info{};
    std::string card_name;
    std::string local_name;  // local_names.h
};

class Card {
public:
    // ReadOnly never writes to the device: what the mount would repair (an unclosed
    // recording's size, a chain's end) is repaired in memory only. A write-protected card is
    // mounted read-only whatever was asked (mount_mode tells).
    enum class Access { ReadOnly, ReadWrite };

    // Mounts the card file system of the device; fails with the reason and what to do when there
    // is none (not partitioned, not formatted, an image cut short).
    Card(const std::string& device, Access access);
    // Closes the card if close() did not.
    ~Card();
    Card(const Card&) = delete;
    Card& operator=(const Card&) = delete;

    const std::string& device() const { return device_; }
    dev_desc* handle() { return &desc_; }
    std::uint32_t sectors_per_cluster() const { return sectors_per_cluster_; }
    // LYFS_MOUNT_READ_WRITE, LYFS_MOUNT_READ_ONLY or LYFS_MOUNT_WRITE_PROTECTED.
    std::int32_t mount_mode() const;

    std::vector<DirInfo> folders();
    // Size and free space of a folder (files left at 0); fails when the card has no such folder.
    FolderUsage space(const std::string& folder);
    // The same with the files counted.
    FolderUsage usage(const std::string& folder);
    // Visits the folder's files in age order, fetching them from the library a page at a time.
    void for_each_file(const std::string& folder, AgeOrder order,
                       const std::function<void(const FileInfo&)>& visit);
    std::vector<FileInfo> files(const std::string& folder, AgeOrder order);
    // The folder's files oldest first, each with its local name.
    std::vector<ListedFile> listed_files(const std::string& folder);
    // The file `path` names by its local name or, failing that, by its card name (the oldest
    // of that name); fails, naming the folders when there is no such folder.
    std::optional<ListedFile> find_file(const CardPath& path);
    bool has_file(const CardPath& path);
    // When a listed file was recorded (record_time.h), or nothing when its record holds no
    // valid date or the file is gone.
    std::optional<lyfs_file_time> recorded(const FileInfo& info);
    // Flushes and closes the card; why it could not be flushed, or empty.
    std::string close();

private:
    std::string device_;
    std::uint32_t sectors_per_cluster_ = 0;
    dev_desc desc_{};
    bool open_ = true;
};

// A file of the card opened for reading or writing; closed (and committed) at the latest when
// it goes out of scope.
class CardFile {
public:
    enum class Mode { Read, Write };
    CardFile(Card& card, const CardPath& path, Mode mode);
    // Opens a listed file for reading by its fd, whatever its name; `path` names it in messages.
    CardFile(Card& card, const CardPath& path, const ListedFile& file);
    ~CardFile();
    CardFile(const CardFile&) = delete;
    CardFile& operator=(const CardFile&) = delete;

    // Bytes the file holds (for a file being written, bytes written so far).
    std::uint32_t size();
    // Reads up to `length` bytes at the file's position; 0 at the end of its clusters.
    std::uint32_t read(void* buffer, std::uint32_t length);
    void write(const void* buffer, std::uint32_t length);
    // Commits a written file; fails when the library could not.
    void close();
    // Takes a file being written off the card again, as if it had never been created; fails
    // when the library could not (the file then stays open, with nothing to commit).
    void discard();

private:
    Card& card_;
    CardPath path_;
    std::uint32_t fd_ = LYFS_INVALID_FD;
};

}  // namespace lyfs::tool
