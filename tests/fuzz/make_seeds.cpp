// Writes the seed corpora from the base card: for the mount target, one
// input per kind of patchable sector that restates the sectors' bytes
// unchanged (and an empty input, the card as it is, and one with a record no
// reader can decode at the head of a ring); for the entry target,
// each file record of the card followed by its name.
//   lyfs_fuzz_seeds CORPUS_DIR   (writes CORPUS_DIR/mount and CORPUS_DIR/entry)
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "base_card.h"
#include "entry/file_entry.h"
#include "mount_input.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

void write_seed(const fs::path& file, const Bytes& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// Records that restate the sector's non-zero bytes in pieces, each cut to
// where its bytes are not zero, so mutations fall on bytes that mean something.
void restate(std::uint8_t index, const Bytes& sector, Bytes* seed) {
    const auto non_zero = [](std::uint8_t b) { return b != 0; };
    for (auto at = sector.begin();;) {
        const auto first = std::find_if(at, sector.end(), non_zero);
        if (first == sector.end()) {
            return;
        }
        const auto window_end = sector.end() - first > 255 ? first + 255 : sector.end();
        at = std::find_if(std::make_reverse_iterator(window_end), std::make_reverse_iterator(first),
                          non_zero)
                 .base();
        const Bytes record = lyfs::fuzz::encode_patch(
            index, static_cast<std::uint16_t>(first - sector.begin()), Bytes(first, at));
        seed->insert(seed->end(), record.begin(), record.end());
    }
}

void entry_seeds(const Bytes& sector, const fs::path& dir) {
    for (std::size_t slot = 0; slot < 4; ++slot) {
        const Bytes record(sector.begin() + 128 * slot, sector.begin() + 128 * (slot + 1));
        char name[lyfs::kFileNameBytes];
        std::uint8_t attribute = 0;
        std::uint32_t cluster = 0;
        std::uint32_t size = 0;
        if (!lyfs::file_entry_in_use(record.data()) ||
            lyfs::extract_file_entry(record.data(), name, &attribute, &cluster, &size) != 0) {
            continue;
        }
        Bytes seed = record;
        seed.insert(seed.end(), name, name + std::strlen(name));
        write_seed(dir / name, seed);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
        return 2;
    }
    const lyfs::fuzz::BaseCard& base = lyfs::fuzz::BaseCard::get();
    const fs::path mount_dir = fs::path(argv[1]) / "mount";
    const fs::path entry_dir = fs::path(argv[1]) / "entry";
    fs::create_directories(mount_dir);
    fs::create_directories(entry_dir);

    std::map<std::string, Bytes> seeds{{"unchanged", {}}};
    const auto& sectors = base.patchable();
    for (std::size_t i = 0; i < sectors.size(); ++i) {
        const Bytes bytes = base.sector(sectors[i].lba);
        restate(static_cast<std::uint8_t>(i), bytes, &seeds[sectors[i].what]);
        if (sectors[i].what == "entries") {
            entry_seeds(bytes, entry_dir);
        }
    }
    // One flipped bit in the attribute of the first record of DATA, the head of
    // its ring: the mount goes on without that record, and a write into DATA
    // reclaims up to it.
    const auto first_entries = std::find_if(sectors.begin(), sectors.end(),
                                            [](const auto& s) { return s.what == "entries"; });
    seeds["unreadable_record"] = lyfs::fuzz::encode_patch(
        static_cast<std::uint8_t>(first_entries - sectors.begin()), 96 + 11, {0x20 ^ 0x80});
    for (const auto& [what, seed] : seeds) {
        write_seed(mount_dir / what, seed);
    }
    return 0;
}
