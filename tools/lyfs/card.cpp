#include "card.h"

#include <algorithm>
#include <cstring>

#include "device.h"
#include "diagnosis.h"
#include "failure.h"
#include "library.h"
#include "local_names.h"
#include "record_time.h"

namespace lyfs::tool {
namespace {

// Files fetched per call of the list export; a folder holds up to thousands.
constexpr std::uint32_t kFilesPerPage = 16;
constexpr std::size_t kFileInfoBytes = sizeof(FileInfo);

// A read, write or close of an open file that failed, in the words of what the library logged.
[[noreturn]] void fail_transfer(const char* doing, const CardPath& path) {
    const std::string said = library_failure();
    throw Failure(
        std::string(doing) + " " + path.text() + " failed: " + failure_words(LYFS_FAIL, said),
        said);
}

[[noreturn]] void explain_mount_failure(const std::string& device, std::int32_t status) {
    require_not_in_use(device, status);
    if (const std::string trouble = volume_trouble(device); !trouble.empty()) {
        throw Failure(trouble);
    }
    if (status == LYFS_ERR_MOUNT) {
        throw Failure(device +
                      " holds no card file system (prepare it with lyfs partition and lyfs "
                      "format, or lyfs mkimage for a new image)");
    }
    throw Failure("cannot mount " + device + ": " + status_words(status), library_failure());
}

}  // namespace

CardPath parse_card_path(std::string_view text) {
    const std::string usage =
        "\"" + std::string(text) + "\" is not a card path like /EVENT or /EVENT/NAME";
    if (!text.starts_with('/')) {
        throw UsageError(usage);
    }
    text.remove_prefix(1);
    if (text.ends_with('/')) {
        text.remove_suffix(1);
    }
    const std::size_t slash = text.find('/');
    CardPath path{std::string(text.substr(0, slash)), ""};
    if (slash != std::string_view::npos) {
        path.name = text.substr(slash + 1);
        if (path.name.empty() || path.name.find('/') != std::string::npos) {
            throw UsageError(usage);
        }
    }
    if (path.folder.empty()) {
        throw UsageError(usage);
    }
    return path;
}

std::string file_name(const FileInfo& info) {
    return std::string(info.name, strnlen(info.name, sizeof info.name));
}

std::string folder_name(const DirInfo& info) {
    return std::string(info.fold_name, strnlen(info.fold_name, sizeof info.fold_name));
}

void require_file_name(const std::string& name) {
    if (const std::string why = unfit_card_name(name); !why.empty()) {
        throw UsageError(why);
    }
}

Card::Card(const std::string& device, Access access) : device_(device) {
    require_device(device);
    forget_library_failures();
    const std::int32_t status = access == Access::ReadOnly
                                    ? lyfs_device_open_read_only(device.c_str(), "card", &desc_)
                                    : CL_LyFS_Device_Open(device.c_str(), "card", 0, &desc_);
    if (status != LYFS_OK) {
        explain_mount_failure(device, status);
    }
    if (folders().empty()) {
        // A partition that was never formatted mounts with nothing in it.
        CL_LyFS_Device_Close(&desc_);
        const std::string trouble = volume_trouble(device);
        throw Failure(!trouble.empty() ? trouble
                                       : device + " lists no folder: its folder record or root " +
                                             "directory is damaged (lyfs check tells more)");
    }
    // Asked once the card is mounted, so that a read-only mount is the only way it is opened.
    sectors_per_cluster_ = read_device_info(device).n_scts_per_clus;
}

std::int32_t Card::mount_mode() const {
    return lyfs_device_mount_mode(&desc_);
}

Card::~Card() {
    if (open_) {
        CL_LyFS_Device_Close(&desc_);
    }
}

std::string Card::close() {
    forget_library_failures();
    const std::int32_t status = CL_LyFS_Device_Close(&desc_);
    open_ = false;
    return status == LYFS_OK ? std::string() : failure_words(status, library_failure());
}

std::vector<DirInfo> Card::folders() {
    lyfs_dir_list list{};
    if (CL_LyFS_Get_Dir_List(&desc_, &list) != LYFS_OK) {
        throw Failure("cannot list the folders of " + device_ + ": " + status_words(LYFS_FAIL));
    }
    const std::size_t count = std::min<std::size_t>(list.count, std::size(list.dirs));
    return std::vector<DirInfo>(list.dirs, list.dirs + count);
}

FolderUsage Card::space(const std::string& folder) {
    FolderUsage usage;
    const std::int32_t status = CL_LyFS_Get_Dir_Info(&desc_, folder.c_str(), &usage.info,
                                                     &usage.total_bytes, &usage.free_bytes);
    if (status == LYFS_ERR_NO_FOLDER) {
        std::vector<std::string> names;
        std::string listed;
        for (const DirInfo& info : folders()) {
            names.push_back(folder_name(info));
            listed += " " + names.back();
        }
        for (const LeftOutFolder& left_out : folders_left_out(device_, names)) {
            if (left_out.name == folder) {
                throw Failure("folder " + folder + " is on " + device_ +
                              " but cannot be used: " + left_out.why);
            }
        }
        throw Failure(device_ + " has no folder " + folder + " (it has:" + listed + ")");
    }
    if (status != LYFS_OK) {
        throw Failure("cannot read folder " + folder + ": " + status_words(status));
    }
    return usage;
}

FolderUsage Card::usage(const std::string& folder) {
    FolderUsage usage = space(folder);
    for_each_file(folder, AgeOrder::OldestFirst, [&usage](const FileInfo&) { ++usage.files; });
    return usage;
}

void Card::for_each_file(const std::string& folder, AgeOrder order,
                         const std::function<void(const FileInfo&)>& visit) {
    // The export takes a count followed by room for that many records; records are copied out
    // one by one since only the first is declared in the record type.
    std::vector<std::uint8_t> page(LYFS_FILE_LIST_BYTES(kFilesPerPage));
    const std::uint32_t sort = order == AgeOrder::OldestFirst ? 0 : 1;
    std::uint32_t start = 1;
    for (;;) {
        const std::uint32_t wanted = kFilesPerPage;
        std::memcpy(page.data(), &wanted, sizeof wanted);
        const std::int32_t written = CL_LyFS_Get_FileList(
            &desc_, folder.c_str(), &start, reinterpret_cast<lyfs_file_list*>(page.data()), sort);
        if (written < 0) {
            throw Failure("cannot list the files of /" + folder + " on " + device_ + ": " +
                          status_words(LYFS_FAIL));
        }
        for (std::int32_t k = 0; k < written; ++k) {
            FileInfo info;
            std::memcpy(&info, page.data() + offsetof(lyfs_file_list, files) + k * kFileInfoBytes,
                        kFileInfoBytes);
            visit(info);
        }
        if (static_cast<std::uint32_t>(written) < kFilesPerPage) {
            return;
        }
    }
}

std::vector<FileInfo> Card::files(const std::string& folder, AgeOrder order) {
    std::vector<FileInfo> files;
    for_each_file(folder, order, [&files](const FileInfo& info) { files.push_back(info); });
    return files;
}

std::vector<ListedFile> Card::listed_files(const std::string& folder) {
    std::vector<ListedFile> listed;
    std::vector<std::string> card_names;
    for_each_file(folder, AgeOrder::OldestFirst, [&](const FileInfo& info) {
        listed.push_back({info, file_name(info), {}});
        card_names.push_back(listed.back().card_name);
    });
    const std::vector<std::string> local = local_names(card_names);
    for (std::size_t i = 0; i < listed.size(); ++i) {
        listed[i].local_name = local[i];
    }
    return listed;
}

std::optional<ListedFile> Card::find_file(const CardPath& path) {
    space(path.folder);  // a clear message for a folder the card does not have
    const std::vector<ListedFile> listed = listed_files(path.folder);
    for (std::string ListedFile::*name : {&ListedFile::local_name, &ListedFile::card_name}) {
        for (const ListedFile& file : listed) {
            if (file.*name == path.name) {
                return file;
            }
        }
    }
    return std::nullopt;
}

bool Card::has_file(const CardPath& path) {
    bool found = false;
    for_each_file(path.folder, AgeOrder::OldestFirst,
                  [&](const FileInfo& info) { found = found || file_name(info) == path.name; });
    return found;
}

std::optional<lyfs_file_time> Card::recorded(const FileInfo& info) {
    lyfs_file_time stamp{};
    if (lyfs_get_file_time(&desc_, info.fd, &stamp) != LYFS_OK) {
        return std::nullopt;
    }
    return valid_time(stamp);
}

CardFile::CardFile(Card& card, const CardPath& path, Mode mode) : card_(card), path_(path) {
    forget_library_failures();
    fd_ = CL_LyFS_File_Open(card.handle(), path.text().c_str(), mode == Mode::Write ? "w" : "r", 0,
                            0, 0);
    if (fd_ != LYFS_INVALID_FD) {
        return;
    }
    const std::string library_said = library_failure();
    card.space(path.folder);  // fails with the folder names when there is no such folder
    if (mode == Mode::Read && !card.has_file(path)) {
        throw Failure("no file " + path.text() + " on " + card.device());
    }
    if (mode == Mode::Write && card.has_file(path)) {
        throw Failure(path.text() + " already exists on " + card.device() +
                      " (files on the card are never overwritten)");
    }
    throw Failure("cannot open " + path.text() + (mode == Mode::Write ? " for writing" : "") +
                      ": " + failure_words(LYFS_FAIL, library_said),
                  library_said);
}

CardFile::CardFile(Card& card, const CardPath& path, const ListedFile& file)
    : card_(card), path_(path) {
    forget_library_failures();
    fd_ = CL_LyFS_File_Open(card.handle(), nullptr, "r", 0, 0, file.info.fd);
    if (fd_ == LYFS_INVALID_FD) {
        const std::string library_said = library_failure();
        throw Failure("cannot open " + path.text() + ": " + failure_words(LYFS_FAIL, library_said),
                      library_said);
    }
}

CardFile::~CardFile() {
    if (fd_ != LYFS_INVALID_FD) {
        CL_LyFS_File_Close(card_.handle(), fd_);
    }
}

std::uint32_t CardFile::size() {
    FileInfo info{};
    if (CL_LyFS_Get_FileInfo(card_.handle(), fd_, &info) != LYFS_OK) {
        throw Failure("cannot read the size of " + path_.text());
    }
    return info.file_size;
}

std::uint32_t CardFile::read(void* buffer, std::uint32_t length) {
    forget_library_failures();
    const std::int32_t count = CL_LyFS_File_Read(card_.handle(), buffer, length, fd_);
    if (count < 0) {
        fail_transfer("reading", path_);
    }
    return static_cast<std::uint32_t>(count);
}

void CardFile::write(const void* buffer, std::uint32_t length) {
    forget_library_failures();
    const std::int32_t count = CL_LyFS_File_Write(card_.handle(), buffer, length, fd_);
    if (count < 0 || static_cast<std::uint32_t>(count) != length) {
        fail_transfer("writing", path_);
    }
}

void CardFile::close() {
    forget_library_failures();
    const std::int32_t status = CL_LyFS_File_Close(card_.handle(), fd_);
    fd_ = LYFS_INVALID_FD;
    if (status != LYFS_OK) {
        fail_transfer("closing", path_);
    }
}

void CardFile::discard() {
    forget_library_failures();
    const std::int32_t status = lyfs_file_discard(card_.handle(), fd_);
    if (status != LYFS_OK) {
        throw Failure(failure_words(status, library_failure()), library_failure());
    }
    fd_ = LYFS_INVALID_FD;
}

}  // namespace lyfs::tool
