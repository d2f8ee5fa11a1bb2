// The in-memory store of a read-only mount, fed out of order and through
// buffers that split sectors, must give back exactly the newest bytes of
// every kept sector and leave every other sector as read.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "device/kept_writes.h"
#include "device/sector_io.h"
#include "lyfs/lyfs.h"

namespace lyfs {
namespace {

// Keeps two sectors of `fill` from `first` on, through two parts split mid-sector.
void keep(KeptWrites* kept, std::uint8_t fill, std::uint32_t first) {
    const std::vector<std::uint8_t> bytes(2 * kSectorBytes, fill);
    const platform::ConstIoPart parts[] = {{bytes.data(), 700},
                                           {bytes.data() + 700, 2 * kSectorBytes - 700}};
    ASSERT_EQ(keep_sectors(kept, parts, 2, first), LYFS_OK);
}

TEST(KeptWrites, ReadsBackTheNewestBytesThroughSplitBuffers) {
    int device_tag = 0;
    platform::DeviceHandle device = &device_tag;
    ASSERT_EQ(keep_writes_in_memory(device), LYFS_OK);
    KeptWrites* kept = kept_writes_of(device);
    ASSERT_NE(kept, nullptr);
    keep(kept, 0x77, 7);  // sectors 7, 8
    keep(kept, 0x33, 3);  // before them: 3, 4
    keep(kept, 0x88, 8);  // 8 again, and 9

    // Read sectors 2..9 into separate buffers that split sectors 2, 4 and 5.
    const std::uint32_t sizes[] = {100, 1000, 300, 8 * kSectorBytes - 1400};
    std::vector<std::uint8_t> buffers[4];
    platform::IoPart parts[4];
    for (int i = 0; i < 4; ++i) {
        buffers[i].assign(sizes[i], 0x00);
        parts[i] = {buffers[i].data(), sizes[i]};
    }
    overlay_kept_sectors(kept, parts, 4, 2);
    std::vector<std::uint8_t> read;
    for (const auto& b : buffers) {
        read.insert(read.end(), b.begin(), b.end());
    }
    const std::uint8_t fill[] = {0x00, 0x33, 0x33, 0x00, 0x00, 0x77, 0x88, 0x88};
    for (std::uint32_t s = 0; s < 8; ++s) {
        EXPECT_EQ(read[s * kSectorBytes], fill[s]) << "sector " << s + 2;
        EXPECT_EQ(read[(s + 1) * kSectorBytes - 1], fill[s]) << "sector " << s + 2;
    }
    // More sectors than the store first holds: it grows and keeps them all.
    for (std::uint8_t i = 0; i < 20; ++i) {
        keep(kept, static_cast<std::uint8_t>(0x40 + i), 100 + 2 * i);
    }
    std::vector<std::uint8_t> grown(40 * kSectorBytes);
    const platform::IoPart all = {grown.data(), static_cast<std::uint32_t>(grown.size())};
    overlay_kept_sectors(kept, &all, 1, 100);
    for (std::uint32_t s = 0; s < 40; ++s) {
        EXPECT_EQ(grown[s * kSectorBytes], 0x40 + s / 2) << "sector " << s + 100;
    }
    int other_tag = 0;
    EXPECT_EQ(kept_writes_of(&other_tag), nullptr);
    drop_kept_writes(device);
    EXPECT_EQ(kept_writes_of(device), nullptr);
}

}  // namespace
}  // namespace lyfs
