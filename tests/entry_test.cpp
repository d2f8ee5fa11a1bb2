// Root-directory entries and folder objects; file-entry records, the ring of
// slots, and the folder's file objects.
#include <gtest/gtest.h>

#include <cstring>

#include "entry/file_entry.h"
#include "entry/file_object.h"
#include "entry/ring.h"
#include "folder/dir_entry.h"
#include "folder/folder.h"
#include "support/card_bytes.h"
#include "support/folder_bench.h"

namespace lyfs {
namespace {

using test::IoOp;
using test::le16;

std::vector<std::uint8_t> built(const char* name, std::uint32_t cluster = 0x00012345) {
    std::vector<std::uint8_t> record(128, 0x77);
    EXPECT_EQ(setup_file_entry(record.data(), name, cluster), LYFS_OK) << name;
    return record;
}

// What a record decodes to: its name, cluster and attribute, or the status.
std::string decoded(const std::vector<std::uint8_t>& record) {
    char name[kFileNameBytes] = {};
    std::uint8_t attribute = 0;
    std::uint32_t cluster = 0, size = 0;
    const int32_t status = extract_file_entry(record.data(), name, &attribute, &cluster, &size);
    return status != LYFS_OK ? "status " + std::to_string(status)
                             : std::string(name) + " " + std::to_string(cluster) + " " +
                                   std::to_string(attribute);
}

using FolderTest = test::LibraryTest;

TEST_F(FolderTest, ShortAndLongFolderEntriesLayoutReservesAndTheFolderList) {
    platform.now = {2024, 3, 5, 14, 7, 9};
    std::vector<std::uint8_t> sector(512, 0);
    std::uint32_t offset = 0;
    ASSERT_EQ(make_dir_entry("DATA", 0x10, 0x00012345, sector.data(), &offset), LYFS_OK);
    EXPECT_EQ(offset, 32u);
    EXPECT_EQ(std::string(sector.begin(), sector.begin() + 11), "DATA       ");
    // Type, 14:07:09 on 2024-03-05, the cluster in two halves.
    test::expect_fields(sector, {11, 1, 0x10, 12, 2, 0, 14, 2, 0x70E4, 16, 2, 0x5865, 20, 2, 0x0001,
                                 26, 2, 0x2345});

    ASSERT_EQ(make_dir_entry("ABCDEFGH", 0x20, 3, sector.data(), &offset), LYFS_OK);
    EXPECT_EQ(offset, 64u);
    EXPECT_EQ(std::string(sector.begin() + 32, sector.begin() + 43), "ABCDEFGH   ");

    DirEntryInfo info{};
    ASSERT_TRUE(extract_dir_entry(sector.data(), &info));
    EXPECT_EQ(std::string(info.name) + " " + std::to_string(info.attribute) + " " +
                  std::to_string(info.first_cluster),
              "DATA 16 74565");
    ASSERT_TRUE(extract_dir_entry(sector.data() + 32, &info));
    EXPECT_STREQ(info.name, "ABCDEFGH");

    EXPECT_EQ(make_dir_entry("", 0x10, 3, sector.data(), &offset), LYFS_ERR_EMPTY_FOLDER_NAME);
    EXPECT_EQ(offset, 64u);

    // Long names take a group that readers skip.
    sector.assign(512, 0);
    offset = 0;
    ASSERT_EQ(make_dir_entry("RECORDINGS", 0x10, 7, sector.data(), &offset), LYFS_OK);
    EXPECT_EQ(offset, 128u);
    EXPECT_EQ(sector[11], 0x0F) << "the group's first slot says: skip 128 bytes";
    EXPECT_EQ(std::string(sector.begin() + 96, sector.begin() + 107), "RECORD~1   ");
    // The one long-name entry sits right before the alias, with the alias's
    // checksum; the 6th character opens its second run, 0x0000 follows the
    // 10th, then 0xFFFF.
    test::expect_fields(sector, {64, 1, 0x41, 75, 1, 0x0F, 77, 1, 0xCA,   65, 2, 'R',   78, 2, 'D',
                                 86, 2, 'S',  88, 2, 0,    92, 2, 0xFFFF, 94, 2, 0xFFFF});
    EXPECT_FALSE(extract_dir_entry(sector.data(), &info));

    offset = 448;  // a group would run past the sector
    EXPECT_EQ(make_dir_entry("RECORDINGS", 0x10, 7, sector.data(), &offset), LYFS_FAIL);
    EXPECT_EQ(offset, 448u);

    // A folder's layout and reserve, and the partition's folder list.
    stFOLDER folder{};
    folder.start_cluster = 3;
    folder.total_clusters = 100;
    folder.max_file_num = 1000;
    set_folder_layout(&folder, 256);
    EXPECT_EQ(test::Values({folder.n_fe_clusters, folder.fe_totals, folder.n_fc_start_cluster,
                            folder.start_sector_offset}),
              test::Values({1, 1024, 4, 256}));
    EXPECT_EQ(folder.total_space, 99ull * 256 * 512);
    folder.max_file_num = 1025;
    set_folder_layout(&folder, 256);
    EXPECT_EQ(test::Values({folder.n_fe_clusters, folder.fe_totals, file_entry_clusters(0, 256)}),
              test::Values({2, 2048, 0}));

    test::Values reserves;
    for (const char* name : {"DATA", "PARKED", "data"}) {
        std::strcpy(folder.fold_name, name);
        reserves.push_back(get_fold_min_free_space(&folder));
    }
    EXPECT_EQ(reserves, test::Values({10'485'760, 104'857'600, 209'715'200}));

    stPARTITION part{};
    part.h_folder_list_mutex = platform::create_mutex();
    stFOLDER* data = create_folder_object(&part);
    stFOLDER* event = create_folder_object(&part);
    ASSERT_TRUE(data && event);
    std::strcpy(data->fold_name, "DATA");
    std::strcpy(event->fold_name, "EVENT");
    // Only some of a folder's locks exist, as after a scan that failed.
    data->h_fe_mutex = platform::create_mutex();
    event->h_space_mutex = platform::create_mutex();
    EXPECT_TRUE(get_folder_object(&part, "EVENT") == event && !get_folder_object(&part, "data"));
    EXPECT_NE(data->handle, event->handle);

    remove_folder_object(&part, data);
    EXPECT_EQ(part.folder_list, event);
    add_folder_object(&part, data);
    EXPECT_EQ(event->next, data);

    platform::fail_allocation_at(1);
    EXPECT_EQ(create_folder_object(&part), nullptr);
    platform::fail_allocation_at(0);

    release_folder_objects(&part);
    EXPECT_EQ(part.folder_list, nullptr);
    platform::close_mutex(part.h_folder_list_mutex);
}

using EntryTest = test::FolderBench;

TEST_F(EntryTest, RecordsOfNamesOfEveryLength) {
    platform.now = {2024, 1, 1, 12, 0, 0};
    const auto r = built("20240101_120000_F.MP4");
    EXPECT_EQ(std::string(r.begin() + 96, r.begin() + 107), "202401~1MP4");
    const std::uint32_t checksum = 0xBE;  // of "202401~1MP4"
    // The short entry: archive, the cluster in two halves, size 0 (not
    // committed), 12:00:00 on 2024-01-01. Sequence 1 holds characters 1 to
    // 13 (the 13th at 64 + 30); sequence 2, the last, characters 14 to 21
    // (the 19th opens the second run), then 0x0000 and 0xFFFF. The unused
    // position is an erased copy of the short entry.
    test::expect_fields(
        r, {107, 1, 0x20,  116, 2, 0x0001, 122, 2, 0x2345,   124, 4, 0,        110, 2, 24576,
            112, 2, 22561, 64,  1, 0x01,   75,  1, 0x0F,     77,  1, checksum, 65,  2, '2',
            94,  2, '0',   32,  1, 0x42,   45,  1, checksum, 33,  2, '0',      41,  2, '.',
            46,  2, 'M',   50,  2, '4',    52,  2, 0,        54,  2, 0xFFFF,   62,  2, 0xFFFF,
            58,  2, 0,     0,   1, 0xE5});
    EXPECT_TRUE(std::equal(r.begin() + 1, r.begin() + 32, r.begin() + 97));

    EXPECT_EQ(decoded(r), "20240101_120000_F.MP4 74565 32");  // 0x12345, archive

    // Name lengths, extensions and short names.
    std::vector<std::uint8_t> r2(128, 0x77);
    EXPECT_EQ(setup_file_entry(r2.data(), "ABCDEFGH", 2), LYFS_ERR_NAME_LENGTH);
    EXPECT_EQ(setup_file_entry(r2.data(), std::string(40, 'x').c_str(), 2), LYFS_ERR_NAME_LENGTH);
    EXPECT_EQ(r2, std::vector<std::uint8_t>(128, 0x77)) << "a refused record is not touched";

    for (std::size_t length : {9, 13, 26, 27, 39}) {
        const std::string name = std::string("abcdefghijklmnopqrstuvwxyzabcdefghijklm", length);
        log.clear();
        EXPECT_EQ(decoded(built(name.c_str())), name + " 74565 32");
        // A name that fills its last entry ends at the erased filler.
        EXPECT_EQ(log.contains("[INFO]extract_file_entry, dirty entry in file entry\n"),
                  length == 13 || length == 26)
            << length;
    }
    const auto full = built(std::string(39, 'z').c_str());
    EXPECT_EQ(full[0], 0x43);
    EXPECT_EQ(le16(full, 30), 'z') << "39 characters leave no 0x0000 unit";

    for (const auto& [name, alias] :
         {std::pair<std::string, std::string>{"abyzghijk", "ABYZGH~1   "},
          {"clip.ts_long_name", "CLIP.T~1TS_"},
          {"recording01.ts", std::string("RECORD~1TS\0", 11)}}) {
        r2 = built(name.c_str());
        EXPECT_EQ(std::string(r2.begin() + 96, r2.begin() + 107), alias);
    }
    r2[107] = 0x10;  // a folder's type byte
    EXPECT_EQ(decoded(r2), "status -1");

    // A name starting with the erased mark still holds its slot.
    r2 = built("\xE5recording_01.ts");
    EXPECT_EQ(r2[96], 0x05) << "stored as FAT stores it";
    EXPECT_TRUE(file_entry_in_use(r2.data()));
    EXPECT_EQ(decoded(r2), "\xE5recording_01.ts 74565 32");
}

TEST_F(EntryTest, RecordsGoToTheirSlotsThroughTheCache) {
    stFOLDER* event = folder("EVENT");
    const auto r = built("20240101_120000_F.MP4", event->n_fc_start_cluster);
    ASSERT_EQ(write_file_entry(part, event, 5, r.data()), LYFS_OK);
    EXPECT_EQ(files->slot_bytes("EVENT", 5), r);

    const auto before = platform.counters;
    ASSERT_EQ(write_file_entry(part, event, 5, r.data()), LYFS_OK);  // already written
    EXPECT_EQ(platform.counters.writes, before.writes);
    ASSERT_EQ(write_file_entry(part, event, 6, r.data()), LYFS_OK);  // same sector: no read
    EXPECT_EQ(platform.counters.reads, before.reads);
    EXPECT_EQ(platform.counters.writes, before.writes + 1);

    ASSERT_EQ(write_file_entry_dirty(part, event, 5), LYFS_OK);
    EXPECT_EQ(files->slot_bytes("EVENT", 5), std::vector<std::uint8_t>(128, 0));

    event->fe_cache_sector = kNoSector;
    platform.arm({IoOp::kRead, 1});
    EXPECT_EQ(write_file_entry(part, event, 9, r.data()), LYFS_ERR_READ);
    platform.arm({IoOp::kWrite, 1});
    EXPECT_EQ(write_file_entry(part, event, 9, r.data()), LYFS_ERR_WRITE);
}

class RingTest : public test::FolderBench {
protected:
    void SetUp() override {
        FolderBench::SetUp();
        ASSERT_EQ(data->fe_totals, 1024u);
    }
    // Places a file in slot `index` on the card and, when `listed`, its object.
    stFILE* place(std::uint32_t index, const std::string& name, bool listed = true) {
        const auto r = built(name.c_str(), data->n_fc_start_cluster + index);
        EXPECT_EQ(write_file_entry(part, data, index, r.data()), LYFS_OK);
        return listed ? create_file_object(data, name.c_str(), data->n_fc_start_cluster + index,
                                           index, r.data())
                      : nullptr;
    }
    void set_ring(std::uint32_t header, std::uint32_t tail) {
        data->fe_hdr_index = header;
        data->fe_tail_index = tail;
        data->fe_valid_entries = get_file_entry_count(header, tail, data->fe_totals);
    }
};

TEST_F(RingTest, ReservingTheSlotBehindTheTailAndDeletingFromTheHeader) {
    EXPECT_EQ(get_file_entry_count(5, 2, 10), 8u);
    EXPECT_EQ(get_file_entry_count(2, 5, 10), 4u);

    std::uint32_t index = 99;
    ASSERT_EQ(find_free_file_entry(part, data, &index), LYFS_OK);
    EXPECT_EQ(index, 0u);
    EXPECT_EQ(ring("DATA"), (Ring{0, 0, 1}));

    set_ring(1000, 1023);
    ASSERT_EQ(find_free_file_entry(part, data, &index), LYFS_OK);
    EXPECT_EQ(index, 0u) << "wraps";
    EXPECT_EQ(ring("DATA"), (Ring{1000, 0, 25}));
    release_reserved_file_entry(data, 0, 1023);
    EXPECT_EQ(ring("DATA"), (Ring{1000, 1023, 24})) << "a failed creation gives its slot back";

    place(5, "full_ring_head.ts", false);
    set_ring(5, 4);
    EXPECT_EQ(find_free_file_entry(part, data, &index), LYFS_ERR_RING_FULL);

    // A folder without slots refuses, and nothing divides by zero.
    data->fe_totals = 0;
    EXPECT_EQ(find_free_file_entry(part, data, &index), LYFS_ERR_RING_FULL);
    EXPECT_EQ(next_ring_slot(data, 7), 0u);
    data->fe_totals = 1024;

    // Deleting from the header.
    stFILE* only = place(0, "only_file_0001.ts");
    set_ring(0, 0);
    ASSERT_EQ(delete_file_entry(part, data, only), LYFS_OK);
    EXPECT_EQ(ring("DATA"), (Ring{kNoSector, kNoSector, 0}));
    EXPECT_EQ(data->file_list_head, nullptr);
    EXPECT_TRUE(log.contains("[RVFS]DEL File, Folder:DATA, File:only_file_0001.ts"));

    stFILE* oldest = place(1023, "wrapping_1023.ts");
    for (std::uint32_t i = 0; i <= 3; ++i) {
        place(i, "wrapping_000" + std::to_string(i) + ".ts");
    }
    set_ring(1023, 3);
    ASSERT_EQ(delete_file_entry(part, data, oldest), LYFS_OK);
    EXPECT_EQ(ring("DATA"), (Ring{0, 3, 4}));

    // Not the header: the slot is erased, nothing else moves.
    stFILE* second = data->file_list_head->next;
    ASSERT_EQ(delete_file_entry(part, data, second), LYFS_ERR_NOT_RING_HEADER);
    EXPECT_EQ(ring("DATA"), (Ring{0, 3, 4}));
    EXPECT_TRUE(check_file_object(data, second) != nullptr);
    EXPECT_EQ(files->slot_bytes("DATA", 1), std::vector<std::uint8_t>(128, 0));
    destroy_file_object(data, second);

    // Deleting the header steps over the hole at slot 1 to the next file.
    ASSERT_EQ(delete_file_entry(part, data, data->file_list_head), LYFS_OK);
    EXPECT_EQ(ring("DATA"), (Ring{2, 3, 2}));
    EXPECT_EQ(data->file_list_head->file_entry_index, 2u);

    free_file_object_list(data);
    stFILE* first = place(10, "holes_first_10.ts");
    set_ring(10, 14);  // slots 11 to 13 are holes, 14 is reserved and not written
    ASSERT_EQ(delete_file_entry(part, data, first), LYFS_OK);
    EXPECT_EQ(ring("DATA"), (Ring{14, 14, 1})) << "a reserved tail always counts";
}

TEST_F(RingTest, FindingFilesListedOrNot) {
    const auto reads = platform.counters.reads;
    EXPECT_EQ(generate_file_object(part, data, "nothing_here.ts"), nullptr);
    EXPECT_EQ(platform.counters.reads, reads) << "an empty ring reads nothing";

    place(3, "first_recording.ts", false);
    place(5, "second_recording.ts", false);
    set_ring(3, 5);
    stFILE* file = generate_file_object(part, data, "second_recording.ts");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(test::Values({file->file_entry_index, file->start_cluster}),
              test::Values({5, data->n_fc_start_cluster + 5}));
    EXPECT_EQ(data->file_list_tail, file);
    EXPECT_EQ(generate_file_object(part, data, "SECOND_RECORDING.TS"), nullptr);
    EXPECT_TRUE(log.contains("reach last, entry_index:5, 3, 5\n"));

    free_file_object_list(data);
    stFILE* a = place(0, "same_name_file.ts");
    stFILE* b = place(1, "same_name_file.ts");
    stFILE* c = place(2, "other_name_file.ts");
    EXPECT_EQ(find_file_object(data, "same_name_file.ts"), a) << "the oldest of the two";
    EXPECT_EQ(find_file_object(data, "SAME_NAME_FILE.TS"), nullptr);
    EXPECT_EQ(get_last_file_object(data), c);

    stFILE stranger{};
    remove_file_object(data, &stranger);
    EXPECT_EQ(data->file_list_head, a);
    EXPECT_EQ(check_file_object(data, &stranger), nullptr);
    EXPECT_EQ(b->next, c);
}

}  // namespace
}  // namespace lyfs
