// demo: the main job of a host program, end to end, on a card image of its own. A recorder's
// loop is imitated: every minute a front and a rear clip go to DATA and to EVENT until both
// folders have run short and the library has reclaimed their oldest clips. Then every clip
// left is read back and compared with what was written, and the independent checker looks at
// the card.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <memory>
#include <span>
#include <vector>

#include "card.h"
#include "card_checker.h"
#include "commands.h"
#include "copy.h"
#include "failure.h"
#include "layout.h"
#include "library.h"
#include "listing.h"
#include "prepare.h"
#include "system.h"
#include "units.h"

namespace lyfs::tool {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kCardBytes = 512 * kMiB;
constexpr std::uint64_t kFat32Mib = 16;
// DATA keeps a 10 MiB reserve and EVENT 100 MiB, so these shares of a 512 MiB card fill up
// after some 40 MiB of clips each.
constexpr std::string_view kLayout = "DATA:10:1000,EVENT:30:1000,PHOTO:10:500,PARKED:0:500";
constexpr int kLongestDrive = 120;  // minutes; far more than the folders need to fill up
constexpr int kFirstHour = 8;
constexpr std::uint64_t kGrowthBytes = 4099;

struct Clip {
    std::string folder;
    std::string name;
    std::uint64_t size = 0;

    CardPath path() const { return {folder, name}; }
};

struct Camera {
    const char* suffix;
    std::uint64_t base_bytes;
};

struct FolderPlan {
    const char* folder;
    Camera front;
    Camera rear;
};

// Clips grow by an odd number of bytes a minute (kGrowthBytes), so that most end inside a
// cluster and the sizes on the card are checked to the byte.
constexpr FolderPlan kPlans[] = {
    {"DATA", {"F", 2 * kMiB}, {"R", kMiB}},
    {"EVENT", {"F", 5 * kMiB / 2}, {"R", 3 * kMiB / 2}},
};

// Clips recorded in the same minute share their first 15 characters (date and time), so the
// library reclaims them together.
std::string clip_name(int minute, const char* camera) {
    char name[40];
    std::snprintf(name, sizeof name, "20250614_%02d%02d00_%s.mp4", kFirstHour + minute / 60,
                  minute % 60, camera);
    return name;
}

// Content that differs from clip to clip and can be recomputed for any byte.
class Pattern {
public:
    explicit Pattern(const Clip& clip) {
        for (char c : clip.folder + "/" + clip.name) {
            seed_ = (seed_ ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
        }
    }

    void fill(std::uint64_t offset, std::span<std::uint8_t> out) const {
        std::uint64_t word = 0;
        for (std::size_t k = 0; k < out.size(); ++k) {
            const std::uint64_t at = offset + k;
            if (k == 0 || at % 8 == 0) {
                word = mix(seed_ + at / 8);
            }
            out[k] = static_cast<std::uint8_t>(word >> (8 * (at % 8)));
        }
    }

private:
    static std::uint64_t mix(std::uint64_t x) {
        x += 0x9E3779B97F4A7C15ull;
        x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
        x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
        return x ^ (x >> 31);
    }

    std::uint64_t seed_ = 0xCBF29CE484222325ull;
};

struct DemoOptions {
    bool keep = false;
};

// The demo's own folder in the system's temporary folder; removed at the end unless it is to be
// kept.
class ScratchFolder {
public:
    explicit ScratchFolder(bool keep) : keep_(keep), path_(make_temporary_folder("lyfs-demo-")) {}
    ~ScratchFolder() {
        std::error_code ignored;
        if (!keep_) {
            fs::remove_all(path_, ignored);
        }
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const fs::path& path() const { return path_; }

private:
    bool keep_;
    fs::path path_;
};

class Drive {
public:
    explicit Drive(Card& card) : card_(card) {}

    // Records minute after minute until both folders have had clips reclaimed.
    void record() {
        for (int minute = 0; !reclaimed_in_every_folder(); ++minute) {
            if (minute == kLongestDrive) {
                throw Failure("nothing was reclaimed in " + std::to_string(kLongestDrive) +
                              " minutes of recording");
            }
            std::printf("%02d:%02d", kFirstHour + minute / 60, minute % 60);
            for (const FolderPlan& plan : kPlans) {
                const std::uint64_t bytes = record_clip(plan.folder, minute, plan.front) +
                                            record_clip(plan.folder, minute, plan.rear);
                std::printf("  %s +%s", plan.folder, format_size(bytes).c_str());
            }
            std::printf("\n");
            for (const std::string& path : reclaimed_this_minute_) {
                std::printf("      reclaimed %s\n", path.c_str());
            }
            reclaimed_this_minute_.clear();
        }
    }

    // The library must have reclaimed the oldest clips of each folder and nothing else; the
    // clips left must be listed in age order and read back byte for byte.
    std::uint64_t verify() {
        std::uint64_t bytes = 0;
        for (const FolderPlan& plan : kPlans) {
            const std::vector<Clip> kept = kept_clips(plan.folder);
            const std::vector<FileInfo> listed = card_.files(plan.folder, AgeOrder::OldestFirst);
            if (listed.size() != kept.size()) {
                throw Failure("/" + std::string(plan.folder) + " lists " +
                              std::to_string(listed.size()) + " clips, " +
                              std::to_string(kept.size()) + " were expected");
            }
            for (std::size_t k = 0; k < kept.size(); ++k) {
                if (file_name(listed[k]) != kept[k].name || listed[k].file_size != kept[k].size) {
                    throw Failure("/" + std::string(plan.folder) + " lists " +
                                  file_name(listed[k]) + " where " + kept[k].path().text() +
                                  " was expected");
                }
                bytes += read_back(kept[k]);
            }
            read_back_count_ += kept.size();
        }
        return bytes;
    }

    std::size_t recorded() const { return written_.size(); }
    std::uint64_t recorded_bytes() const { return written_bytes_; }
    std::size_t reclaimed() const { return reclaimed_.size(); }
    std::size_t read_back_count() const { return read_back_count_; }

private:
    std::uint64_t record_clip(const char* folder, int minute, const Camera& camera) {
        const Clip clip{folder, clip_name(minute, camera.suffix),
                        camera.base_bytes + static_cast<std::uint64_t>(minute) * kGrowthBytes};
        const Pattern pattern(clip);
        std::uint64_t offset = 0;
        write_card_file(
            card_, clip.path(), clip.size,
            [&](std::span<std::uint8_t> piece) {
                pattern.fill(offset, piece);
                offset += piece.size();
            },
            [this](const std::string& path) { note_reclaimed(path); }, false);
        written_.push_back(clip);
        written_bytes_ += clip.size;
        return clip.size;
    }

    void note_reclaimed(const std::string& path) {
        reclaimed_.push_back(path);
        reclaimed_this_minute_.push_back(path);
    }

    bool reclaimed_in_every_folder() const {
        return std::all_of(std::begin(kPlans), std::end(kPlans), [this](const FolderPlan& p) {
            const std::string prefix = "/" + std::string(p.folder) + "/";
            return std::any_of(reclaimed_.begin(), reclaimed_.end(),
                               [&](const std::string& path) { return path.starts_with(prefix); });
        });
    }

    // The clips of the folder after the reclaimed ones, which must be its oldest, in order.
    std::vector<Clip> kept_clips(const std::string& folder) const {
        const std::string prefix = "/" + folder + "/";
        std::vector<std::string> gone;
        std::copy_if(reclaimed_.begin(), reclaimed_.end(), std::back_inserter(gone),
                     [&](const std::string& path) { return path.starts_with(prefix); });
        std::vector<Clip> kept;
        for (const Clip& clip : written_) {
            if (clip.folder != folder) {
                continue;
            }
            if (kept.empty() && !gone.empty() && gone.front() == clip.path().text()) {
                gone.erase(gone.begin());
            } else {
                kept.push_back(clip);
            }
        }
        if (!gone.empty()) {
            throw Failure("the library reclaimed " + gone.front() +
                          ", which was not the oldest clip of " + prefix);
        }
        return kept;
    }

    std::uint64_t read_back(const Clip& clip) {
        const Pattern pattern(clip);
        std::vector<std::uint8_t> expected;
        std::uint64_t offset = 0;
        const std::uint64_t size =
            read_card_file(card_, clip.path(), [&](std::span<const std::uint8_t> piece) {
                expected.resize(piece.size());
                pattern.fill(offset, expected);
                if (!std::equal(piece.begin(), piece.end(), expected.begin())) {
                    throw Failure(clip.path().text() + " differs from what was written, " +
                                  "within bytes " + std::to_string(offset) + " to " +
                                  std::to_string(offset + piece.size()));
                }
                offset += piece.size();
            });
        if (size != clip.size) {
            throw Failure(clip.path().text() + " reads back " + std::to_string(size) + " bytes, " +
                          std::to_string(clip.size) + " were written");
        }
        return size;
    }

    Card& card_;
    std::vector<Clip> written_;
    std::uint64_t written_bytes_ = 0;
    std::vector<std::string> reclaimed_;
    std::vector<std::string> reclaimed_this_minute_;
    std::size_t read_back_count_ = 0;
};

void check_independently(const std::string& image) {
    check::FileSectorReader reader(image);
    const check::Report report = check::check_card(reader);
    if (!reader.is_open() || !report.clean()) {
        for (const check::Problem& problem : report.problems) {
            std::printf("  %s\n", problem.what.c_str());
        }
        throw Failure("the independent checker finds problems on the card");
    }
    std::printf("independent check: clean\n");
}

int run_demo(const DemoOptions& options) {
    ScratchFolder scratch(options.keep);
    const std::string image = path_text(scratch.path() / "card.img");
    const lyfs_folder_table table = parse_layout(kLayout).table;
    Library library;
    create_sparse_image(image, kCardBytes);
    std::printf("card image %s (%s, sparse)\n", image.c_str(), format_size(kCardBytes).c_str());
    partition_card(image, kFat32Mib);
    format_card(image, table);
    std::printf("formatted with %s\n\n", describe_layout(table).c_str());

    {
        Card card(image, Card::Access::ReadWrite);
        Drive drive(card);
        drive.record();
        std::printf("\n");
        print_folders(FolderListing(card));
        const std::uint64_t read_bytes = drive.verify();
        std::printf(
            "\nrecorded %zu clips (%s) into DATA and EVENT; the oldest %zu were reclaimed\n",
            drive.recorded(), format_size(drive.recorded_bytes()).c_str(), drive.reclaimed());
        std::printf("read back the %zu clips left (%s): every byte as written\n",
                    drive.read_back_count(), format_size(read_bytes).c_str());
    }
    check_independently(image);
    if (options.keep) {
        std::printf("the card image stays at %s\n", image.c_str());
    }
    return 0;
}

}  // namespace

void add_demo_command(CLI::App& app, Commands& commands) {
    auto options = std::make_shared<DemoOptions>();
    CLI::App* demo_app = app.add_subcommand(
        "demo",
        "Record clips onto a new card image until the oldest are reclaimed, then read "
        "them back and check the card");
    demo_app->add_flag("--keep", options->keep, "Keep the card image and print where it is");
    commands.push_back({demo_app, [options] { return run_demo(*options); }});
}

}  // namespace lyfs::tool
