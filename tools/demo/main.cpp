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

int fail(const char* what, int32_t status) {
    std::fprintf(stderr, "lyfs demo: %s failed: %d (%s)\n", what, status, lyfs_status_text(status));
    return 1;
}

stFOLDER_SPEC folder(const char* name, uint64_t share, uint32_t max_files) {
    stFOLDER_SPEC spec{};
    std::snprintf(spec.name, sizeof spec.name, "%s", name);
    spec.share_percent = share;
    spec.max_file_num = max_files;
    spec.fold_type = 0x10;
    return spec;
}

// The folders a recorder keeps: DATA 40 %, EVENT 30 %, PHOTO 10 %, PARKED the rest.
lyfs_folder_table default_folders() {
    lyfs_folder_table table{};
    table.count = 4;
    table.folders[0] = folder("DATA", 40, 5000);
    table.folders[1] = folder("EVENT", 30, 5000);
    table.folders[2] = folder("PHOTO", 10, 2000);
    table.folders[3] = folder("PARKED", 0, 2000);
    return table;
}

void report_card(const std::string& image, const char* when) {
    const bool present = CL_LyFS_Check_LyFS_partition(image.c_str()) == LYFS_IS_LYFS;
    std::printf("card file system (%s): %s\n", when, present ? "present" : "not present");
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
        return fail("start", status);
    }
    lyfs_device_info info{};
    uint32_t slot = 0;
    uint32_t sectors = 0;
    const lyfs_folder_table table = default_folders();
    int32_t status = CL_LyFS_Get_Master_Device_Info(image.c_str(), &info);
    if (status == LYFS_OK) {
        std::printf("sectors per cluster: %u\n", info.n_scts_per_clus);
        std::printf("device sectors:      %u (%.1f GiB)\n", info.total_sectors,
                    info.total_sectors / 2097152.0);
        report_card(image, "blank card");
        status = CL_LyFS_Create_Partition(image.c_str(), LYFS_PART_FAT32, 64, &slot, &sectors, 0);
    }
    if (status == LYFS_OK) {
        std::printf("slot %u: FAT32, %u sectors\n", slot, sectors);
        status =
            CL_LyFS_Create_Partition(image.c_str(), LYFS_PART_LYFS, UINT64_MAX, &slot, &sectors, 0);
    }
    if (status == LYFS_OK) {
        std::printf("slot %u: card file system, %u sectors (the rest of the card)\n", slot,
                    sectors);
        status = CL_LyFS_Format(image.c_str(), "", LYFS_PART_LYFS, 0, &table);
    }
    if (status == LYFS_OK) {
        std::printf("formatted with %u folders:", table.count);
        for (unsigned k = 0; k < table.count; ++k) {
            std::printf(" %s", table.folders[k].name);
        }
        std::printf("\n");
        report_card(image, "after partitioning and formatting");
    } else {
        exit_code = fail("preparing the card", status);
    }
    CL_LyFS_Stop();
    ::unlink(image.c_str());
    ::rmdir(folder);
    return exit_code;
}
