#include "device.h"

#include <iostream>
#include <vector>

#include "copy.h"
#include "failure.h"
#include "progress.h"
#include "sha256.h"
#include "system.h"
#include "units.h"

namespace lyfs::tool {
namespace {

constexpr std::uint64_t kLargestChainBytes = 256 * kMiB;

}  // namespace

void require_device(const std::string& path) {
    std::string why;
    const PathKind kind = path_kind(path, &why);
    if (kind == PathKind::kMissing) {
        throw Failure(path + ": " + why);
    }
    if (kind == PathKind::kOther) {
        throw Failure(path + ": neither a block device nor a card image file");
    }
}

bool is_block_device(const std::string& path) {
    std::string why;
    return path_kind(path, &why) == PathKind::kDevice;
}

void require_writable(const std::string& path) {
    if (is_write_protected(path)) {
        throw Failure(path + " is write-protected: nothing was written");
    }
}

lyfs_device_info read_device_info(const std::string& path) {
    require_device(path);
    lyfs_device_info info{};
    if (const std::int32_t status = CL_LyFS_Get_Master_Device_Info(path.c_str(), &info);
        status != LYFS_OK) {
        throw Failure("cannot read " + path + ": " + status_words(status));
    }
    return info;
}

void require_not_in_use(const std::string& path, std::int32_t status) {
    if (status == LYFS_ERR_SHARING_VIOLATION) {
        throw Failure(path + " is in use by another program (mounted with lyfs mount, or being " +
                      "partitioned or formatted) and was left as it is: " + status_words(status));
    }
}

void confirm_overwrite(const std::string& path, const std::string& what, bool assume_yes) {
    if (assume_yes || !is_block_device(path)) {
        return;
    }
    std::cout << what << " on " << path << ": everything on the card is lost. Continue? [y/N] "
              << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    if (!stdin_is_terminal()) {
        std::cout << answer << std::endl;  // no terminal echoed the answer and its line end
    }
    if (answer != "y" && answer != "Y" && answer != "yes") {
        throw Failure("nothing done on " + path + " (not confirmed; --yes skips the question)");
    }
}

std::string hash_device(DeviceReader& reader, const std::string& path) {
    Sha256 hash;
    Progress progress("hashing " + path, reader.size(), true);
    std::vector<std::uint8_t> piece(4 * kMiB);
    while (const std::size_t got = reader.read(piece)) {
        stop_if_interrupted(" while " + path + " was hashed");
        hash.update(std::span(piece.data(), got));
        progress.advance(got);
    }
    progress.clear();
    return hash.finish_hex();
}

std::uint64_t largest_file_bytes(std::uint32_t sectors_per_cluster) {
    const std::uint64_t cluster_bytes = std::uint64_t{sectors_per_cluster} * kSectorBytes;
    return kLargestChainBytes / cluster_bytes * cluster_bytes;
}

}  // namespace lyfs::tool
