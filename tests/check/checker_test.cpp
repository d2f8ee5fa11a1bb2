#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <random>
#include <set>

#include "card_checker.h"
#include "card_image.h"
#include "support/scratch_file.h"

namespace lyfs::check {
namespace {

using test::CardBuilder;
using test::kEnd;
using K = ProblemKind;

std::set<ProblemKind> kinds_of(const Report& report) {
    std::set<ProblemKind> kinds;
    for (const Problem& p : report.problems) {
        kinds.insert(p.kind);
    }
    return kinds;
}

std::string listing(const Report& report) {
    std::string text;
    for (const Problem& p : report.problems) {
        text += p.what + "\n";
    }
    return text;
}

// The small card with one committed file in DATA: clusters 4, 5, 6 for 2.5 clusters of data.
CardBuilder card_with_one_file() {
    CardBuilder b = CardBuilder::small();
    b.add_file(0, 0, "20240101_120000_F.MP4", 5 * b.cluster_bytes() / 2, {4, 5, 6});
    return b;
}

struct Fault {
    const char* name;
    std::function<void(CardBuilder&)> inject;
    ProblemKind expected;
};

// Each fault must be reported as its own kind and nothing else, so that tests of interrupted
// writes can accept a precise set of kinds.
void expect_each_fault_alone(const std::function<CardBuilder()>& make,
                             const std::vector<Fault>& faults) {
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.name);
        CardBuilder b = make();
        fault.inject(b);
        const Report report = check_card(b.card());
        EXPECT_EQ(kinds_of(report), std::set<ProblemKind>{fault.expected}) << listing(report);
        for (const Problem& p : report.problems) {
            EXPECT_EQ(p.what.rfind(std::string(kind_name(p.kind)) + ": ", 0), 0u) << p.what;
        }
    }
}

TEST(CheckerCleanCards, FreshlyFormattedCardsOfBothClusterSizesAndALargeOne) {
    for (CardBuilder b :
         {CardBuilder::small(), CardBuilder(40000, 1025, {{"DATA", 20, 5000}, {"PHOTO", 17, 4}}),
          CardBuilder(62333952, 256, {{"DATA", 243484 - 3, 1000}, {"EVENT", 2, 4}})}) {
        const Report report = check_card(b.card());
        EXPECT_TRUE(report.clean()) << listing(report);
        ASSERT_EQ(report.folders.size(), 2u);
        EXPECT_EQ(report.folders[1].start_cluster, b.folder_start(1));
        EXPECT_TRUE(report.files.empty());
        EXPECT_EQ(report.used_clusters, 0u);
    }
    // The worked geometry of the large card.
    CardBuilder large(62333952, 256, {});
    EXPECT_EQ(large.fat_sectors(), 1903u);
    EXPECT_EQ(large.last_cluster(), 243485u);
}

TEST(CheckerCleanCards, CommittedAndUnfinishedFilesAreWellFormed) {
    CardBuilder b = card_with_one_file();
    // Still being written: the last cluster's entry stays free until the file is closed.
    b.add_file(0, 1, "20240101_120100_F.MP4", 0, {7, 8}, 0);
    // Created but never written.
    b.add_file(1, 0, "20240101_120200_E.MP4", 0, {b.content_start(1)}, 0);
    // An erased slot between files is not a file.
    b.record(0, 2)[96] = 0xE5;
    // Names of one, just one and three long-name entries.
    const std::string longest(39, 'x');
    b.add_file(0, 3, "clip_0001", 1, {9});
    b.add_file(0, 4, "exactly_13_ch", 1, {10});
    b.add_file(0, 5, longest, 1, {11});

    const Report report = check_card(b.card());
    EXPECT_TRUE(report.clean()) << listing(report);
    ASSERT_EQ(report.files.size(), 6u);
    EXPECT_EQ(report.files[0].folder, "DATA");
    EXPECT_EQ(report.files[0].name, "20240101_120000_F.MP4");
    EXPECT_EQ(report.files[0].chain_clusters, 3u);
    EXPECT_EQ(report.files[1].chain_clusters, 2u);
    EXPECT_EQ(report.files[2].name, "clip_0001");
    EXPECT_EQ(report.files[3].name, "exactly_13_ch");
    EXPECT_EQ(report.files[4].name, longest);
    EXPECT_EQ(report.files[5].slot, 0u);
    EXPECT_EQ(report.committed_files(), 4u);
    EXPECT_EQ(report.used_clusters, 9u);
}

TEST(CheckerLayoutFaults, EachIsReportedAlone) {
    const auto root = [](auto& b) { return b.cluster_lba(2); };
    expect_each_fault_alone(
        CardBuilder::small,
        {
            {"no table signature", [](auto& b) { b.card().put(0, 0x1FE, 0, 2); },
             K::PartitionTable},
            {"slot 1 not ours", [](auto& b) { b.card().put(0, 0x1AE + 4, 0x0C, 1); },
             K::PartitionTable},
            {"slot 1 beyond the device", [](auto& b) { b.card().put(0, 0x1AE + 12, 8193); },
             K::PartitionTable},
            {"boot sector FAT size", [](auto& b) { b.card().put(b.relative(0), 0x24, 2); },
             K::BootSector},
            {"boot sector type",
             [](auto& b) { b.card().put_text(b.relative(0), 0x52, "FAT32   "); }, K::BootSector},
            {"fsinfo trail", [](auto& b) { b.card().put(b.relative(1), 0x1FC, 0); }, K::FsInfo},
            {"ten folders", [](auto& b) { b.card().put(b.relative(1), 4, 10); }, K::FolderRecord},
            {"extra root entry",
             [&root](auto& b) { b.card().put_text(root(b), 64, "PHOTO      "); }, K::FolderRecord},
            {"region gap", [](auto& b) { b.card().put(b.relative(1), 8, 14); }, K::RegionTiling},
            {"entry area fills region",
             [](auto& b) { b.card().put(b.relative(1), 8 + 12, 15 * 1024); }, K::FileEntryArea},
            {"fat entry 1", [](auto& b) { b.set_fat(1, 0); }, K::FatHeader},
            {"root not ended", [](auto& b) { b.set_fat(2, 3); }, K::FatHeader},
            {"entry area unlinked", [](auto& b) { b.set_fat(3, 0); }, K::FileEntryChain},
        });
}

TEST(CheckerFileFaults, EachIsReportedAlone) {
    expect_each_fault_alone(
        card_with_one_file,
        {
            {"record of another kind",
             [](auto& b) {
                 CardBuilder::encode_record(b.record(0, 1), "dir_entry_x", 9, 0);
                 b.record(0, 1)[107] = 0x10;
             },
             K::BadAttribute},
            {"link into another folder", [](auto& b) { b.set_fat(6, 18); }, K::ChainLeavesFolder},
            {"link beyond the partition", [](auto& b) { b.set_fat(6, 40); }, K::ChainLeavesFolder},
            {"start in the entry area",
             [](auto& b) { b.add_file(1, 0, "20240101_120000_E.MP4", 0, {18}); },
             K::ChainLeavesFolder},
            {"loop", [](auto& b) { b.set_fat(6, 4); }, K::Loop},
            {"shared tail",
             [](auto& b) {
                 CardBuilder::encode_record(b.record(0, 1), "20240101_120100_F.MP4", 9, 0);
                 b.set_fat(9, 5);
             },
             K::SharedCluster},
            {"bad cluster mark", [](auto& b) { b.set_fat(6, 0x0FFFFFF7); }, K::InvalidLink},
            {"committed without end mark", [](auto& b) { b.set_fat(6, 0); }, K::InvalidLink},
            {"size beyond the chain",
             [](auto& b) {
                 CardBuilder::encode_record(b.record(0, 0), "20240101_120000_F.MP4", 4,
                                            3 * b.cluster_bytes() + 1);
             },
             K::ShortChain},
            {"orphaned cluster", [](auto& b) { b.set_fat(10, kEnd); }, K::LostCluster},
        });
}

TEST(CheckerFileFaults, LostClustersAreSummarisedPerFolder) {
    CardBuilder b = card_with_one_file();
    for (std::uint32_t c = 8; c <= 17; ++c) {
        b.set_fat(c, kEnd);
    }
    b.set_fat(b.content_start(1), kEnd);
    const Report report = check_card(b.card());
    ASSERT_EQ(report.count(ProblemKind::LostCluster), 2u) << listing(report);
    EXPECT_EQ(report.problems[0].what,
              "lost cluster: folder DATA: 10 clusters in use by no file: "
              "8, 9, 10, 11, 12, 13, 14, 15, ...");
    EXPECT_EQ(report.lost_clusters, 11u);
}

TEST(CheckerFileFaults, FloodOfOneKindIsBounded) {
    CardBuilder b = CardBuilder::small();
    for (std::uint32_t slot = 0; slot < 1024; ++slot) {
        b.record(1, slot)[96] = 'A';
    }
    const Report report = check_card(b.card());
    EXPECT_EQ(report.count(ProblemKind::BadAttribute), 100u);
    EXPECT_EQ(report.unlisted_problems, 924u);
}

// Nothing read from the card may crash the checker, hang it or make it allocate without
// bound. Garbage either replaces whole images or is sprinkled over a valid one.
TEST(CheckerRobustness, GarbageNeverCrashes) {
    std::mt19937 rng(20240101);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 40; ++round) {
        test::MemoryCard card(4096);
        for (std::uint64_t lba = 0; lba < 64; ++lba) {
            for (std::size_t i = 0; i < 512; ++i) {
                card.put(lba, i, static_cast<std::uint8_t>(byte(rng)), 1);
            }
        }
        card.put(0, 0x1FE, 0xAA55, 2);
        card.put(0, 0x1AE + 4, 0x52, 1);
        card.put(0, 0x1AE + 8, round % 8);
        card.put(0, 0x1AE + 12, static_cast<std::uint32_t>(rng() % 4096));
        EXPECT_FALSE(check_card(card).clean());
    }
    for (int round = 0; round < 200; ++round) {
        CardBuilder b = card_with_one_file();
        std::vector<std::uint64_t> lbas;
        for (const auto& [lba, bytes] : b.card().written()) {
            lbas.push_back(lba);
        }
        for (int hit = 0; hit < 12; ++hit) {
            const std::uint64_t lba = lbas[rng() % lbas.size()];
            b.card().put(lba, rng() % 512, static_cast<std::uint8_t>(byte(rng)), 1);
        }
        check_card(b.card());
    }
}

TEST(CheckerRobustness, ReadsImageFiles) {
    CardBuilder b = card_with_one_file();
    std::string path;
    {
        const lyfs::test::ScratchFile file(b.card().sector_count() * 512);
        path = file.path();
        std::fstream out(path, std::ios::in | std::ios::out | std::ios::binary);
        for (const auto& [lba, bytes] : b.card().written()) {
            out.seekp(static_cast<std::streamoff>(lba * 512));
            out.write(reinterpret_cast<const char*>(bytes.data()), 512);
        }
        ASSERT_TRUE(out.flush());
        out.close();

        FileSectorReader image(path);
        ASSERT_TRUE(image.is_open());
        EXPECT_EQ(image.sector_count(), b.card().sector_count());
        const Report report = check_card(image);
        EXPECT_TRUE(report.clean()) << listing(report);
        EXPECT_EQ(report.files.size(), 1u);
    }
    FileSectorReader missing(path);
    EXPECT_FALSE(missing.is_open());
    EXPECT_EQ(kinds_of(check_card(missing)), std::set<ProblemKind>{ProblemKind::ReadError});
}

}  // namespace
}  // namespace lyfs::check
