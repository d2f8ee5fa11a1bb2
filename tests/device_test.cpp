// Sector device: transfers and the retry rule, windows, disk set-up, the
// partition table as read, and the partition mount; the on-card layout
// beneath them: geometry, the table's extent rule, FAT entry classes, records.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/state.h"
#include "device/disk.h"
#include "device/kept_writes.h"
#include "device/partition.h"
#include "device/sector_io.h"
#include "device/window.h"
#include "layout/layout.h"
#include "layout/records.h"
#include "support/card_bytes.h"
#include "support/library_fixture.h"

namespace lyfs {
namespace {

using test::Fault;
using test::IoOp;

constexpr std::uint64_t kMiB = 1024 * 1024;

TEST(Layout, GeometryTheTableEndFatEntryClassesTableSlotsAndBootSectors) {
    // Too small for its own reserved sectors: nothing to address.
    EXPECT_EQ(compute_geometry(0, 256).cluster_count + compute_geometry(32, 256).cluster_count, 0u);
    // Near 2 TiB a 32-bit numerator would wrap and shrink the FAT.
    const Geometry g = compute_geometry(0xFFFFFFF0u, 256);
    EXPECT_EQ(g.fat_sectors, (0xFFFFFFF0ull - 32 + 127 * 256) / (128 * 256 + 2));
    EXPECT_LE(g.cluster_count, 128ull * g.fat_sectors);
    EXPECT_LE(g.data_start + static_cast<std::uint64_t>(g.cluster_count) * 256, 0xFFFFFFF0ull);

    // The table's end must reach the device's last MiB.
    EXPECT_TRUE(table_end_matches_device(62'332'928, 62'334'952));
    EXPECT_FALSE(table_end_matches_device(62'332'927, 62'334'952));
    EXPECT_TRUE(table_end_matches_device(15'002'048, 15'002'148));  // XOR 0x3E4
    EXPECT_FALSE(table_end_matches_device(15'002'048, 15'001'000));
    // A device of whole MiB accepts only its exact end.
    EXPECT_TRUE(table_end_matches_device(2048 * 100, 2048 * 100));
    EXPECT_FALSE(table_end_matches_device(2048 * 100 - 1, 2048 * 100));

    using C = FatEntryClass;
    std::vector<C> classes;
    // The top four bits are not part of the value.
    for (std::uint32_t v : {0u, 1u, 2u, 0x0FFFFFEFu, 0x0FFFFFF0u, 0x0FFFFFF7u, 0x0FFFFFF8u,
                            0x0FFFFFFFu, 0xFFFFFFFFu, 0xF0000000u, 0x10000005u}) {
        classes.push_back(classify_fat_entry(v));
    }
    EXPECT_EQ(classes,
              (std::vector<C>{C::kFree, C::kInvalid, C::kLink, C::kLink, C::kInvalid, C::kInvalid,
                              C::kEndOfChain, C::kEndOfChain, C::kEndOfChain, C::kFree, C::kLink}));

    // Slot 1 lives before slot 0; boot sector parameters.
    auto s = test::table_sector();
    test::put_slot(s, 0x1BE, 0x0C, 32, 1000);
    test::put_slot(s, 0x1AE, 0x52, 1032, 5000);
    test::put_slot(s, 0x1CE, 0x07, 9, 9);  // where a generic reader looks: not ours
    const PartEntry one = decode_part_entry(s.data(), 1);
    EXPECT_EQ(test::Values({decode_part_entry(s.data(), 0).type, one.first_sector, one.sector_count,
                            decode_part_entry(s.data(), 2).type}),
              test::Values({0x0C, 1032, 5000, 0}));

    std::vector<std::uint8_t> out(512, 0xEE);
    // Status and CHS fields are written as zeros.
    encode_part_entry(out.data(), 1, {0, {}, 0x52, {}, 0x01020304, 0x0A0B0C0D});
    test::expect_fields(out, {0x1AD, 1, 0xEE, 0x1AE, 1, 0, 0x1B2, 1, 0x52, 0x1B6, 4, 0x01020304u,
                              0x1BA, 4, 0x0A0B0C0Du, 0x1BE, 1, 0xEE});

    s = test::boot_sector(0xF8, 0, 123456, 32);
    test::put_le32(s, 0x1C, 0x01020304);
    const BpbRecord bpb = decode_bpb(s.data());
    EXPECT_EQ(test::Values({bpb.bytes_per_sector, bpb.reserved_sectors, bpb.media,
                            bpb.total_sectors_32, bpb.hidden_sectors}),
              test::Values({512, 32, 0xF8, 123456, 0x01020304}));
    EXPECT_TRUE(is_superfloppy_boot_sector(s.data()));
    s[2] = 0x00;
    EXPECT_FALSE(is_superfloppy_boot_sector(s.data()));
    EXPECT_FALSE(has_boot_signature(std::vector<std::uint8_t>(512, 0).data()));
}

class DeviceTest : public test::LibraryTest {
protected:
    stDISK* setup(const std::string& path) {
        stDISK* disk = nullptr;
        EXPECT_EQ(setup_disk_info(path.c_str(), &disk), LYFS_OK);
        return disk;
    }

    // A card of `sectors` sectors whose table has slot 0 from `first` and
    // slot 1 right behind it, `count1` sectors long (0: to the card's end).
    test::MemoryDevice& partitioned_card(const std::string& name, std::uint32_t sectors,
                                         std::uint32_t slot0, std::uint32_t spc = 256,
                                         std::uint32_t first = 32, std::uint32_t count1 = 0,
                                         std::uint16_t reserved0 = 32) {
        auto& card = platform.add_card(name, static_cast<std::uint64_t>(sectors) * 512);
        count1 = count1 != 0 ? count1 : sectors - first - slot0;
        auto table = test::table_sector(spc);
        test::put_slot(table, 0x1BE, 0x0C, first, slot0);
        test::put_slot(table, 0x1AE, 0x52, first + slot0, count1);
        card.set_sector(0, table);
        card.set_sector(first, test::boot_sector(0xF8, 0, slot0, reserved0));
        card.set_sector(first + slot0, test::boot_sector(0xF8, 0, count1, 32));
        return card;
    }
};

// A failed set-up leaves nothing behind.
TEST_F(DeviceTest, SetUpTransfersAndKeptWrites) {
    // A device not there, a path of 128 characters (never copied nor opened),
    // a device without geometry.
    platform.add_card("c", 8ull << 30);
    for (const std::string& path : {std::string("mem:missing"), "mem:" + std::string(124, 'a')}) {
        EXPECT_EQ(CL_LyFS_Get_Master_Device_Info(path.c_str(), nullptr), LYFS_ERR_OPEN_DEVICE);
    }
    EXPECT_EQ(platform.counters.opens, 0u);
    platform.fail_geometry = true;
    EXPECT_EQ(CL_LyFS_Get_Master_Device_Info("mem:c", nullptr), LYFS_ERR_OPEN_DEVICE);
    platform.fail_geometry = false;
    EXPECT_EQ(library_state()->disk_list, nullptr);

    // Every allocation of the set-up failing in turn, also of a card whose clusters need larger
    // windows: out of memory, and nothing left.
    partitioned_card("large", 64 * 2048, 2048, 1025);
    for (const char* path : {"mem:c", "mem:large"}) {
        fail_each_allocation([&] { restart(); },
                             [&] { return CL_LyFS_Get_Master_Device_Info(path, nullptr); },
                             [&](int32_t status) {
                                 EXPECT_EQ(status, LYFS_ERR_NO_MEMORY);
                                 EXPECT_TRUE(nothing_held());
                             });
    }
    restart();
    // Sector 0 unreadable.
    platform.arm({IoOp::kRead, 1});
    EXPECT_EQ(CL_LyFS_Get_Master_Device_Info("mem:c", nullptr), LYFS_ERR_READ);
    EXPECT_EQ(library_state()->disk_list, nullptr);
    platform.disarm();

    // A superfloppy: one partition from sector 0.
    auto& floppy = platform.add_card("floppy", kMiB);
    floppy.set_sector(0, test::boot_sector(0xF0, 2000, 0));
    stDISK* disk = setup("mem:floppy");
    EXPECT_EQ(test::Values({disk->no_mbr, disk->part_count, disk->part_entry[0].type,
                            disk->part_entry[0].first_sector, disk->part_entry[0].sector_count}),
              test::Values({1, 1, 0x0B, 0, 2000}));
    EXPECT_TRUE(log.contains("[ERROR]initialize_partition_entry, invalid media:0xf0\n"));
    floppy.set_sector(0, test::boot_sector(0xF8, 0, 2047));  // the count past 16 bits
    EXPECT_EQ(setup("mem:floppy")->part_entry[0].sector_count, 2047u);
    disk = setup("mem:c");
    EXPECT_EQ(test::Values({disk->part_count, disk->n_scts_per_clus, disk->geom_total_sectors,
                            disk->total_sectors}),
              test::Values({0, 256, 16'777'216, 16'777'216}));
    // Nothing on a device is changed by looking at it.
    EXPECT_EQ(platform.counters.writes, 0u);

    // A sector past 4 GiB lands at its byte. Not ready is retried three times
    // with pauses; other errors, short transfers and positioning failures
    // fail at once.
    std::vector<std::uint8_t> buf(4096, 0x5A);
    ASSERT_EQ(write_sectors(disk->h_disk, buf.data(), 8'388'608, 1), LYFS_OK);
    EXPECT_EQ(platform.log.back().offset, 4'294'967'296ull);
    EXPECT_EQ(platform.card("c").sector(8'388'608), std::vector<std::uint8_t>(512, 0x5A));
    platform.arm({IoOp::kRead, 1, true, Fault::Kind::kError, platform::kErrorNotReady});
    EXPECT_EQ(read_sectors(disk->h_disk, buf.data(), 5, 1), LYFS_ERR_READ);
    EXPECT_EQ(platform.pauses, (std::vector<std::uint32_t>{100, 100, 100}));
    EXPECT_EQ(log.count("[ERROR]read_sectors, ReadFile failed, sector:5, 21\n"), 3u);
    platform.arm({IoOp::kWrite, 1, false, Fault::Kind::kError, platform::kErrorNotReady});
    EXPECT_EQ(write_sectors(disk->h_disk, buf.data(), 5, 1), LYFS_OK);
    EXPECT_EQ(platform.pauses.size(), 4u);
    platform.pauses.clear();
    platform.arm({IoOp::kRead, 1, false, Fault::Kind::kError, platform::kErrorIoDevice});
    EXPECT_EQ(read_sectors(disk->h_disk, buf.data(), 5, 1), LYFS_ERR_READ);
    EXPECT_TRUE(platform.pauses.empty()) << "other errors fail at once";
    platform.arm({IoOp::kRead, 1, false, Fault::Kind::kShort});
    EXPECT_EQ(read_sectors(disk->h_disk, buf.data(), 8, 8), LYFS_ERR_READ);
    EXPECT_TRUE(log.contains(
        "[ERROR]read_sectors, ReadFile bytes count failed, sector:8, 0, 4096, 2048\n"));
    platform.arm({IoOp::kWrite, 1, false, Fault::Kind::kShort});
    EXPECT_EQ(write_sectors(disk->h_disk, buf.data(), 8, 8), LYFS_ERR_WRITE);
    EXPECT_TRUE(platform.pauses.empty()) << "a short transfer is not retried";
    platform.arm({IoOp::kWrite, 1, false, Fault::Kind::kSeek});
    EXPECT_EQ(write_sectors(disk->h_disk, buf.data(), 8, 1), LYFS_ERR_SEEK);
    platform.disarm();
    // A request whose byte count does not fit 32 bits is refused; past the device's end the
    // transfer comes up short.
    EXPECT_EQ(read_sectors(disk->h_disk, buf.data(), 0, 8'388'608), LYFS_ERR_READ);
    EXPECT_TRUE(log.contains(
        "[ERROR]read_sectors, ReadFile bytes count failed, sector:0, 0, 8388608, 0\n"));
    EXPECT_EQ(read_sectors(disk->h_disk, buf.data(), (8 << 21) - 1, 2), LYFS_ERR_READ);
    for (const platform::DeviceHandle no_device :
         {platform::DeviceHandle{}, platform::kInvalidDevice}) {
        EXPECT_EQ(read_sectors(no_device, buf.data(), 3, 1), LYFS_ERR_NO_DEVICE_HANDLE);
        EXPECT_EQ(flush_device(no_device), LYFS_ERR_NO_DEVICE_HANDLE);
    }

    // Writes kept in memory (a card that must not change) never reach the
    // card. Fed out of order and through buffers that split sectors, reads
    // give back the newest bytes of every kept sector and every other sector
    // as read.
    for (std::uint32_t s = 2; s < 10; ++s) {
        platform.card("c").set_sector(s, std::vector<std::uint8_t>(512, 0x11));
    }
    const platform::DeviceHandle device = disk->h_disk;
    const auto writes = platform.counters.writes;
    ASSERT_EQ(keep_writes_in_memory(device), LYFS_OK);
    ASSERT_EQ(keep_writes_in_memory(device), LYFS_OK) << "a second call keeps the same store";
    // Two sectors from `first` on, through two parts split mid-sector: `fill`,
    // and `fill + 1` in the second part.
    const auto keep = [&](std::uint8_t fill, std::uint32_t first) {
        std::vector<std::uint8_t> bytes(1024, fill);
        std::fill(bytes.begin() + 700, bytes.end(), fill + 1);
        const platform::ConstIoPart parts[] = {{bytes.data(), 700}, {bytes.data() + 700, 324}};
        ASSERT_EQ(write_sector_parts(device, parts, 2, first), LYFS_OK);
    };
    keep(0x77, 7);  // sectors 7, 8
    keep(0x33, 3);  // before them: 3, 4
    keep(0x88, 8);  // 8 again, and 9
    // Sectors 2..9 into separate buffers: sector 4 spans three of them.
    std::vector<std::uint8_t> b0(100), b1(1000), b2(300), b3(8 * 512 - 1400);
    const platform::IoPart parts[] = {
        {b0.data(), 100}, {b1.data(), 1000}, {b2.data(), 300}, {b3.data(), 8 * 512 - 1400}};
    ASSERT_EQ(read_sector_parts(device, parts, 4, 2), LYFS_OK);
    std::vector<std::uint8_t> read = b0;
    for (const auto* b : {&b1, &b2, &b3}) {
        read.insert(read.end(), b->begin(), b->end());
    }
    test::Values first_and_last;
    for (std::uint32_t s = 0; s < 8; ++s) {
        first_and_last.push_back(read[s * 512] << 8 | read[(s + 1) * 512 - 1]);
    }
    EXPECT_EQ(first_and_last,
              test::Values({0x1111, 0x3333, 0x3334, 0x1111, 0x1111, 0x7777, 0x8888, 0x8889}));
    // More sectors than the store first holds: it grows and keeps them all.
    for (std::uint8_t i = 0; i < 20; ++i) {
        keep(static_cast<std::uint8_t>(0x40 + i), 100 + 2 * i);
    }
    std::vector<std::uint8_t> grown(40 * 512);
    ASSERT_EQ(read_sectors(device, grown.data(), 100, 40), LYFS_OK);
    for (std::uint32_t s = 0; s < 40; ++s) {
        EXPECT_EQ(grown[s * 512], 0x40 + s / 2) << "sector " << s + 100;
    }
    EXPECT_EQ(platform.counters.writes, writes);
    int other_tag = 0;
    EXPECT_EQ(kept_writes_of(&other_tag), nullptr);
    drop_kept_writes(device);
    EXPECT_EQ(kept_writes_of(device), nullptr);
}

// The extent test decides whether boot sectors are read; sectors per
// cluster come from the table.
TEST_F(DeviceTest, TheTableAsReadAndTheGeometryMounted) {
    for (std::uint32_t sectors : {15'001'000u, 15'002'148u}) {
        const std::string name = "c" + std::to_string(sectors);
        partitioned_card(name, sectors, 1'000'000, 256, 2048, 14'000'000, 77);
        const auto reads_before = platform.counters.reads;
        stDISK* disk = setup("mem:" + name);
        EXPECT_EQ(disk->part_count, 2);
        EXPECT_EQ(disk->part_entry[1].sector_count, 14'000'000u);
        const bool holds = sectors == 15'002'148u;
        EXPECT_EQ(platform.counters.reads - reads_before, holds ? 3u : 1u);
        EXPECT_EQ(disk->part_bpb[0].reserved_sectors, holds ? 77 : 0);
        EXPECT_EQ(disk->part_bpb[1].total_sectors_32, holds ? 14'000'000u : 0u);
    }
    // Slot 0 alone, from 1 MiB to the card's end, holds too: the end counts its first sector.
    auto& alone = platform.add_card("alone", 8 * kMiB);
    auto table = test::table_sector();
    test::put_slot(table, 0x1BE, 0x0C, 2048, 14'336);
    alone.set_sector(0, table);
    alone.set_sector(2048, test::boot_sector(0xF8, 0, 14'336, 77));
    EXPECT_EQ(setup("mem:alone")->part_bpb[0].reserved_sectors, 77);
    ASSERT_EQ(CL_LyFS_Delete_Partition("mem:alone", LYFS_PART_FAT32), LYFS_OK);
    EXPECT_EQ(find_disk("mem:alone")->part_count, 0) << "a deleted slot is counted off";
    for (std::uint32_t word : {1025u, 64u, 0u}) {
        const std::string name = "spc" + std::to_string(word);
        auto& card = platform.add_card(name, kMiB);
        card.set_sector(0, test::table_sector(word));
        stDISK* disk = setup("mem:" + name);
        EXPECT_EQ(disk->n_scts_per_clus, word == 1025 ? 1025u : 256u);
        EXPECT_GE(disk->n_window_scts, disk->n_scts_per_clus) << "windows fit the cluster";
    }
    // The mount computes the geometry from both.
    struct Case {
        std::uint32_t spc, fat_sectors, data_start, clusters;
    };
    for (const Case c : {Case{256, 458, 490, 58'591}, Case{1025, 115, 147, 14'634}}) {
        const std::string name = "c" + std::to_string(c.spc);
        partitioned_card(name, 15'000'000 + 2080, 2048, c.spc);
        stDISK* disk = setup("mem:" + name);
        stPARTITION* part = nullptr;
        ASSERT_EQ(setup_partition_info(disk, name.c_str(), &part), LYFS_OK);
        EXPECT_STREQ(part->name, name.c_str());
        EXPECT_EQ(
            test::Values({part->is_lyfs, part->part_start, part->part_total_sectors,
                          part->fat_first_sector, part->fat_sectors, part->data_start,
                          part->total_clusters, part->bytes_per_clus, part->fat_cache_sector}),
            test::Values({1, 2080, 15'000'000, 32, c.fat_sectors, c.data_start, c.clusters,
                          c.spc * 512, kNoSector}));
        EXPECT_EQ(get_partition_object_type(disk), part);
        EXPECT_EQ(cluster_first_sector(part, 3), c.data_start + c.spc);
        EXPECT_EQ(device_sector(part, 32), 2112u);
    }
}

// The read window serves a cluster from one request; the write window
// gathers consecutive sectors.
TEST_F(DeviceTest, Windows) {
    partitioned_card("c", 4 * 2048 * 64, 2048 * 64, 1025);
    stDISK* disk = setup("mem:c");
    ASSERT_EQ(disk->n_scts_per_clus, 1025u);
    std::uint8_t sector[512];
    const auto reads = platform.counters.reads;
    for (std::uint32_t s = 5000; s < 5000 + 1025; ++s) {
        ASSERT_EQ(read_window_sector(disk, s, sector), LYFS_OK);
    }
    EXPECT_EQ(platform.counters.reads - reads, 1u);
    EXPECT_EQ(platform.log.back().bytes, 1025u * 512);
    ASSERT_EQ(read_window_sector(disk, 5000 + 1025, sector), LYFS_OK);
    EXPECT_EQ(platform.counters.reads - reads, 2u);

    platform.arm({IoOp::kRead, 1});
    EXPECT_EQ(read_window_sector(disk, 90000, sector), LYFS_ERR_READ);
    EXPECT_EQ(disk->rd_window_start, 0u) << "a failed refill leaves the window empty";
    platform.disarm();
    ASSERT_EQ(read_window_sector(disk, 32, sector), LYFS_OK);
    EXPECT_EQ(sector[0], 0xEB) << "an empty window holds no sector";

    // The write window gathers consecutive sectors, and takes its first one again in place
    // (sector numbers above a cluster's span, as on any card).
    std::vector<std::uint8_t> data(512);
    const auto writes = platform.counters.writes;
    for (std::uint32_t s : {1100, 1101, 1102, 1103, 1104, 1105, 1106, 1107, 1108, 1109, 1100}) {
        ++data[0];
        ASSERT_EQ(write_window_sector(disk, s, data.data(), false), LYFS_OK);
    }
    EXPECT_EQ(platform.counters.writes, writes);
    platform.arm({IoOp::kWrite, 1});
    EXPECT_EQ(flush_write_window(disk), LYFS_ERR_WRITE);
    EXPECT_EQ(disk->wr_window_count, 10u) << "a failed write keeps the window";
    platform.disarm();
    ASSERT_EQ(flush_write_window(disk), LYFS_OK);
    EXPECT_EQ(platform.log.back().bytes, 10u * 512) << "only the gathered sectors";
    EXPECT_EQ(test::Values({platform.card("c").sector(1100)[0], platform.card("c").sector(1109)[0],
                            platform.card("c").sector(1110)[0]}),
              test::Values({11, 10, 0}));

    // A gap starts a new window instead of writing stale bytes, once the gathered one is out.
    ASSERT_EQ(write_window_sector(disk, 200, data.data(), false), LYFS_OK);
    platform.arm({IoOp::kWrite, 1});
    EXPECT_EQ(write_window_sector(disk, 205, data.data(), false), LYFS_ERR_WRITE);
    platform.disarm();
    ASSERT_EQ(write_window_sector(disk, 205, data.data(), false), LYFS_OK);
    EXPECT_EQ(platform.log.back().bytes, 512u);
    ASSERT_EQ(flush_write_window(disk), LYFS_OK);
}

// One card with our partition, mounted, seen through the exports. A mount
// that fails, for want of memory or because the slot is not ours or does
// not fit, leaves the partition list as it was and the card unwritten.
TEST_F(DeviceTest, TheHeldDiskMountedAndSeenThroughTheExports) {
    partitioned_card("c", 64 * 2048, 2048, 1025);
    platform.add_card("blank", kMiB);
    lyfs_device_info info;
    std::memset(&info, 0xFF, sizeof info);
    ASSERT_EQ(CL_LyFS_Get_Master_Device_Info("mem:c", &info), LYFS_OK);
    EXPECT_EQ(test::Values(
                  {info.n_scts_per_clus, info.reserved[0], info.reserved[1], info.total_sectors}),
              test::Values({1025, 0, 0, 64 * 2048}));
    // The disk stays held and is reused; a card without our partition is not kept.
    const auto opens = platform.counters.opens;
    EXPECT_EQ(test::Values({CL_LyFS_Get_Master_Device_Info("mem:c", &info),
                            CL_LyFS_Check_LyFS_partition("mem:c"),
                            CL_LyFS_Check_LyFS_partition("mem:blank"),
                            CL_LyFS_Check_LyFS_partition("mem:missing")}),
              test::Values({LYFS_OK, LYFS_IS_LYFS, 0, 0}));
    EXPECT_EQ(platform.counters.opens, opens + 1) << "only the blank card";
    EXPECT_EQ(library_state()->disk_list->next, nullptr);
    EXPECT_TRUE(
        log.contains("[ERROR]-CL_LyFS_Check_LyFS_partition, couldn't find LyFS partition\n"));
    // Paths are compared exactly: another spelling is another device.
    EXPECT_EQ(find_disk("MEM:c"), nullptr);

    stDISK* disk = find_disk("mem:c");
    stPARTITION* part = nullptr;
    // The first mount makes the disk's list lock, which stays with the disk.
    ASSERT_EQ(setup_partition_info(disk, "p", &part), LYFS_OK);
    teardown_partition(part);
    // Then: the partition record, the FAT cache, and each of the five locks.
    for (std::uint64_t nth = 1; nth <= 7; ++nth) {
        platform::fail_allocation_at(nth);
        EXPECT_EQ(setup_partition_info(disk, "p", &part), LYFS_ERR_MOUNT) << nth;
        platform::fail_allocation_at(0);
        EXPECT_EQ(disk->part_list, nullptr) << nth;
    }
    // Slots that are not ours (FAT32) or do not fit: running past the
    // device's end, no room for a single cluster, empty, over the table.
    // (Status, CHS, type, CHS, first sector, count.)
    const auto ours = disk->part_entry[1];
    for (const PartEntry slot : {PartEntry{0, {}, 0x0C, {}, ours.first_sector, 62 * 2048},
                                 {0, {}, 0x52, {}, ours.first_sector, 64 * 2048},
                                 {0, {}, 0x52, {}, ours.first_sector, 40},
                                 {0, {}, 0, {}, ours.first_sector, 0},
                                 {0, {}, 0x52, {}, 0, 62 * 2048}}) {
        disk->part_entry[1] = slot;
        EXPECT_EQ(setup_partition_info(disk, "p", &part), LYFS_ERR_MOUNT) << slot.sector_count;
        EXPECT_EQ(disk->part_list, nullptr);
    }
    EXPECT_EQ(platform.counters.writes, 0u);
    disk->part_entry[1] = ours;
    ASSERT_EQ(setup_partition_info(disk, "p", &part), LYFS_OK);
    dev_desc record{};
    std::memset(&info, 0xAB, sizeof info);
    const lyfs_device_info untouched = info;
    record.part_handle = disk->handle;  // a handle of another kind
    EXPECT_EQ(CL_LyFS_Get_Device_Info(&record, &info), LYFS_ERR_NO_PARTITION);
    EXPECT_EQ(std::memcmp(&info, &untouched, sizeof info), 0);
    EXPECT_EQ(CL_LyFS_Get_Device_Info(nullptr, &info), LYFS_ERR_NO_PARTITION);
    record.part_handle = part->handle;
    ASSERT_EQ(CL_LyFS_Get_Device_Info(&record, &info), LYFS_OK);
    EXPECT_EQ(test::Values({info.n_scts_per_clus, info.total_sectors}),
              test::Values({0, 64 * 2048 - 2080}));
    // The exports kept for old hosts answer 0.
    EXPECT_EQ(test::Values({CL_LyFS_Get_Partition_Info(&record), CL_LyFS_Get_FAT32_Partition(),
                            CL_LyFS_Get_LyFS_Partition(), CL_LyFS_Get_Available_Partition(),
                            CL_LyFS_Fwrite_Header_Update(), CL_LyFS_Get_Finfo_with_Fname()}),
              test::Values(6, 0));

    // A table that no longer names our partition leaves the mounted disk in place.
    disk->part_entry[1].type = 0;
    EXPECT_EQ(CL_LyFS_Check_LyFS_partition("mem:c"), 0);
    EXPECT_EQ(find_disk("mem:c"), disk);
    EXPECT_EQ(get_partition_object_type(disk), part);
    // Once the partition is gone its handle is stale.
    teardown_partition(part);
    EXPECT_EQ(CL_LyFS_Get_Device_Info(&record, &info), LYFS_ERR_NO_PARTITION);
    disk->part_entry[1].type = 0x52;
    ASSERT_EQ(setup_partition_info(disk, "p", &part), LYFS_OK);
    setup("mem:blank");
    EXPECT_EQ(platform.open_devices(), 2u);
    // The stop closes both (the fixture checks that none is left open) and
    // each only once.
    EXPECT_EQ(CL_LyFS_Stop(), LYFS_OK);
    EXPECT_EQ(platform.counters.closes, platform.counters.opens);
    ASSERT_EQ(CL_LyFS_Start(), LYFS_OK);  // for the fixture's own stop
}

}  // namespace
}  // namespace lyfs
