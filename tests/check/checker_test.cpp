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

TEST(CheckerCleanCards, FreshlyFormattedCardsOfBothClusterSizes) {
    for (CardBuilder b :
         {CardBuilder::small(), CardBuilder(40000, 1025, {{"DATA", 20, 5000}, {"PHOTO", 17, 4}})}) {
        const Report report = check_card(b.card());
        EXPECT_TRUE(report.clean()) << listing(report);
        ASSERT_EQ(report.folders.size(), 2u);
        EXPECT_EQ(report.folders[1].start_cluster, b.folder_start(1));
        EXPECT_TRUE(report.files.empty());
        EXPECT_EQ(report.used_clusters, 0u);
    }
}

TEST(CheckerCleanCards, CommittedAndUnfinishedFilesAreWellFormed) {
    CardBuilder b = card_with_one_file();
    // Still being written: the last cluster's entry stays free until the file is closed.
    b.add_file(0, 1, "20240101_120100_F.MP4", 0, {7, 8}, 0);
    // Created but never written.
    b.add_file(1, 0, "20240101_120200_E.MP4", 0, {b.content_start(1)}, 0);
    // An erased slot between files is not a file.
    b.record(0, 2)[96] = 0xE5;

    const Report report = check_card(b.card());
    EXPECT_TRUE(report.clean()) << listing(report);
    ASSERT_EQ(report.files.size(), 3u);
    EXPECT_EQ(report.files[0].folder, "DATA");
    EXPECT_EQ(report.files[0].name, "20240101_120000_F.MP4");
    EXPECT_EQ(report.files[0].chain_clusters, 3u);
    EXPECT_EQ(report.files[1].chain_clusters, 2u);
    EXPECT_EQ(report.files[2].slot, 0u);
    EXPECT_EQ(report.committed_files(), 1u);
    EXPECT_EQ(report.used_clusters, 6u);
}

TEST(CheckerCleanCards, LongAndShortNamesDecode) {
    CardBuilder b = CardBuilder::small();
    const std::string longest(39, 'x');
    b.add_file(0, 0, "clip_0001", 1, {4});
    b.add_file(0, 1, "exactly_13_ch", 1, {5});
    b.add_file(0, 2, longest, 1, {6});
    const Report report = check_card(b.card());
    ASSERT_EQ(report.files.size(), 3u);
    EXPECT_EQ(report.files[0].name, "clip_0001");
    EXPECT_EQ(report.files[1].name, "exactly_13_ch");
    EXPECT_EQ(report.files[2].name, longest);
}

TEST(CheckerCleanCards, LargeSparseCardUsesTheWorkedGeometry) {
    CardBuilder b(62333952, 256, {{"DATA", 243484 - 1, 1000}});
    EXPECT_EQ(b.fat_sectors(), 1903u);
    EXPECT_EQ(b.last_cluster(), 243485u);
    const Report report = check_card(b.card());
    EXPECT_TRUE(report.clean()) << listing(report);
}

TEST(CheckerLayoutFaults, EachIsReportedAlone) {
    const auto root = [](CardBuilder& b) { return b.cluster_lba(2); };
    expect_each_fault_alone(
        CardBuilder::small,
        {
            {"no table signature", [](CardBuilder& b) { b.card().put16(0, 0x1FE, 0); },
             ProblemKind::PartitionTable},
            {"slot 1 not ours", [](CardBuilder& b) { b.card().put8(0, 0x1AE + 4, 0x0C); },
             ProblemKind::PartitionTable},
            {"slot 1 beyond the device",
             [](CardBuilder& b) { b.card().put32(0, 0x1AE + 12, 8193); },
             ProblemKind::PartitionTable},
            {"boot sector FAT size", [](CardBuilder& b) { b.card().put32(b.relative(0), 0x24, 2); },
             ProblemKind::BootSector},
            {"boot sector type",
             [](CardBuilder& b) { b.card().put_text(b.relative(0), 0x52, "FAT32   "); },
             ProblemKind::BootSector},
            {"fsinfo trail", [](CardBuilder& b) { b.card().put32(b.relative(1), 0x1FC, 0); },
             ProblemKind::FsInfo},
            {"ten folders", [](CardBuilder& b) { b.card().put32(b.relative(1), 4, 10); },
             ProblemKind::FolderRecord},
            {"extra root entry",
             [&root](CardBuilder& b) { b.card().put_text(root(b), 64, "PHOTO      "); },
             ProblemKind::FolderRecord},
            {"region gap", [](CardBuilder& b) { b.card().put32(b.relative(1), 8, 14); },
             ProblemKind::RegionTiling},
            {"entry area fills region",
             [](CardBuilder& b) { b.card().put32(b.relative(1), 8 + 12, 15 * 1024); },
             ProblemKind::FileEntryArea},
            {"fat entry 1", [](CardBuilder& b) { b.set_fat(1, 0); }, ProblemKind::FatHeader},
            {"root not ended", [](CardBuilder& b) { b.set_fat(2, 3); }, ProblemKind::FatHeader},
            {"entry area unlinked", [](CardBuilder& b) { b.set_fat(3, 0); },
             ProblemKind::FileEntryChain},
        });
}

TEST(CheckerFileFaults, EachIsReportedAlone) {
    expect_each_fault_alone(
        card_with_one_file,
        {
            {"record of another kind",
             [](CardBuilder& b) {
                 CardBuilder::encode_record(b.record(0, 1), "dir_entry_x", 9, 0);
                 b.record(0, 1)[107] = 0x10;
             },
             ProblemKind::BadAttribute},
            {"link into another folder", [](CardBuilder& b) { b.set_fat(6, 18); },
             ProblemKind::ChainLeavesFolder},
            {"link beyond the partition", [](CardBuilder& b) { b.set_fat(6, 40); },
             ProblemKind::ChainLeavesFolder},
            {"start in the entry area",
             [](CardBuilder& b) { b.add_file(1, 0, "20240101_120000_E.MP4", 0, {18}); },
             ProblemKind::ChainLeavesFolder},
            {"loop", [](CardBuilder& b) { b.set_fat(6, 4); }, ProblemKind::Loop},
            {"shared tail",
             [](CardBuilder& b) {
                 CardBuilder::encode_record(b.record(0, 1), "20240101_120100_F.MP4", 9, 0);
                 b.set_fat(9, 5);
             },
             ProblemKind::SharedCluster},
            {"bad cluster mark", [](CardBuilder& b) { b.set_fat(6, 0x0FFFFFF7); },
             ProblemKind::InvalidLink},
            {"committed without end mark", [](CardBuilder& b) { b.set_fat(6, 0); },
             ProblemKind::InvalidLink},
            {"size beyond the chain",
             [](CardBuilder& b) {
                 CardBuilder::encode_record(b.record(0, 0), "20240101_120000_F.MP4", 4,
                                            3 * b.cluster_bytes() + 1);
             },
             ProblemKind::ShortChain},
            {"orphaned cluster", [](CardBuilder& b) { b.set_fat(10, kEnd); },
             ProblemKind::LostCluster},
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
                card.put8(lba, i, static_cast<std::uint8_t>(byte(rng)));
            }
        }
        card.put16(0, 0x1FE, 0xAA55);
        card.put8(0, 0x1AE + 4, 0x52);
        card.put32(0, 0x1AE + 8, round % 8);
        card.put32(0, 0x1AE + 12, static_cast<std::uint32_t>(rng() % 4096));
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
            b.card().put8(lba, rng() % 512, static_cast<std::uint8_t>(byte(rng)));
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
