#include "base_card.h"

#include <algorithm>

#include "lyfs/lyfs.h"
#include "support/card_maker.h"
#include "support/pattern.h"
#include "support/test_platform.h"
#include "write_guard.h"

namespace lyfs::fuzz {
namespace {

constexpr const char* kPath = "mem:base";
constexpr std::uint64_t kClusterBytes = 128 * 1024;
constexpr std::uint64_t kDataReserve = 10ull << 20;

std::uint32_t write_file(dev_desc* desc, const char* path, std::uint32_t size) {
    const std::uint32_t fd = CL_LyFS_File_Open(desc, path, "w", 0, 0, 0);
    require(fd != LYFS_INVALID_FD, "creating a file");
    // Zeros behind the first sectors keep the card's copy small.
    std::vector<std::uint8_t> data = test::pattern(std::min<std::uint32_t>(size, 4096), size);
    data.resize(size);
    require(CL_LyFS_File_Write(desc, data.data(), size, fd) == static_cast<int32_t>(size),
            "writing a file");
    return fd;
}

void fill_card() {
    dev_desc desc{};
    require(CL_LyFS_Device_Open(kPath, "base", 0, &desc) == LYFS_OK, "mounting");
    DirInfo info{};
    std::uint64_t total = 0;
    std::uint64_t free = 0;
    require(CL_LyFS_Get_Dir_Info(&desc, "DATA", &info, &total, &free) == LYFS_OK, "asking DATA");
    const std::uint64_t leave = kDataReserve + kClusterBytes;
    require(free > leave + 2 * kClusterBytes, "sizing DATA");
    // Whole clusters but the last, which holds 1000 bytes.
    const auto first_size = static_cast<std::uint32_t>(free - leave - 2 * kClusterBytes + 1000);
    const std::pair<const char*, std::uint32_t> closed[] = {
        {"/DATA/REC_0001_DATA.MP4", first_size},
        {"/DATA/REC_0002_DATA.MP4", 1000},
        {"/EVENT/EVT_0001_000.MP4", 5000},
        {"/PHOTO/PIC_0001_000.JPG", 3000},
    };
    for (const auto& [path, size] : closed) {
        require(CL_LyFS_File_Close(&desc, write_file(&desc, path, size)) == LYFS_OK,
                "closing a file");
    }
    // Left open: the unmount does not commit it, as when a recorder loses power.
    write_file(&desc, "/EVENT/EVT_0002_000.MP4", 700);
    require(CL_LyFS_Get_Dir_Info(&desc, "DATA", &info, &total, &free) == LYFS_OK && free == leave,
            "filling DATA up to its reserve");
    require(CL_LyFS_Device_Close(&desc) == LYFS_OK, "unmounting");
}

}  // namespace

const BaseCard& BaseCard::get() {
    static const BaseCard card;
    return card;
}

BaseCard::BaseCard() {
    test::TestPlatform platform;
    test::MemoryDevice& card = platform.add_card("base", kDeviceBytes);
    require(CL_LyFS_Start() == LYFS_OK, "starting");
    require(CL_LyFS_Get_Master_Device_Info(kPath, nullptr) == LYFS_OK, "opening the card");
    // Each folder a little larger than the space it keeps free.
    const lyfs_folder_table table =
        test::table_of({test::folder_spec("DATA", 5, 16), test::folder_spec("EVENT", 41, 16),
                        test::folder_spec("PHOTO", 6, 8), test::folder_spec("PARKED", 0, 8)});
    require(test::partition_and_format(kPath, table) == LYFS_OK, "formatting");
    CL_LyFS_Stop();
    require(CL_LyFS_Start() == LYFS_OK, "starting again");
    fill_card();
    CL_LyFS_Stop();

    // Only sectors the library wrote can differ from a blank card.
    for (const test::IoRecord& io : platform.log) {
        for (auto lba = static_cast<std::uint32_t>(io.offset / 512);
             io.op == test::IoOp::kWrite && lba < (io.offset + io.bytes + 511) / 512; ++lba) {
            std::vector<std::uint8_t> bytes = card.sector(lba);
            if (std::any_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b != 0; })) {
                sectors_[lba] = std::move(bytes);
            } else {
                sectors_.erase(lba);
            }
        }
    }
    find_patchable();
}

void BaseCard::find_patchable() {
    const WriteGuard layout(sector(0).data(), kDeviceBytes / 512);
    const std::uint32_t first = le32_at(&sector(0)[0x1AE + 8]);
    patchable_ = {{0, "table"}, {first, "boot"}, {first + 1, "record"}};
    const auto root_lba = static_cast<std::uint32_t>(layout.cluster_sector(2));
    for (auto lba = static_cast<std::uint32_t>(layout.fat_first()); lba < root_lba; ++lba) {
        patchable_.push_back({lba, "fat"});
    }
    patchable_.push_back({root_lba, "root"});

    // Each folder's first slots, and its last sector, where a ring wraps.
    const std::vector<std::uint8_t> record = sector(first + 1);
    const std::vector<std::uint8_t> root = sector(root_lba);
    const std::uint32_t n = le32_at(&record[4]);
    const std::uint64_t s = layout.cluster_sector(3) - root_lba;
    for (std::uint32_t k = 0; k < n && root[32 * k] != 0; ++k) {
        const std::uint8_t* dir = &root[32 * k];
        const std::uint32_t start = dir[20] << 16 | dir[21] << 24 | dir[26] | dir[27] << 8;
        const std::uint64_t max_files = le32_at(&record[8 + 4 * (n + k)]);
        const auto area = static_cast<std::uint32_t>(layout.cluster_sector(start));
        for (std::uint32_t i = 0; i < 4; ++i) {
            patchable_.push_back({area + i, "entries"});
        }
        const std::uint64_t area_sectors = ((max_files + 3) / 4 + s - 1) / s * s;
        patchable_.push_back({static_cast<std::uint32_t>(area + area_sectors - 1), "entries"});
    }
    require(patchable_.size() == 40, "finding the sectors inputs may change");
}

}  // namespace lyfs::fuzz
