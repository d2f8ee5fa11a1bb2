// Makes a sparse card image and shows what the library reports about it.
// Built only on the public header, as a host program would be.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "lyfs/lyfs.h"

namespace {

constexpr std::uint64_t kImageBytes = 8ull << 30;  // an 8 GiB card

bool make_sparse_image(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    bool ok = ::ftruncate(fd, static_cast<off_t>(kImageBytes)) == 0;
    return ::close(fd) == 0 && ok;
}

}  // namespace

int main() {
    char folder[] = "/tmp/lyfs-demo-XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        std::perror("lyfs demo: cannot make a temporary folder");
        return 1;
    }
    const std::string image = std::string(folder) + "/card.img";
    if (!make_sparse_image(image)) {
        std::perror("lyfs demo: cannot make the card image");
        return 1;
    }
    std::printf("card image: %s (%llu bytes, sparse)\n", image.c_str(),
                static_cast<unsigned long long>(kImageBytes));

    int exit_code = 0;
    if (int32_t status = CL_LyFS_Start(); status != LYFS_OK) {
        std::fprintf(stderr, "lyfs demo: start failed: %d (%s)\n", status,
                     lyfs_status_text(status));
        return 1;
    }
    lyfs_device_info info{};
    int32_t status = CL_LyFS_Get_Master_Device_Info(image.c_str(), &info);
    if (status == LYFS_OK) {
        std::printf("sectors per cluster: %u\n", info.n_scts_per_clus);
        std::printf("device sectors:      %u (%.1f GiB)\n", info.total_sectors,
                    info.total_sectors / 2097152.0);
        int32_t is_lyfs = CL_LyFS_Check_LyFS_partition(image.c_str());
        std::printf("card file system:    %s\n",
                    is_lyfs == LYFS_IS_LYFS ? "present" : "not present (blank card)");
    } else {
        std::fprintf(stderr, "lyfs demo: device information failed: %d (%s)\n", status,
                     lyfs_status_text(status));
        exit_code = 1;
    }
    CL_LyFS_Stop();
    ::unlink(image.c_str());
    ::rmdir(folder);
    return exit_code;
}
