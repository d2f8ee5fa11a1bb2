// A mounted empty card (every folder's ring empty, its cursor unset) for
// testing the FAT, file-entry and chain layers on their own, with the FAT
// read and changed on the card itself, behind the library's caches.
#pragma once

#include <vector>

#include "device/disk.h"
#include "support/mounted_card.h"

namespace lyfs::test {

class FolderBench : public MountedCardTest {
protected:
    void SetUp() override {
        MountedCardTest::SetUp();
        ASSERT_EQ(mount(), LYFS_OK);
        part = MountedCardTest::part();
        disk = find_disk("mem:c");
        data = folder("DATA");
    }
    std::uint32_t fat_on_card(std::uint32_t cluster) { return files->fat(cluster); }
    void set_fat_on_card(std::uint32_t cluster, std::uint32_t value) {
        files->set_fat(cluster, value);
        part->fat_cache_sector = kNoSector;
        disk->rd_window_start = 0;
    }
    // Links clusters into a chain ending in `last_value`.
    void set_chain_on_card(const std::vector<std::uint32_t>& clusters,
                           std::uint32_t last_value = 0x0FFFFFF8) {
        for (std::size_t i = 0; i < clusters.size(); ++i) {
            set_fat_on_card(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : last_value);
        }
    }
    stDISK* disk = nullptr;
    stPARTITION* part = nullptr;
    stFOLDER* data = nullptr;  // the folder most tests work in
};

}  // namespace lyfs::test
