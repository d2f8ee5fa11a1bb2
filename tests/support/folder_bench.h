// A formatted in-memory card with its partition and folders set up directly
// from the card, for testing the FAT, file-entry and chain layers on their
// own: every folder starts with an empty ring and an unset cursor.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device/disk.h"
#include "device/partition.h"
#include "device/sector_io.h"
#include "entry/file_entry_cache.h"
#include "folder/dir_entry.h"
#include "folder/folder.h"
#include "support/card_bytes.h"
#include "support/card_maker.h"
#include "support/library_fixture.h"

namespace lyfs::test {

class FolderBench : public LibraryTest {
protected:
    // A card of `mib` MiB, slot 0 of 1 MiB, slot 1 formatted with `table`.
    void make_card(const lyfs_folder_table& table, std::uint64_t mib = 256,
                   std::uint32_t sects_per_clus = 256) {
        auto& card = platform.add_card("c", mib << 20);
        if (sects_per_clus != 256) {
            card.set_sector(0, table_sector(sects_per_clus));
        }
        ASSERT_EQ(CL_LyFS_Get_Master_Device_Info("mem:c", nullptr), LYFS_OK);
        ASSERT_EQ(partition_and_format("mem:c", table), LYFS_OK);
        disk = find_disk("mem:c");
        ASSERT_EQ(setup_partition_info(disk, "card", &part), LYFS_OK);
        set_up_folders();
    }

    void TearDown() override {
        if (part != nullptr) {
            release_folder_objects(part);
        }
        LibraryTest::TearDown();
    }

    stFOLDER* folder(const char* name) { return get_folder_object(part, name); }

    // Reads and changes FAT entries on the card itself, behind the cache.
    std::uint32_t fat_on_card(std::uint32_t cluster) {
        return le32(card().sector(part->part_start + 32 + cluster / 128), 4 * (cluster % 128));
    }
    void set_fat_on_card(std::uint32_t cluster, std::uint32_t value) {
        const std::uint32_t lba = part->part_start + 32 + cluster / 128;
        auto sector = card().sector(lba);
        put_le32(sector, 4 * (cluster % 128), value);
        card().set_sector(lba, sector);
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
    MemoryDevice& card() { return platform.card("c"); }

    stDISK* disk = nullptr;
    stPARTITION* part = nullptr;

private:
    void set_up_folders() {
        std::vector<std::uint8_t> root(512);
        std::vector<std::uint8_t> record(512);
        ASSERT_EQ(read_sectors(disk->h_disk, root.data(), device_sector(part, part->data_start), 1),
                  LYFS_OK);
        ASSERT_EQ(read_sectors(disk->h_disk, record.data(), device_sector(part, 1), 1), LYFS_OK);
        const std::uint32_t n = le32(record, 4);
        for (std::uint32_t k = 0; k < n; ++k) {
            DirEntryInfo entry{};
            ASSERT_TRUE(extract_dir_entry(root.data() + 32 * k, &entry));
            stFOLDER* f = create_folder_object(part);
            ASSERT_NE(f, nullptr);
            std::strcpy(f->fold_name, entry.name);
            f->fold_type = entry.attribute;
            f->start_cluster = entry.first_cluster;
            f->total_clusters = le32(record, 8 + 4 * k);
            f->max_file_num = le32(record, 8 + 4 * (n + k));
            set_folder_layout(f, part->n_scts_per_clus);
            f->h_fe_mutex = platform::create_mutex();
            f->h_space_mutex = platform::create_mutex();
            f->h_file_list_mutex = platform::create_mutex();
            ASSERT_EQ(alloc_file_entry_cache(f), LYFS_OK);
            f->fe_hdr_index = f->fe_tail_index = kNoSector;
            f->fc_cursor = kNoSector;
            f->free_space = f->total_space;
        }
    }
};

}  // namespace lyfs::test
