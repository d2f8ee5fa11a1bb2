// Judges the sectors the library wrote to a corrupt card. Allowed are the
// FAT and the clusters 3 and up of the partition that slot 1 of the card's
// table describes, narrowed to the regions of the folders the mount accepted
// once they are known. Everything else - the table sector, whatever lies
// outside the partition, its boot and FSInfo sectors and their copies, the
// root directory, and the sectors behind the last cluster - must stay as
// it was, whatever the card says. The partition is taken from the card as
// mounted, not from the card before corruption: the library rightly follows
// the table it is given, and a moved partition moves its FAT too.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "card_layout.h"
#include "support/test_platform.h"

namespace lyfs::fuzz {

struct ClusterRun {
    std::uint64_t first;  // cluster number
    std::uint64_t count;
};

class WriteGuard {
public:
    WriteGuard(const std::uint8_t* table, std::uint64_t device_sectors);

    const CardLayout& layout() const { return layout_; }
    // Confines data writes to these folder regions (each within the clusters).
    void restrict_to_folders(const std::vector<ClusterRun>& regions);
    bool allows(std::uint64_t sector) const;
    // The first sector that a write of `log` reached and may not have.
    std::optional<std::uint64_t> first_stray_write(const std::vector<test::IoRecord>& log) const;

private:
    struct Range {
        std::uint64_t first;
        std::uint64_t end;  // one past the last
    };
    CardLayout layout_;
    Range fat_{0, 0};
    std::vector<Range> data_;
};

}  // namespace lyfs::fuzz
