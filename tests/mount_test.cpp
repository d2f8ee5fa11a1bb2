// Mounting cards: the folder set-up, the scan that finds each ring and its
// files, the FAT count, and what open and close leave behind.
#include <gtest/gtest.h>

#include "core/state.h"
#include "support/mounted_card.h"

namespace lyfs {
namespace {

using MountTest = test::MountedCardTest;
using test::name_of;

TEST_F(MountTest, EmptyCardMountsFillsTheDeviceRecordAndClosesOnce) {
    ASSERT_EQ(mount(), LYFS_OK);
    EXPECT_NE(+desc.part_handle, 0u);
    // Only slot 1 is written; the cluster size is the boot sector's low byte of 256.
    EXPECT_EQ(test::Values({desc.part_count, desc.slots[1].type, desc.slots[1].first_sector,
                            desc.slots[0].type, desc.sectors_per_cluster, desc.fat_device_sector,
                            desc.fat_first_sector, desc.first_cluster, desc.part_total_sectors,
                            desc.backup_boot_sct, desc.reserved_sectors}),
              test::Values({2, 0x52, 2080, 0, 0, 32, 32, 2, (256 << 11) - 2080, 6, 32}));

    stFOLDER* data = folder("DATA");
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(ring("DATA"), (Ring{kNoSector, kNoSector, 0}));
    EXPECT_EQ((std::vector<std::uint64_t>{data->free_space, data->fc_cursor, data->fe_totals}),
              (std::vector<std::uint64_t>{data->total_space, kNoSector, 1024}));
    EXPECT_TRUE(log.contains("[RVFS]SETUP, Folder:PARKED, Max Files:1000, \n"));

    // A second open finds the mount; closing it leaves nothing behind.
    dev_desc second{};
    const auto reads = platform.counters.reads;
    ASSERT_EQ(CL_LyFS_Device_Open("mem:c", "card", 0, &second), LYFS_OK);
    EXPECT_EQ(+second.part_handle, +desc.part_handle) << "the existing mount";
    EXPECT_EQ(platform.counters.reads, reads) << "no second set-up";

    const auto flushes = platform.counters.flushes;
    unmount();
    EXPECT_EQ(platform.counters.flushes, flushes + 1);
    EXPECT_EQ(CL_LyFS_Device_Close(&second), LYFS_ERR_CLOSE_NO_PARTITION) << "a stale record";
    dev_desc none{};
    EXPECT_EQ(CL_LyFS_Device_Open("mem:missing", "x", 0, &none), LYFS_ERR_OPEN_DEVICE);
    // A partition name that leaves no room for its terminator.
    EXPECT_EQ(CL_LyFS_Device_Open("mem:c", std::string(128, 'n').c_str(), 0, &none),
              LYFS_ERR_MOUNT);
    EXPECT_EQ(library_state()->disk_list, nullptr);
    // A card on a file system that keeps no advisory locks is still mounted.
    platform.locks_unsupported = true;
    ASSERT_EQ(mount(), LYFS_OK);
    EXPECT_TRUE(
        log.contains("[INFO]CL_LyFS_Device_Open, no advisory lock on the device, error:31"));
}

TEST_F(MountTest, TheScanFindsEachRing) {
    // `n` slots from `from` on, round the ring.
    const auto run = [](std::uint32_t from, std::uint32_t n) {
        std::vector<std::uint32_t> v(n);
        for (std::uint32_t i = 0; i < n; ++i) {
            v[i] = (from + i) % 1024;
        }
        return v;
    };
    // The slots in ring order, as the folder must list them.
    const std::pair<std::vector<std::uint32_t>, Ring> cases[] = {{run(10, 11), {10, 20, 11}},
                                                                 {run(1000, 28), {1000, 3, 28}},
                                                                 {{7, 9, 0, 1, 2, 3}, {7, 3, 1021}},
                                                                 {{2, 5}, {2, 5, 4}},
                                                                 {{6}, {6, 6, 1}},
                                                                 {run(0, 1024), {0, 1023, 1024}}};
    for (const auto& [slots, ring_found] : cases) {
        // A fresh card each time.
        for (std::uint32_t s = 0; s < 256; ++s) {
            files->set_rel(
                files->data_start() + (files->folder("EVENT").start_cluster - 2) * 256 + s,
                std::vector<std::uint8_t>(512, 0));
        }
        // One content cluster each; a full ring's worth is more than the folder holds, so
        // those are not committed.
        for (std::uint32_t slot : slots) {
            files->place_run("EVENT", slot, name_of(slot), slots.size() > 100 ? 0 : 1000,
                             slot % 500, 1);
        }
        ASSERT_EQ(mount(), LYFS_OK);
        EXPECT_EQ(ring("EVENT"), ring_found) << slots.size() << " files from " << slots[0];
        EXPECT_EQ(listed_slots("EVENT"), slots);
        unmount();
    }
}

TEST_F(MountTest, NotCommittedFilesAreListedAndChargedNothing) {
    const std::uint32_t cluster = files->cluster_bytes();
    files->place_run("EVENT", 0, name_of(0), 1, 0, 1);
    files->place_run("EVENT", 1, name_of(1), 4096, 1, 1);
    files->place_run("EVENT", 2, name_of(2), cluster + 1, 2, 2);
    files->place("EVENT", 3, name_of(3), 0, {files->folder("EVENT").content_start + 4}, 0);
    test::LogCapture verbose(true);
    ASSERT_EQ(mount(), LYFS_OK);
    EXPECT_EQ(listed_slots("EVENT"), (std::vector<std::uint32_t>{0, 1, 2, 3}));
    EXPECT_EQ((std::vector<std::size_t>{verbose.count("cluster file size:131072,"),
                                        verbose.count("cluster file size:262144,"),
                                        verbose.count("file_size:0, cluster file size:0,")}),
              (std::vector<std::size_t>{2, 1, 1}));
    // The newest file's open chain was ended on the card, and the count
    // rescanned.
    EXPECT_EQ(files->fat(files->folder("EVENT").content_start + 4), 0x0FFFFFF8u);
    // Free space comes from the FAT; the cursor stands behind the newest file.
    stFOLDER* event = folder("EVENT");
    EXPECT_EQ(
        (std::vector<std::uint64_t>{event->n_used_clusters, event->free_space, event->fc_cursor}),
        (std::vector<std::uint64_t>{5, (event->n_fc_clusters - 5ull) * cluster, 4}));
    expect_clean_card();
}

TEST_F(MountTest, FolderRecordAndRootDirectoryLimitsAndFoldersOutsideTheVolume) {
    // Folders outside the volume are not used.
    auto fsinfo = files->rel(1);
    test::put_le32(fsinfo, 8 + 4, 0x7FFFFFFF);  // EVENT's region runs past the partition
    files->set_rel(1, fsinfo);
    auto root = files->rel(files->data_start());
    root[2 * 32 + 26] = 5;  // PHOTO starts inside DATA
    root[2 * 32 + 27] = root[2 * 32 + 20] = root[2 * 32 + 21] = 0;
    files->set_rel(files->data_start(), root);
    ASSERT_EQ(mount(), LYFS_OK);
    EXPECT_TRUE(folder("DATA") && !folder("EVENT") && !folder("PHOTO") && folder("PARKED"));
    EXPECT_EQ(log.count("[ERROR]setup_root_folder_info, folder region outside the volume"), 2u);
    unmount();
    root[3 * 32 + 11] = 0x0F;  // PARKED's entry starts a long-name group: that folder is skipped
    files->set_rel(files->data_start(), root);
    ASSERT_EQ(mount(), LYFS_OK);
    EXPECT_TRUE(folder("DATA") && !folder("PARKED"));
    unmount();

    test::put_le32(fsinfo, 4, 10);
    files->set_rel(1, fsinfo);
    EXPECT_EQ(mount(), LYFS_ERR_OPEN_DEVICE);
    EXPECT_EQ(library_state()->disk_list, nullptr) << "a failed open leaves nothing";

    test::put_le32(fsinfo, 4, 0);
    files->set_rel(1, fsinfo);
    ASSERT_EQ(mount(), LYFS_OK);
    EXPECT_EQ(part()->folder_list, nullptr) << "no folder";
    ASSERT_EQ(CL_LyFS_Device_Close(&desc), LYFS_OK);

    // Nine folders recorded, the most a card may have, but the root directory ends after the
    // first (whose maximum file count then sits behind nine cluster counts).
    test::put_le32(fsinfo, 8 + 4 * 9, test::le32(fsinfo, 8 + 4 * 4));
    test::put_le32(fsinfo, 4, 9);
    files->set_rel(1, fsinfo);
    root = files->rel(files->data_start());
    root[32] = 0;
    files->set_rel(files->data_start(), root);
    ASSERT_EQ(mount(), LYFS_OK);
    EXPECT_TRUE(folder("DATA") && !folder("EVENT"));
}

TEST_F(MountTest, AFolderFilledToItsLastClusterKeepsEveryFile) {
    const auto& photo = files->folder("PHOTO");
    const std::uint32_t content = photo.clusters - photo.fe_clusters;
    files->place_run("PHOTO", 0, "first_photo_00.jpg", 1000, 0, 1);
    files->place_run("PHOTO", 1, "filling_photo_1.jpg", (content - 1) * files->cluster_bytes(), 1,
                     content - 1);
    ASSERT_EQ(mount(), LYFS_OK);
    EXPECT_EQ(listed_slots("PHOTO"), (std::vector<std::uint32_t>{0, 1}));
    EXPECT_EQ(folder("PHOTO")->free_space, 0u);
}

// A folder whose content clusters are all marked bad takes no file, though its size says it has
// room, and the refused create leaves its ring empty.
// A folder whose content clusters are all marked bad, and one recorded with room for no file.
TEST_F(MountTest, AFolderWithNoUsableClusterOrNoFileEntryRefusesACreate) {
    const auto& photo = files->folder("PHOTO");
    for (std::uint32_t c = photo.content_start; c < photo.start_cluster + photo.clusters; ++c) {
        files->set_fat(c, 0x0FFFFFF7);
    }
    auto record = files->rel(1);
    test::put_le32(record, 8 + 4 * (4 + 1), 0);  // EVENT's maximum file count
    files->set_rel(1, record);
    ASSERT_EQ(mount(), LYFS_OK);
    EXPECT_EQ(open("/PHOTO/first_photo_00.jpg", "w"), LYFS_INVALID_FD);
    EXPECT_TRUE(log.contains("[ERROR]create_file, find_free_fcon_fat_entry failed, fat is full"));
    EXPECT_EQ(ring("PHOTO"), (Ring{kNoSector, kNoSector, 0}));
    EXPECT_EQ(open("/EVENT/first_event_000.ts", "w"), LYFS_INVALID_FD);
    remount();
    EXPECT_TRUE(listed_slots("PHOTO").empty());
    EXPECT_TRUE(listed_slots("EVENT").empty());
}

TEST_F(MountTest, AFileThatNoLongerFitsIsDeletedAndTheMountGoesOn) {
    const auto& photo = files->folder("PHOTO");
    const std::uint32_t content = photo.clusters - photo.fe_clusters;
    files->place_run("PHOTO", 0, "older_photo_0.jpg", 1000, 0, 1);
    // Claims more than the whole content area.
    files->place_run("PHOTO", 1, "huge_photo_01.jpg", content * files->cluster_bytes(), 1, 2);
    files->place_run("PHOTO", 2, "newer_photo_2.jpg", 1000, 3, 1);
    std::vector<std::string> told;
    test::on_deleted([&](std::uint32_t, const std::string& path) { told.push_back(path); });
    ASSERT_EQ(mount(), LYFS_OK);
    EXPECT_EQ(listed_slots("PHOTO"), (std::vector<std::uint32_t>{0, 2}));
    EXPECT_EQ(told, std::vector<std::string>{"/PHOTO/huge_photo_01.jpg"});
    EXPECT_FALSE(log.contains("[ERROR]")) << "no failure";
    EXPECT_EQ(files->slot_bytes("PHOTO", 1), std::vector<std::uint8_t>(128, 0));
    EXPECT_EQ(files->fat(photo.content_start + 1) + files->fat(photo.content_start + 2), 0u)
        << "its clusters are free";
    EXPECT_EQ(ring("PHOTO"), (Ring{0, 2, 3}));
    // The record written next, beside the erased one, leaves it erased.
    write_file("/PHOTO/newest_photo_3.jpg", test::pattern(1000, 1), 1000);
    EXPECT_EQ(files->slot_bytes("PHOTO", 1), std::vector<std::uint8_t>(128, 0));
    expect_clean_card();
}

}  // namespace
}  // namespace lyfs
