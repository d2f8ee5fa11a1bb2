#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <set>

#include "card_checker.h"
#include "card_image.h"
#include "support/card_check.h"

namespace lyfs::check {
namespace {

using lyfs::test::problems_of;
using test::CardBuilder;
using test::kEnd;
using K = ProblemKind;

bool only(const Report& report, ProblemKind kind) {
    return !report.problems.empty() && report.count(kind) == report.problems.size();
}

// Two folders of 15 clusters each on a partition of 8192 sectors (clusters 2 to 32), with one
// committed file in DATA: clusters 4, 5, 6 for 2.5 clusters of data.
CardBuilder card_with_one_file() {
    CardBuilder b(8192, 256, {{"DATA", 15, 8}, {"EVENT", 15, 1000}});
    b.add_file(0, 0, "20240101_120000_F.MP4", 5 * b.cluster_bytes() / 2, {4, 5, 6});
    return b;
}

TEST(Checker, CleanCardsInMemoryAndInImageFiles) {
    for (CardBuilder b :
         {CardBuilder(40000, 1025, {{"DATA", 20, 5000}, {"PHOTO", 17, 4}}),
          CardBuilder(62333952, 256, {{"DATA", 243484 - 3, 1000}, {"EVENT", 2, 4}})}) {
        const Report report = check_card(b);
        EXPECT_TRUE(report.clean()) << problems_of(report);
        ASSERT_EQ(report.folders.size(), 2u);
        EXPECT_EQ(report.folders[1].start_cluster, b.folder_start(1));
    }
    CardBuilder b = card_with_one_file();
    // Still being written: the last cluster's entry stays free until the file is closed.
    b.add_file(0, 1, "20240101_120100_F.MP4", 0, {7, 8}, 0);
    // Created but never written, in EVENT's first content cluster.
    b.add_file(1, 0, "20240101_120200_E.MP4", 0, {19}, 0);
    b.record(0, 2)[96] = 0xE5;  // an erased slot between files is not a file
    // Names of one, just one and three long-name entries.
    const std::string longest(39, 'x');
    b.add_file(0, 3, "clip_0001", 1, {9});
    b.add_file(0, 4, "exactly_13_ch", 1, {10});
    b.add_file(0, 5, longest, 1, {11});

    const Report report = check_card(b);
    EXPECT_TRUE(report.clean()) << problems_of(report);
    std::vector<std::string> files;
    for (const FileSummary& f : report.files) {
        files.push_back(f.folder + "/" + f.name + " " + std::to_string(f.chain_clusters));
    }
    EXPECT_EQ(files, (std::vector<std::string>{"DATA/20240101_120000_F.MP4 3",
                                               "DATA/20240101_120100_F.MP4 2", "DATA/clip_0001 1",
                                               "DATA/exactly_13_ch 1", "DATA/" + longest + " 1",
                                               "EVENT/20240101_120200_E.MP4 1"}));
    EXPECT_EQ(report.committed_files(), 4u);
    EXPECT_EQ(report.used_clusters, 9u);

    // The image files themselves are read by every run of lyfs check; a missing one is
    // unreadable, not damaged.
    FileSectorReader missing("no/such/card.img");
    EXPECT_TRUE(only(check_card(missing), K::ReadError));
}

// Each kind of damage is reported as its own kind and nothing else, so that tests of
// interrupted writes can accept a precise set of kinds.
TEST(Checker, EachKindOfDamageIsReportedAlone) {
    const std::pair<std::function<void(CardBuilder&)>, ProblemKind> cases[] = {
        {[](auto& b) { b.put(0, 0x1AE + 12, 8193); }, K::PartitionTable},
        {[](auto& b) { b.put_text(b.relative(0), 0x52, "FAT32   "); }, K::BootSector},
        {[](auto& b) { b.put(b.relative(1), 0x1FC, 0); }, K::FsInfo},
        {[](auto& b) { b.put_text(b.cluster_lba(2), 64, "PHOTO      "); }, K::FolderRecord},
        {[](auto& b) { b.put(b.relative(1), 8, 14); }, K::RegionTiling},
        {[](auto& b) { b.put(b.relative(1), 8 + 12, 15 * 1024); }, K::FileEntryArea},
        {[](auto& b) { b.set_fat(2, 3); }, K::FatHeader},
        {[](auto& b) { b.set_fat(3, 0); }, K::FileEntryChain},
        {[](auto& b) { b.record(0, 1)[96] = 'X', b.record(0, 1)[107] = 0x10; }, K::BadAttribute},
        {[](auto& b) { b.set_fat(6, 18); }, K::ChainLeavesFolder},
        {[](auto& b) { b.set_fat(6, 4); }, K::Loop},
        {[](auto& b) { b.add_file(0, 1, "20240101_120100_F.MP4", 0, {5}, 6); }, K::SharedCluster},
        {[](auto& b) { b.set_fat(6, 0); }, K::InvalidLink},
        {[](auto& b) { b.put(b.cluster_lba(3), 124, 3 * b.cluster_bytes() + 1); }, K::ShortChain},
        {[](auto& b) { b.set_fat(10, kEnd); }, K::LostCluster},
    };
    for (const auto& [inject, kind] : cases) {
        SCOPED_TRACE(kind_name(kind));
        CardBuilder b = card_with_one_file();
        inject(b);
        const Report report = check_card(b);
        ASSERT_TRUE(only(report, kind)) << problems_of(report);
        EXPECT_EQ(report.problems[0].what.rfind(std::string(kind_name(kind)) + ": ", 0), 0u);
        if (!report.files.empty()) {
            // Its chain still reaches the whole size but for a size past its end.
            EXPECT_EQ(report.files[0].damage,
                      kind == K::ShortChain ? "3 clusters for 393217 bytes, needs 4" : "");
        }
    }
    // A chain that stops early: a reader gets its first two clusters, then nothing.
    CardBuilder b = card_with_one_file();
    b.set_fat(5, 0x0FFFFFF7);
    const FileSummary file = check_card(b).files.at(0);
    EXPECT_EQ(file.damage, "cluster 5 holds 0x0FFFFFF7");
    EXPECT_EQ(file.readable_bytes, 2 * b.cluster_bytes());
}

// Nothing read from the card may crash the checker, hang it or make it allocate without
// bound, whatever garbage is sprinkled over a valid card.
TEST(Checker, GarbageNeverCrashes) {
    std::mt19937 rng(20240101);
    for (int round = 0; round < 200; ++round) {
        CardBuilder b = card_with_one_file();
        for (int hit = 0; hit < 12; ++hit) {
            std::next(b.sectors.begin(), rng() % b.sectors.size())->second[rng() % 512] =
                static_cast<std::uint8_t>(rng());
        }
        check_card(b);
    }
}

}  // namespace
}  // namespace lyfs::check
