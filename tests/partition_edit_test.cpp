// Editing the partition table through the exports, checked byte by byte.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "device/disk.h"
#include "support/card_bytes.h"
#include "support/library_fixture.h"

namespace lyfs {
namespace {

using test::IoOp;

constexpr std::uint32_t kCardSectors = 16'777'216;  // 8 GiB

class PartitionEditTest : public test::LibraryTest {
protected:
    test::MemoryDevice& card() { return platform.card("c"); }
    void SetUp() override {
        test::LibraryTest::SetUp();
        platform.add_card("c", static_cast<std::uint64_t>(kCardSectors) * 512);
    }
    int32_t create(int32_t type, std::uint64_t mib, std::uint32_t* slot = nullptr,
                   std::uint32_t* count = nullptr) {
        std::uint32_t s = 99;
        std::uint32_t n = 99;
        return CL_LyFS_Create_Partition("mem:c", type, mib, slot ? slot : &s, count ? count : &n,
                                        1);
    }
};

TEST_F(PartitionEditTest, CreatesSlotZeroThenSlotOneBehindIt) {
    card().set_sector(0, std::vector<std::uint8_t>(512, 0xAA));  // no table: bytes to clear
    std::uint32_t slot = 99;
    std::uint32_t count = 0;
    ASSERT_EQ(create(LYFS_PART_FAT32, 1024, &slot, &count), LYFS_OK);
    EXPECT_EQ(slot, 0u);
    EXPECT_EQ(count, 2'097'152u);
    // Slot 0 at 0x1BE: type, first sector, count; the cluster word; the signature.
    test::expect_fields(card().sector(0),
                        {0x1C2, 1, 0x0C, 0x1C6, 4, 32,   0x1CA, 4, 2'097'152, 0x19E, 4, 256,
                         510,   1, 0x55, 511,   1, 0xAA, 0,     1, 0,         0x1F2, 1, 0});
    EXPECT_EQ(platform.counters.refreshes, 1u);
    EXPECT_EQ(platform.counters.flushes, 1u);

    log.clear();
    ASSERT_EQ(create(LYFS_PART_LYFS, 1'000'000, &slot, &count), LYFS_OK);
    EXPECT_EQ(slot, 1u);
    EXPECT_EQ(count, kCardSectors - 2'097'184u) << "clamped to the device's end";
    EXPECT_TRUE(
        log.contains("[INFO]create_partition_entry, partition sector over disk limit, 1, "
                     "part_total_sectors:2048000000\n"));
    // Slot 1 at 0x1AE; a generic reader's second slot (0x1CE) stays empty, slot 0 is kept.
    test::expect_fields(card().sector(0), {0x1B2, 1, 0x52, 0x1B6, 4, 2'097'184, 0x1BA, 4, count,
                                           0x1D2, 1, 0, 0x1C2, 1, 0x0C});

    // A fresh look at the card finds the table describing the device.
    ASSERT_EQ(CL_LyFS_Stop(), LYFS_OK);
    ASSERT_EQ(CL_LyFS_Start(), LYFS_OK);
    EXPECT_EQ(CL_LyFS_Check_LyFS_partition("mem:c"), LYFS_IS_LYFS);
    stDISK* disk = find_disk("mem:c");
    ASSERT_NE(disk, nullptr);
    EXPECT_EQ(disk->part_count, 2);
    EXPECT_EQ(disk->part_entry[1].first_sector, 2'097'184u);
}

TEST_F(PartitionEditTest, SizesThatWouldWrapAreClampedNotWrapped) {
    ASSERT_EQ(create(LYFS_PART_FAT32, 1), LYFS_OK);
    std::uint32_t count = 0;
    // 2 TiB and more: the low 32 bits of the sector count would be 0.
    ASSERT_EQ(create(LYFS_PART_LYFS, 2'097'152, nullptr, &count), LYFS_OK);
    EXPECT_EQ(count, kCardSectors - 2080u);
    ASSERT_EQ(create(LYFS_PART_LYFS, ~0ull, nullptr, &count), LYFS_OK);
    EXPECT_EQ(count, kCardSectors - 2080u);
}

TEST_F(PartitionEditTest, RefusesWhatWouldOverwriteTheTable) {
    std::uint32_t slot = 99;
    EXPECT_EQ(create(LYFS_PART_LYFS, 100, &slot), LYFS_ERR_BAD_SLOT);
    EXPECT_TRUE(
        log.contains("[ERROR]CL_LyFS_Create_Partition, slot 0 is empty, create it first\n"));
    EXPECT_EQ(slot, 99u);
    // Slot 0 filling the whole card leaves no room behind it.
    ASSERT_EQ(create(LYFS_PART_FAT32, 100'000), LYFS_OK);
    const auto writes = platform.counters.writes;
    EXPECT_EQ(create(LYFS_PART_LYFS, 100), LYFS_ERR_BAD_SLOT);
    EXPECT_TRUE(log.contains(
        "[ERROR]create_partition_entry, no room behind slot 0, first_sector:16777216\n"));
    EXPECT_EQ(platform.counters.writes, writes);
    EXPECT_EQ(card().sector(0)[0x1AE + 4], 0);
}

TEST_F(PartitionEditTest, DeleteClearsSlotsAndKeepsTheRest) {
    ASSERT_EQ(create(LYFS_PART_FAT32, 1024), LYFS_OK);
    ASSERT_EQ(create(LYFS_PART_LYFS, 1024), LYFS_OK);
    auto s0 = card().sector(0);
    test::put_slot(s0, 0x1CE, 0x07, 11, 22);  // not ours: must survive
    test::put_slot(s0, 0x1DE, 0x83, 33, 44);
    card().set_sector(0, s0);

    ASSERT_EQ(CL_LyFS_Delete_Partition("mem:c", LYFS_PART_LYFS), LYFS_OK);
    test::expect_fields(card().sector(0), {0x1B2, 1, 0, 0x1B6, 4, 0, 0x1C2, 1, 0x0C});

    ASSERT_EQ(CL_LyFS_Delete_Partition("mem:c", 0x107), LYFS_OK) << "low 8 bits say all";
    s0 = card().sector(0);
    for (std::size_t at : {0x1AE, 0x1BE, 0x1DE, 0x1EE}) {
        for (std::size_t i = 0; i < 16; ++i) {
            EXPECT_EQ(s0[at + i], 0) << at;
        }
    }
    test::expect_fields(s0, {0x1D2, 1, 0x07, 0x1DA, 4, 22, 0x19E, 4, 256, 510, 1, 0x55});
    stDISK* disk = find_disk("mem:c");
    EXPECT_EQ(disk->part_entry[0].type, 0);
    EXPECT_EQ(disk->part_count, 0);

    const auto writes = platform.counters.writes;
    const auto reads = platform.counters.reads;
    EXPECT_EQ(CL_LyFS_Delete_Partition("mem:c", 3), LYFS_ERR_BAD_ARGUMENT);
    EXPECT_EQ(platform.counters.writes, writes);
    EXPECT_EQ(platform.counters.reads, reads);
}

TEST_F(PartitionEditTest, SuperfloppyCardsAreLeftAloneOrWipedWhole) {
    card().set_sector(0, test::boot_sector(0xF8, 0, kCardSectors));
    std::uint32_t count = 77;
    EXPECT_EQ(create(LYFS_PART_FAT32, 1024, nullptr, &count), LYFS_OK);
    EXPECT_EQ(count, 77u) << "nothing reported";
    EXPECT_EQ(card().sector(0), test::boot_sector(0xF8, 0, kCardSectors)) << "nothing written";
    ASSERT_EQ(CL_LyFS_Delete_Partition("mem:c", LYFS_PART_FAT32), LYFS_OK);
    EXPECT_EQ(card().sector(0), std::vector<std::uint8_t>(512, 0));
}

TEST_F(PartitionEditTest, FailingSectorTransfersGiveTheirStatus) {
    platform.arm({IoOp::kRead, 1});
    EXPECT_EQ(create(LYFS_PART_FAT32, 8), LYFS_ERR_MOUNT) << "the disk's own set-up fails";
    platform.disarm();
    ASSERT_EQ(create(LYFS_PART_FAT32, 8), LYFS_OK);

    platform.arm({IoOp::kRead, 1});
    log.clear();
    EXPECT_EQ(create(LYFS_PART_LYFS, 8), LYFS_ERR_READ);
    EXPECT_TRUE(log.contains("[ERROR]create_partition_entry, read_sectors failed\n"));
    EXPECT_TRUE(log.contains("[ERROR]CL_LyFS_Create_Partition, create_partition_entry failed\n"));

    platform.arm({IoOp::kWrite, 1});
    EXPECT_EQ(create(LYFS_PART_LYFS, 8), LYFS_ERR_WRITE);
    EXPECT_TRUE(log.contains("[ERROR]create_partition_entry, write_sectors failed, err code:42\n"));
    EXPECT_EQ(card().sector(0)[0x1AE + 4], 0) << "the card is unchanged";

    platform.arm({IoOp::kRead, 1});
    EXPECT_EQ(CL_LyFS_Delete_Partition("mem:c", LYFS_PART_ALL), LYFS_ERR_READ);
    EXPECT_TRUE(log.contains("[ERROR]delete_partition_entry_fstype, read_sectors failed\n"));
    platform.arm({IoOp::kWrite, 1});
    EXPECT_EQ(CL_LyFS_Delete_Partition("mem:c", LYFS_PART_FAT32), LYFS_ERR_WRITE);
    EXPECT_TRUE(log.contains("[ERROR]delete_partition_entry_index, write_sectors failed\n"));
    EXPECT_TRUE(log.contains("[ERROR]CL_LyFS_Delete_Partition, delete_partition_entry failed\n"));
    EXPECT_EQ(card().sector(0)[0x1BE + 4], 0x0C);

    platform.disarm();
    platform.fail_flush = true;
    EXPECT_EQ(create(LYFS_PART_FAT32, 8), LYFS_ERR_WRITE) << "an edit that is not durable fails";
    EXPECT_TRUE(log.contains("[ERROR]CL_LyFS_Create_Partition, flush_device failed\n"));
}

// A generic partition-table reader sees only slot 0.
TEST(GenericReader, SfdiskSeesOnlyTheFat32Partition) {
    if (std::system("command -v sfdisk >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "sfdisk is not installed";
    }
    char path[] = "/tmp/lyfs-sfdisk-XXXXXX";
    int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 256ll << 20), 0);
    ::close(fd);
    ASSERT_EQ(CL_LyFS_Start(), LYFS_OK);
    std::uint32_t slot = 0;
    std::uint32_t count = 0;
    ASSERT_EQ(CL_LyFS_Create_Partition(path, LYFS_PART_FAT32, 64, &slot, &count, 0), LYFS_OK);
    ASSERT_EQ(CL_LyFS_Create_Partition(path, LYFS_PART_LYFS, 1024, &slot, &count, 0), LYFS_OK);
    ASSERT_EQ(CL_LyFS_Stop(), LYFS_OK);

    const std::string command = std::string("sfdisk --dump ") + path + " 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string dump;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        dump += line;
    }
    ::pclose(pipe);
    ::unlink(path);
    std::size_t partitions = 0;
    for (std::size_t at = dump.find(" : start="); at != std::string::npos;
         at = dump.find(" : start=", at + 1)) {
        ++partitions;
    }
    EXPECT_EQ(partitions, 1u) << dump;
    EXPECT_NE(dump.find("start=          32, size=      131072, type=c"), std::string::npos)
        << dump;
}

}  // namespace
}  // namespace lyfs
