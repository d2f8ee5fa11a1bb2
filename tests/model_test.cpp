// Long random sessions of what recorders and hosts do to a card, on the in-memory platform, with
// every answer of the library predicted by a small model of its own: which files each folder
// holds in which order, with which bytes, how much room is left, which files the reclaim takes
// (by name groups, oldest first) and what a pulled card keeps. After every remount the
// independent checker must find the card clean. A failure names its seed and the shortest
// sequence of steps that still fails. It runs seeds 1 to 10, or 1 to N with LYFS_RANDOM_SEEDS=N.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <optional>
#include <random>
#include <sstream>

#include "support/card_check.h"
#include "support/card_maker.h"
#include "support/library_fixture.h"

namespace lyfs {
namespace {

constexpr std::uint64_t kCluster = 128 * 1024;
constexpr std::uint64_t kPage = 4096;
constexpr std::size_t kGroupPrefix = 15;
constexpr std::uint32_t kFreeEntriesKept = 10;
constexpr std::uint64_t kReserve = 10ull << 20;     // each folder's
constexpr std::uint32_t kEntries = kCluster / 128;  // records of a folder's file-entry area
constexpr const char* kCard = "mem:model";
constexpr std::uint32_t kPieces[] = {511, 4096, 65536, 131072, 200001};

// The bytes a file's writer writes: the same file always gets the same bytes at an offset.
std::uint8_t byte_at(std::uint32_t file, std::uint64_t offset) {
    std::uint64_t x = (file + 1) * 0x9E3779B97F4A7C15ull ^ (offset + 1) * 0xBF58476D1CE4E5B9ull;
    x ^= x >> 29;
    return static_cast<std::uint8_t>(x >> 24 | 1);
}

// One step, of the action kActions[action]; `folder`, `a` and `b` are taken modulo what they
// choose from when it runs, so that any part of a sequence is a sequence too.
struct Step {
    std::uint32_t action;
    std::uint32_t folder;
    std::uint32_t a;
    std::uint32_t b;
};

struct ModelFile {
    enum class State { kWriting, kCommitted, kUnclosed };
    std::string name;
    std::uint32_t serial = 0;  // whose bytes it holds
    State state = State::kWriting;
    std::uint64_t written = 0;  // bytes its writer's calls returned
    std::uint64_t known = 0;    // of them, those certainly on the card
    std::uint64_t size = 0;     // as the library lists it
    std::uint32_t clusters = 0;
    std::uint32_t fd = LYFS_INVALID_FD;
};

struct ModelFolder {
    std::string name;
    std::uint64_t content_clusters = 0;
    std::uint64_t free = 0;
    std::deque<ModelFile> ring;  // oldest first
    std::uint32_t next_clip = 0;
    ModelFile* writer() {
        return !ring.empty() && ring.back().state == ModelFile::State::kWriting ? &ring.back()
                                                                                : nullptr;
    }
};

class Session;

// What a step does to one folder or to the whole card, and how often it comes.
struct Action {
    const char* name;
    int weight;
    void (Session::*on_folder)(ModelFolder&, std::uint32_t a, std::uint32_t b);
    void (Session::*on_card)();
    bool may_log_failure;  // reads do: the end of a chain is logged as one
};

// One run of a sequence on a fresh card; stops at the first answer the model did not expect.
class Session {
public:
    Session(test::TestPlatform& platform, test::LogCapture& log, const test::MemoryDevice& blank)
        : platform_(platform), log_(log) {
        platform_.put_card("model", blank.clone());
        note_deletions();
        mount(false);
        for (const char* name : {"DATA", "PHOTO"}) {
            ModelFolder& f = folders_.emplace_back();
            f.name = name;
            DirInfo info{};
            std::uint64_t total = 0;
            CL_LyFS_Get_Dir_Info(&desc_, name, &info, &total, &f.free);
            f.content_clusters = total / kCluster;
        }
    }
    ~Session() {
        if (mounted_) {
            CL_LyFS_Device_Close(&desc_);
        }
        CL_LyFS_File_Delete_Callback_Register(nullptr);
    }

    std::optional<std::string> run(const std::vector<Step>& steps);

    static const Action kActions[];

private:
    bool expect(bool ok, const std::string& what) {
        if (!ok && !error_) {
            error_ = what;
        }
        return ok;
    }
    std::string path(const ModelFolder& f, const ModelFile& file) const {
        return "/" + f.name + "/" + file.name;
    }

    void note_deletions() {
        test::on_deleted(
            [this](std::uint32_t, const std::string& path) { deleted_.push_back(path); });
    }
    void mount(bool read_only) {
        const int32_t status = read_only ? lyfs_device_open_read_only(kCard, "card", &desc_)
                                         : CL_LyFS_Device_Open(kCard, "card", 0, &desc_);
        mounted_ = expect(status == LYFS_OK, "the card does not mount: " + std::to_string(status));
    }
    // Mounts the card as the unmount left it: writers' files unclosed, all they wrote on it but
    // the last `lost` bytes, the clusters they took in use, and the free space as the FAT counts.
    void mount_after_unmount(std::uint64_t lost, bool read_only = false) {
        for (ModelFolder& f : folders_) {
            std::uint64_t used = 0;
            for (ModelFile& file : f.ring) {
                if (file.state == ModelFile::State::kWriting) {
                    file.state = ModelFile::State::kUnclosed;
                    file.known = std::max(file.known, file.written - std::min(file.written, lost));
                    file.size = 0;
                    // The mount ends the newest file's chain at its start cluster at least.
                    file.clusters = std::max<std::uint32_t>(file.clusters, 1);
                }
                used += file.clusters;
            }
            f.free = (f.content_clusters - used) * kCluster;
        }
        mount(read_only);
    }
    void check_clean() {
        const check::Report report = test::check_memory_card(platform_.card("model"));
        expect(report.clean(), "the checker finds: " + test::problems_of(report));
    }

    // The folder's reclaim before a create and before each piece of a write, as the model
    // sees it; false when it cannot make room (the files it took stay deleted).
    bool reclaim(ModelFolder& f) {
        if (f.free > kReserve && kEntries - f.ring.size() > kFreeEntriesKept) {
            return true;
        }
        std::string group;
        std::uint32_t deleted = 0;
        for (;;) {
            const ModelFile* oldest = f.ring.empty() ? nullptr : &f.ring.front();
            const bool same_group = oldest != nullptr && deleted > 0 &&
                                    oldest->name.compare(0, kGroupPrefix, group) == 0;
            if (!same_group && deleted > 0 && f.free > kReserve) {
                return true;
            }
            if (oldest == nullptr) {
                refused_ = refused_ || f.free <= kReserve;
                return f.free > kReserve;
            }
            if (oldest->state == ModelFile::State::kWriting) {
                refused_ = true;
                return false;
            }
            if (!same_group) {
                group = oldest->name.substr(0, kGroupPrefix);
                deleted = 0;
            }
            expected_deleted_.push_back(path(f, *oldest));
            f.free += oldest->clusters * kCluster;
            f.ring.pop_front();
            ++deleted;
        }
    }
    void expect_deleted() {
        expect(deleted_ == expected_deleted_,
               "reclaimed " + std::to_string(deleted_.size()) + " files, the model " +
                   std::to_string(expected_deleted_.size()) +
                   (deleted_.empty() ? "" : ", the first " + deleted_.front()));
        deleted_.clear();
        expected_deleted_.clear();
    }

    // A step the model expects to succeed logs no failure, unless its action may.
    void step(const Step& s) {
        const Action& action = kActions[s.action];
        const std::size_t errors = log_.count("[ERROR]");
        refused_ = false;
        if (action.on_folder != nullptr) {
            (this->*action.on_folder)(folders_[s.folder % folders_.size()], s.a, s.b);
        } else {
            (this->*action.on_card)();
        }
        expect(refused_ || action.may_log_failure || log_.count("[ERROR]") == errors,
               "logged a failure: " + last_error_line());
    }
    std::string last_error_line() const {
        const auto lines = log_.lines();
        const auto it = std::find_if(lines.rbegin(), lines.rend(),
                                     [](const std::string& l) { return l.starts_with("[ERROR]"); });
        return it == lines.rend() ? "" : *it;
    }

    // Clips of one minute share their first 15 characters: the reclaim takes them together.
    void create(ModelFolder& f, std::uint32_t, std::uint32_t) {
        if (f.writer() != nullptr) {
            return;  // one writer per folder, as on a recorder
        }
        const std::uint32_t clip = f.next_clip++;
        char name[40];
        std::snprintf(name, sizeof name, "20250614_%06u_%c.mp4", 80000 + clip / 2 * 100,
                      clip % 2 == 0 ? 'F' : 'R');
        ModelFile file;
        file.name = name;
        file.serial = serial_++;
        const bool room = reclaim(f);
        file.fd = CL_LyFS_File_Open(&desc_, path(f, file).c_str(), "w", 0, 0, 0);
        expect_deleted();
        if (expect((file.fd != LYFS_INVALID_FD) == room,
                   "create of " + file.name + " gave fd " + std::to_string(file.fd)) &&
            room) {
            f.ring.push_back(file);
        }
    }

    void write(ModelFolder& f, std::uint32_t a, std::uint32_t b) {
        if (f.writer() == nullptr) {
            return;
        }
        const std::uint32_t piece = kPieces[a % std::size(kPieces)];
        // Whole clusters now and then, so that writers often stand where a cluster ends.
        const std::uint64_t length = piece < kPage ? 1 + b % 20'000
                                     : b % 4 == 0  ? (1 + b % 8) * kCluster
                                                   : 1 + b % 1'200'000;
        for (std::uint64_t done = 0; done < length && !error_;) {
            const auto n =
                static_cast<std::uint32_t>(std::min<std::uint64_t>(piece, length - done));
            write_piece(f, *f.writer(), f.writer()->written, n);
            done += n;
        }
    }
    // One call of the export at `at`, no further than the writer's end: the reclaim before each
    // cluster it enters, and a new cluster for each one it starts past the end.
    void write_piece(ModelFolder& f, ModelFile& w, std::uint64_t at, std::uint32_t n) {
        std::vector<std::uint8_t> bytes(n);
        for (std::uint32_t i = 0; i < n; ++i) {
            bytes[i] = byte_at(w.serial, at + i);
        }
        bool ok = true;
        for (std::uint64_t pos = at; pos < at + n;) {
            if (!reclaim(f)) {
                ok = false;
                break;
            }
            if (pos == w.written && pos % kCluster == 0) {
                if (f.free < kCluster) {
                    ok = false;
                    refused_ = true;
                    break;
                }
                f.free -= kCluster;
                ++w.clusters;
            }
            pos += std::min<std::uint64_t>(at + n - pos, kCluster - pos % kCluster);
            w.written = std::max(w.written, pos);
        }
        w.size = w.written;
        const int32_t got = CL_LyFS_File_Write(&desc_, bytes.data(), n, w.fd);
        expect_deleted();
        expect(got == (ok ? static_cast<int32_t>(n) : -1),
               "write of " + std::to_string(n) + " at " + std::to_string(at) + " to " + w.name +
                   " gave " + std::to_string(got));
    }

    // Writes a piece of what a writer wrote again, with the same bytes and at times on past its
    // end, then goes on at its end: a patch in place changes no byte around it.
    void patch(ModelFolder& f, std::uint32_t a, std::uint32_t b) {
        ModelFile* w = f.writer();
        if (w == nullptr || w->written == 0) {
            return;
        }
        const std::uint64_t at = a % w->written;
        expect(CL_LyFS_File_Seek(&desc_, w->fd, LYFS_SEEK_SET, static_cast<std::int32_t>(at)) == at,
               "seek in " + w->name);
        write_piece(f, *w, at, 1 + b % 5000);
        expect(CL_LyFS_File_Seek(&desc_, w->fd, LYFS_SEEK_END, 0) == w->written,
               "seek to the end of " + w->name);
    }

    void close(ModelFolder& f, std::uint32_t, std::uint32_t) {
        ModelFile* w = f.writer();
        if (w == nullptr) {
            return;
        }
        if (w->written == 0) {
            return discard(f);  // a file closed empty is one whose writer never closed it
        }
        expect(CL_LyFS_File_Close(&desc_, w->fd) == LYFS_OK, "close of " + w->name);
        w->state = ModelFile::State::kCommitted;
        w->known = w->size = w->written;
    }

    void discard(ModelFolder& f, std::uint32_t = 0, std::uint32_t = 0) {
        ModelFile* w = f.writer();
        if (w == nullptr) {
            return;
        }
        expect(lyfs_file_discard(&desc_, w->fd) == LYFS_OK, "discard of " + w->name);
        f.free += w->clusters * kCluster;
        f.ring.pop_back();
    }

    void flush(ModelFolder& f, std::uint32_t, std::uint32_t) {
        if (ModelFile* w = f.writer()) {
            expect(lyfs_file_flush(&desc_, w->fd) == LYFS_OK, "flush of " + w->name);
            w->known = w->written;
        }
    }

    // Opens a file that is not being written, checks its size, reads at a random place and
    // compares what the model knows of those bytes.
    void read(ModelFolder& f, std::uint32_t a, std::uint32_t b) {
        std::vector<ModelFile*> closed;
        for (ModelFile& file : f.ring) {
            if (file.state != ModelFile::State::kWriting) {
                closed.push_back(&file);
            }
        }
        if (!closed.empty()) {
            read_file(f, *closed[a % closed.size()], b % 1'000'000, b % 300'000 + 1);
        }
    }
    void read_file(ModelFolder& f, ModelFile& file, std::uint64_t at, std::uint32_t length) {
        const std::uint32_t fd = CL_LyFS_File_Open(&desc_, path(f, file).c_str(), "r", 0, 0, 0);
        if (!expect(fd != LYFS_INVALID_FD, "open of " + file.name)) {
            return;
        }
        // A file whose writer never closed it is given its whole clusters, on the card unless
        // the mount is read-only.
        const std::uint64_t size =
            file.state == ModelFile::State::kUnclosed ? file.clusters * kCluster : file.size;
        if (file.state == ModelFile::State::kUnclosed && !read_only_) {
            file.state = ModelFile::State::kCommitted;
            file.size = size;
        }
        FileInfo info{};
        CL_LyFS_Get_FileInfo(&desc_, fd, &info);
        expect(info.file_size == size, file.name + " opens with " + std::to_string(info.file_size) +
                                           " bytes, not " + std::to_string(size));
        at %= size;
        if (at != 0) {
            expect(
                CL_LyFS_File_Seek(&desc_, fd, LYFS_SEEK_SET, static_cast<std::int32_t>(at)) == at,
                "seek in " + file.name);
        }
        expect_read(fd, file, at, length);
        expect(CL_LyFS_File_Close(&desc_, fd) == LYFS_OK, "close of the reader of " + file.name);
    }
    // Reads `length` bytes through `fd`, which stands at `at`: reads follow the chain to the end
    // of its last cluster, past the size, and give the bytes the model knows as written.
    void expect_read(std::uint32_t fd, const ModelFile& file, std::uint64_t at,
                     std::uint32_t length) {
        std::vector<std::uint8_t> got(length);
        const std::uint64_t expected =
            std::min<std::uint64_t>(length, file.clusters * kCluster - at);
        const int32_t n = CL_LyFS_File_Read(&desc_, got.data(), length, fd);
        expect(n == static_cast<int32_t>(expected), "read of " + std::to_string(length) + " at " +
                                                        std::to_string(at) + " in " + file.name +
                                                        " gave " + std::to_string(n));
        // The message is built only for a byte that differs: reads are most of a session.
        for (std::uint64_t i = 0; i < static_cast<std::uint64_t>(std::max(n, 0)); ++i) {
            if (at + i >= file.known) {
                break;
            }
            if (got[i] != byte_at(file.serial, at + i)) {
                expect(false, file.name + " differs at byte " + std::to_string(at + i));
                break;
            }
        }
    }

    // Reads what a writer wrote through its own fd, which writes out what it held back, then
    // goes on at the end.
    void read_back(ModelFolder& f, std::uint32_t a, std::uint32_t b) {
        ModelFile* w = f.writer();
        if (w == nullptr) {
            return;
        }
        // From its end too: what lies behind it up to its last cluster's end, nothing beyond.
        const bool from_end = a % 4 == 0;
        const std::uint64_t at = w->written == 0 || from_end ? w->written : a % w->written;
        if (from_end) {
            expect(CL_LyFS_File_Seek(&desc_, w->fd, LYFS_SEEK_END, 0) == at, "seek to the end");
        } else if (at != 0) {
            expect(CL_LyFS_File_Seek(&desc_, w->fd, LYFS_SEEK_SET, static_cast<std::int32_t>(at)) ==
                       at,
                   "seek in " + w->name);
        }
        w->known = w->written;
        expect_read(w->fd, *w, at, b % 300'000 + 1);
        CL_LyFS_File_Seek(&desc_, w->fd, LYFS_SEEK_END, 0);
        expect(CL_LyFS_File_Tell(&desc_, w->fd) == static_cast<int32_t>(w->written),
               "the writer of " + w->name + " stands elsewhere than at its end");
    }

    // Each folder's files with their sizes, paged through, and its free space.
    void list() {
        std::vector<std::uint8_t> page(LYFS_FILE_LIST_BYTES(8));
        auto* records = reinterpret_cast<lyfs_file_list*>(page.data());
        for (ModelFolder& f : folders_) {
            std::string listed;
            std::string modelled;
            for (const ModelFile& file : f.ring) {
                modelled += file.name + " " + std::to_string(file.size) + "\n";
            }
            std::uint32_t start = 1;
            for (std::int32_t n = 8; n == 8;) {
                records->count = 8;
                n = CL_LyFS_Get_FileList(&desc_, f.name.c_str(), &start, records, 0);
                for (std::int32_t i = 0; i < n; ++i) {
                    const FileInfo& info = *LYFS_FILE_LIST_RECORD(records, i);
                    listed += std::string(info.name) + " " + std::to_string(info.file_size) + "\n";
                }
            }
            expect(listed == modelled,
                   "/" + f.name + " lists\n" + listed + "the model\n" + modelled);
            DirInfo info{};
            std::uint64_t total = 0;
            std::uint64_t free = 0;
            CL_LyFS_Get_Dir_Info(&desc_, f.name.c_str(), &info, &total, &free);
            expect(free == f.free, "/" + f.name + " has " + std::to_string(free) +
                                       " bytes free, the model " + std::to_string(f.free));
        }
    }

    // The card pulled with its writers open: what they held back is lost.
    void pull() {
        auto pulled = platform_.card("model").clone();
        CL_LyFS_Stop();
        CL_LyFS_Start();
        note_deletions();
        platform_.put_card("model", std::move(pulled));
        mount_after_unmount(kPage);
        check_clean();
        list();
    }

    // A clean unmount writes out what writers held back, and commits nothing.
    void remount() {
        expect(CL_LyFS_Device_Close(&desc_) == LYFS_OK, "device close");
        mount_after_unmount(0);
        check_clean();
        list();
    }

    // A read-only mount of the same card reads everything and writes nothing.
    void look_read_only() {
        expect(CL_LyFS_Device_Close(&desc_) == LYFS_OK, "device close");
        read_only_ = true;
        mount_after_unmount(0, true);
        const std::uint64_t writes = platform_.counters.writes;
        list();
        for (ModelFolder& f : folders_) {
            for (ModelFile& file : f.ring) {
                read_file(f, file, 0, static_cast<std::uint32_t>(file.clusters * kCluster));
            }
        }
        expect(platform_.counters.writes == writes, "the read-only mount wrote to the card");
        read_only_ = false;
        expect(CL_LyFS_Device_Close(&desc_) == LYFS_OK, "device close");
        mount(false);
        check_clean();
    }

    test::TestPlatform& platform_;
    test::LogCapture& log_;
    dev_desc desc_{};
    bool mounted_ = false;
    bool read_only_ = false;
    std::vector<ModelFolder> folders_;
    std::uint32_t serial_ = 0;
    std::vector<std::string> deleted_;
    std::vector<std::string> expected_deleted_;
    std::optional<std::string> error_;
    bool refused_ = false;  // the model expects the step to be refused
};

const Action Session::kActions[] = {
    {"create", 14, &Session::create, nullptr, false},
    {"write", 30, &Session::write, nullptr, false},
    {"close", 12, &Session::close, nullptr, false},
    {"discard", 2, &Session::discard, nullptr, false},
    {"flush", 3, &Session::flush, nullptr, false},
    {"patch", 4, &Session::patch, nullptr, false},
    {"read", 20, &Session::read, nullptr, true},
    {"read back", 4, &Session::read_back, nullptr, true},
    {"list", 6, nullptr, &Session::list, false},
    {"pull", 3, nullptr, &Session::pull, false},
    {"remount", 2, nullptr, &Session::remount, false},
    {"look read-only", 1, nullptr, &Session::look_read_only, true},
};

std::string describe(const Step& s) {
    std::ostringstream out;
    out << Session::kActions[s.action].name << " folder " << s.folder << " " << s.a << " " << s.b;
    return out.str();
}

std::optional<std::string> Session::run(const std::vector<Step>& steps) {
    for (std::size_t i = 0; i < steps.size() && !error_; ++i) {
        step(steps[i]);
        if (error_) {
            return "step " + std::to_string(i) + " (" + describe(steps[i]) + "): " + *error_;
        }
    }
    return error_;
}

std::vector<Step> random_steps(std::uint32_t seed, std::size_t count) {
    std::mt19937 rng(seed);
    const auto next = [&rng] { return static_cast<std::uint32_t>(rng()); };
    int total = 0;
    for (const Action& action : Session::kActions) {
        total += action.weight;
    }
    std::vector<Step> steps;
    for (std::size_t i = 0; i < count; ++i) {
        int pick = static_cast<int>(next() % total);
        std::uint32_t action = 0;
        while ((pick -= Session::kActions[action].weight) >= 0) {
            ++action;
        }
        steps.push_back({action, next() % 2, next(), next()});
    }
    return steps;
}

class ModelTest : public test::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        // DATA 45 % and PHOTO the rest of 32 MiB: each keeps 10 MiB free, so they reclaim
        // after a few MiB of clips.
        test::MemoryDevice& card = platform.add_card("model", 32ull << 20);
        lyfs_folder_table table{};
        table.count = 2;
        table.folders[0] = test::folder_spec("DATA", 45, 100);
        table.folders[1] = test::folder_spec("PHOTO", 0, 100);
        ASSERT_EQ(test::partition_and_format(kCard, table), LYFS_OK);
        blank_ = card.clone();
        restart();
    }

    std::optional<std::string> run(const std::vector<Step>& steps) {
        Session session(platform, log, *blank_);
        return session.run(steps);
    }

    // The shortest sequence found that still fails, removing steps in ever smaller runs.
    std::vector<Step> shrink(std::vector<Step> steps) {
        for (std::size_t run_length = steps.size() / 2; run_length >= 1; run_length /= 2) {
            for (std::size_t at = 0; at + run_length <= steps.size();) {
                std::vector<Step> shorter = steps;
                shorter.erase(shorter.begin() + at, shorter.begin() + at + run_length);
                if (run(shorter)) {
                    steps = std::move(shorter);
                } else {
                    at += run_length;
                }
            }
        }
        return steps;
    }

    std::unique_ptr<test::MemoryDevice> blank_;
};

TEST_F(ModelTest, RandomSessionsAgreeWithTheModel) {
    const char* many = std::getenv("LYFS_RANDOM_SEEDS");
    const auto seeds = static_cast<std::uint32_t>(many != nullptr ? std::atoi(many) : 10);
    for (std::uint32_t seed = 1; seed <= seeds; ++seed) {
        const std::vector<Step> steps = random_steps(seed, 400);
        if (const std::optional<std::string> error = run(steps)) {
            const std::vector<Step> shortest = shrink(steps);
            std::string listing;
            for (const Step& s : shortest) {
                listing += "  " + describe(s) + "\n";
            }
            ADD_FAILURE() << "seed " << seed << ": " << *error << "\nshortest failing sequence ("
                          << shortest.size() << " steps), failing with "
                          << run(shortest).value_or("") << ":\n"
                          << listing;
        }
    }
}

}  // namespace
}  // namespace lyfs
