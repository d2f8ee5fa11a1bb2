// Writes the mount target's seed corpus from the base card: one input per
// kind of patchable sector that restates the sectors' bytes unchanged, an
// empty input (the card as it is), one that names the new files, and one
// with a record no reader can decode at the head of a ring.
//   lyfs_fuzz_seeds CORPUS_DIR
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "base_card.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The input record of `selector` and `value` that carries `bytes` (at most 255).
void append_record(std::uint8_t selector, std::uint16_t value, const Bytes& bytes, Bytes* seed) {
    const std::uint8_t head[] = {selector, static_cast<std::uint8_t>(value),
                                 static_cast<std::uint8_t>(value >> 8),
                                 static_cast<std::uint8_t>(bytes.size())};
    seed->insert(seed->end(), std::begin(head), std::end(head));
    seed->insert(seed->end(), bytes.begin(), bytes.end());
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
        append_record(index, static_cast<std::uint16_t>(first - sector.begin()), Bytes(first, at),
                      seed);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
        return 2;
    }
    const lyfs::fuzz::BaseCard& base = lyfs::fuzz::BaseCard::get();
    const std::filesystem::path dir = std::filesystem::path(argv[1]) / "mount";
    std::filesystem::create_directories(dir);

    std::map<std::string, Bytes> seeds{{"unchanged", {}}};
    const auto& sectors = base.patchable();
    for (std::size_t i = 0; i < sectors.size(); ++i) {
        restate(static_cast<std::uint8_t>(i), base.sector(sectors[i].lba), &seeds[sectors[i].what]);
    }
    const std::string name = "clip_0001_new.mp4";
    append_record(0xF4, 0, Bytes(name.begin(), name.end()), &seeds["new_file_name"]);
    // One flipped bit in the attribute of the first record of DATA, the head of
    // its ring: the mount goes on without that record, and a write into DATA
    // reclaims up to it.
    const auto first_entries = std::find_if(sectors.begin(), sectors.end(),
                                            [](const auto& s) { return s.what == "entries"; });
    append_record(static_cast<std::uint8_t>(first_entries - sectors.begin()), 96 + 11,
                  {0x20 ^ 0x80}, &seeds["unreadable_record"]);
    for (const auto& [what, seed] : seeds) {
        std::ofstream(dir / what, std::ios::binary)
            .write(reinterpret_cast<const char*>(seed.data()),
                   static_cast<std::streamsize>(seed.size()));
    }
    return 0;
}
