// Read-only mounts: a card that must stay as it is (evidence, a locked card)
// lists and reads exactly as a mount that repairs it, and nothing reaches it.
#include <gtest/gtest.h>

#include "support/mounted_card.h"

namespace lyfs {
namespace {

class ReadOnlyTest : public test::MountedCardTest {
protected:
    void SetUp() override {
        MountedCardTest::SetUp();
        // A committed recording, one whose writer never closed it, and the
        // newest, never closed, whose chain lacks its end mark; in PHOTO a
        // file larger than the folder.
        files->place_run("EVENT", 0, test::name_of(0), files->cluster_bytes() + 100, 0, 2);
        files->place_run("EVENT", 1, test::name_of(1), 0, 2, 3);
        const std::uint32_t start = files->folder("EVENT").content_start;
        files->place("EVENT", 2, test::name_of(2), 0, {start + 5, start + 6}, 0);
        for (std::uint32_t c = 0; c < 7; ++c) {
            files->set_rel(files->data_start() + (start + c - 2) * 256, test::pattern(512, c + 1));
        }
        // Behind them a record no reader can decode: left out, never erased here.
        files->place_run("EVENT", 3, test::name_of(3), 1000, 7, 1);
        auto unreadable = files->slot_bytes("EVENT", 3);
        unreadable[107] = 0xA0;
        files->put_record(files->folder("EVENT"), 3, unreadable.data());
        const auto& photo = files->folder("PHOTO");
        files->place_run("PHOTO", 0, "huge_photo_00.jpg",
                         (photo.clusters - photo.fe_clusters + 1) * files->cluster_bytes(), 0, 2);
        original = platform.card("c").clone();
    }

    // What a host sees, line by line: per folder its free space, each file
    // as listed and its bytes once read, and the listing after the reads.
    std::vector<std::string> look() {
        lyfs_dir_list dirs{};
        EXPECT_EQ(CL_LyFS_Get_Dir_List(&desc, &dirs), LYFS_OK);
        std::vector<std::string> seen;
        for (std::uint8_t d = 0; d < dirs.count; ++d) {
            const std::string folder = dirs.dirs[d].fold_name;
            seen.push_back(folder + " " + std::to_string(this->folder(folder.c_str())->free_space));
            for (const std::string& entry : listing(folder)) {
                const auto bytes = read_all("/" + folder + "/" + entry.substr(0, entry.find(' ')));
                seen.push_back(entry + " " + std::string(bytes.begin(), bytes.end()));
            }
            const auto after = listing(folder);
            seen.insert(seen.end(), after.begin(), after.end());
        }
        return seen;
    }

    std::unique_ptr<test::MemoryDevice> original;
};

TEST_F(ReadOnlyTest, ReadsWhatARepairingMountReadsAndWritesNothing) {
    for (const bool locked_card : {false, true}) {
        SCOPED_TRACE(locked_card ? "write-protected card" : "lyfs_device_open_read_only");
        platform.put_card("c", original->clone());
        platform.card("c").write_protected = locked_card;
        platform.counters = {};
        ASSERT_EQ(locked_card ? mount() : lyfs_device_open_read_only("mem:c", "card", &desc),
                  LYFS_OK);
        mounted = true;
        EXPECT_EQ(lyfs_device_mount_mode(&desc),
                  locked_card ? LYFS_MOUNT_WRITE_PROTECTED : LYFS_MOUNT_READ_ONLY);
        const auto seen = look();
        // Four folders and EVENT's three files twice: the photo that does
        // not fit is gone, in memory.
        ASSERT_EQ(seen.size(), 4u + 6u);
        EXPECT_EQ(seen[7], test::name_of(2) + " 262144") << "recovered, chain ended";

        // Creates and writes are refused before the reclaim could run.
        const auto before = listing("EVENT");
        EXPECT_EQ(open("/EVENT/REC_00099_000.MP4", "w"), LYFS_INVALID_FD);
        const std::uint32_t fd = open("/EVENT/REC_00000_000.MP4", "r");
        EXPECT_EQ(CL_LyFS_File_Write(&desc, "x", 1, fd), -1);
        EXPECT_EQ(CL_LyFS_File_Close(&desc, fd), LYFS_OK);
        EXPECT_EQ(listing("EVENT"), before);
        unmount();
        EXPECT_EQ(
            platform.counters.writes + platform.counters.refused_writes + platform.counters.flushes,
            0u);
        EXPECT_TRUE(platform.card("c").same_bytes(*original));

        platform.card("c").write_protected = false;
        ASSERT_EQ(mount(), LYFS_OK);
        EXPECT_GT(platform.counters.writes, 0u) << "a writable mount repairs";
        EXPECT_EQ(look(), seen);
        unmount();
    }
}

TEST_F(ReadOnlyTest, FailedAllocationsALockedCardAndModesOfOneDevice) {
    // Every allocation of the mount failing in turn, also where a query holds the disk open for
    // writing, leaves the card alone and nothing behind.
    platform.counters = {};
    for (const bool queried : {false, true}) {
        fail_each_allocation(
            [&] { restart(); },
            [&] {
                int32_t status = queried ? CL_LyFS_Get_Master_Device_Info("mem:c", nullptr) : 0;
                status =
                    status != LYFS_OK ? status : lyfs_device_open_read_only("mem:c", "card", &desc);
                return status == LYFS_OK ? CL_LyFS_Device_Close(&desc) : status;
            },
            [&](int32_t) { EXPECT_TRUE(nothing_held()); });
    }
    EXPECT_EQ(platform.counters.writes + platform.counters.refused_writes, 0u);

    platform.card("c").write_protected = true;
    std::uint32_t n = 0;
    const auto table = test::default_folder_table(100);
    EXPECT_EQ(test::Values({CL_LyFS_Create_Partition("mem:c", LYFS_PART_LYFS, 0, &n, &n, 0),
                            CL_LyFS_Delete_Partition("mem:c", LYFS_PART_ALL),
                            CL_LyFS_Format("mem:c", "", 2, 0, &table)}),
              test::Values(3, LYFS_ERR_WRITE_PROTECTED));
    EXPECT_EQ(platform.counters.refused_writes, 0u);
    platform.card("c").write_protected = false;
    restart();  // forget the lock

    ASSERT_EQ(lyfs_device_open_read_only("mem:c", "card", &desc), LYFS_OK);
    mounted = true;
    dev_desc second{};
    EXPECT_EQ(CL_LyFS_Device_Open("mem:c", "card", 0, &second), LYFS_OK);
    EXPECT_EQ(lyfs_device_mount_mode(&second), LYFS_MOUNT_READ_ONLY) << "the one mount, unchanged";
    EXPECT_EQ(CL_LyFS_Format("mem:c", "", 2, 0, nullptr), LYFS_ERR_WRITE_PROTECTED);
    ASSERT_EQ(CL_LyFS_Device_Close(&desc), LYFS_OK);
    EXPECT_TRUE(platform.card("c").same_bytes(*original));

    ASSERT_EQ(mount(), LYFS_OK);
    EXPECT_EQ(lyfs_device_mount_mode(&desc), LYFS_MOUNT_READ_WRITE);
    EXPECT_EQ(lyfs_device_open_read_only("mem:c", "card", &second), LYFS_ERR_OPEN_DEVICE);
    EXPECT_FALSE(platform.card("c").same_bytes(*original)) << "a writable mount repairs";
    EXPECT_EQ(lyfs_device_mount_mode(nullptr), LYFS_ERR_NO_PARTITION);
}

}  // namespace
}  // namespace lyfs
