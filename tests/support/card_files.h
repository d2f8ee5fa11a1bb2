// Places files on a formatted in-memory card by writing their records and
// FAT chains straight onto it, the way a recorder leaves them, so that tests
// can mount cards in any state.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "entry/file_entry.h"
#include "layout/layout.h"
#include "support/card_bytes.h"
#include "support/memory_device.h"

namespace lyfs::test {

class CardFiles {
public:
    struct Folder {
        std::uint32_t start_cluster;
        std::uint32_t clusters;
        std::uint32_t max_files;
        std::uint32_t fe_clusters;
        std::uint32_t content_start;  // first content cluster
    };

    explicit CardFiles(MemoryDevice& card) : card_(card) {
        const auto table = card.sector(0);
        spc_ = le32(table, 0x19E) == 1025 ? 1025 : 256;
        part_start_ = le32(table, 0x1AE + 8);
        const Geometry g = compute_geometry(le32(table, 0x1AE + 12), spc_);
        data_start_ = g.data_start;
        const auto record = rel(1);
        const auto root = rel(data_start_);
        const std::uint32_t n = le32(record, 4);
        for (std::uint32_t k = 0; k < n && root[32 * k] != 0; ++k) {
            std::string name(reinterpret_cast<const char*>(&root[32 * k]), 8);
            name.erase(name.find_last_not_of(' ') + 1);
            Folder f{};
            f.start_cluster = (le16(root, 32 * k + 20) << 16) | le16(root, 32 * k + 26);
            f.clusters = le32(record, 8 + 4 * k);
            f.max_files = le32(record, 8 + 4 * (n + k));
            f.fe_clusters = ((f.max_files + 3) / 4 + spc_ - 1) / spc_;
            f.content_start = f.start_cluster + f.fe_clusters;
            folders_[name] = f;
        }
    }

    const Folder& folder(const std::string& name) const { return folders_.at(name); }
    std::uint32_t cluster_bytes() const { return spc_ * 512; }

    // Writes a file's record into `slot` with `size` and links `clusters`,
    // the last one ending in `end` (0 leaves the chain unterminated).
    void place(const std::string& folder_name, std::uint32_t slot, const std::string& name,
               std::uint32_t size, const std::vector<std::uint32_t>& clusters,
               std::uint32_t end = 0x0FFFFFF8) {
        std::vector<std::uint8_t> record(128);
        ASSERT_EQ(setup_file_entry(record.data(), name.c_str(), clusters.empty() ? 0 : clusters[0]),
                  0);
        put_le32(record, 124, size);
        put_record(folder(folder_name), slot, record.data());
        for (std::size_t i = 0; i < clusters.size(); ++i) {
            set_fat(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : end);
        }
    }
    // Places a file of `n` consecutive content clusters from content index `first`.
    void place_run(const std::string& folder_name, std::uint32_t slot, const std::string& name,
                   std::uint32_t size, std::uint32_t first, std::uint32_t n) {
        std::vector<std::uint32_t> clusters;
        for (std::uint32_t i = 0; i < n; ++i) {
            clusters.push_back(folder(folder_name).content_start + first + i);
        }
        place(folder_name, slot, name, size, clusters);
    }
    // Writes raw record bytes into a slot.
    void put_record(const Folder& f, std::uint32_t slot, const std::uint8_t* record) {
        auto bytes = rel(slot_sector(f, slot));
        std::memcpy(bytes.data() + 128 * (slot % 4), record, 128);
        set_rel(slot_sector(f, slot), bytes);
    }
    std::vector<std::uint8_t> slot_bytes(const std::string& folder_name, std::uint32_t slot) {
        const auto bytes = rel(slot_sector(folder(folder_name), slot));
        return {bytes.begin() + 128 * (slot % 4), bytes.begin() + 128 * (slot % 4 + 1)};
    }
    std::uint32_t fat(std::uint32_t cluster) {
        return le32(rel(32 + cluster / 128), 4 * (cluster % 128));
    }
    void set_fat(std::uint32_t cluster, std::uint32_t value) {
        auto bytes = rel(32 + cluster / 128);
        put_le32(bytes, 4 * (cluster % 128), value);
        card_.set_sector(part_start_ + 32 + cluster / 128, bytes);
    }
    std::vector<std::uint8_t> rel(std::uint32_t sector) {
        return card_.sector(part_start_ + sector);
    }
    void set_rel(std::uint32_t sector, const std::vector<std::uint8_t>& bytes) {
        card_.set_sector(part_start_ + sector, bytes);
    }
    std::uint32_t data_start() const { return data_start_; }

private:
    // The sector, from the partition's start, of the record in `slot` of the folder.
    std::uint32_t slot_sector(const Folder& f, std::uint32_t slot) const {
        return data_start_ + (f.start_cluster - 2) * spc_ + slot / 4;
    }

    MemoryDevice& card_;
    std::uint32_t spc_ = 256;
    std::uint32_t part_start_ = 0;
    std::uint32_t data_start_ = 0;
    std::map<std::string, Folder> folders_;
};

}  // namespace lyfs::test
