#include "card_builder.h"

#include <fcntl.h>
#include <unistd.h>

#include "bench_support.h"
#include "platform/platform.h"

namespace lyfs::bench {
namespace {

constexpr std::uint32_t kClusterBytes = 131072;
alignas(64) const std::uint8_t kZeros[kClusterBytes] = {};

platform::IoResult write_unless_zeros(platform::DeviceHandle device, const void* buffer,
                                      std::uint32_t bytes, std::uint64_t offset) {
    const auto* p = static_cast<const std::uint8_t*>(buffer);
    if (p >= kZeros && p + bytes <= kZeros + kClusterBytes) {
        platform::IoResult skipped;
        skipped.outcome = platform::IoOutcome::kDone;
        skipped.transferred = bytes;
        return skipped;
    }
    return platform::native_table().write_at(device, buffer, bytes, offset);
}

bool no_flush(platform::DeviceHandle) {
    return true;
}

const platform::PlatformTable& builder_table() {
    static const platform::PlatformTable table = [] {
        platform::PlatformTable t = platform::native_table();
        t.write_at = write_unless_zeros;
        t.flush_device = no_flush;
        return t;
    }();
    return table;
}

}  // namespace

CardBuilder::CardBuilder(const std::string& path) : path_(path) {
    platform::install_table(&builder_table());
    check(CL_LyFS_Start() == LYFS_OK, "start");
    check(CL_LyFS_Device_Open(path.c_str(), "card", 0, &desc_) == LYFS_OK, "mount to build");
}

CardBuilder::~CardBuilder() {
    CL_LyFS_Device_Close(&desc_);
    CL_LyFS_Stop();
    platform::install_table(nullptr);
    const int fd = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
    ::fdatasync(fd);
    ::close(fd);
}

void CardBuilder::add_file(const char* folder, const std::string& name, std::uint32_t clusters) {
    const std::string path = std::string("/") + folder + "/" + name;
    const std::uint32_t fd = CL_LyFS_File_Open(&desc_, path.c_str(), "w", 0, 0, 0);
    check(fd != LYFS_INVALID_FD, "create " + path);
    for (std::uint32_t i = 0; i < clusters; ++i) {
        check(CL_LyFS_File_Write(&desc_, kZeros, kClusterBytes, fd) == kClusterBytes,
              "write " + path);
    }
    check(CL_LyFS_File_Close(&desc_, fd) == LYFS_OK, "close " + path);
}

std::uint64_t CardBuilder::free_space(const char* folder) {
    DirInfo info{};
    std::uint64_t total = 0;
    std::uint64_t free = 0;
    check(CL_LyFS_Get_Dir_Info(&desc_, folder, &info, &total, &free) == LYFS_OK, "folder info");
    return free;
}

}  // namespace lyfs::bench
