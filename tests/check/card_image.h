// Builds small card images by hand, byte by byte from the layout, so that the checker is
// tested against the layout and not against code it shares something with.
#pragma once

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "card_checker.h"

namespace lyfs::check::test {

// Writes the low `bytes` bytes of `v`, little-endian.
inline void put_le(std::uint8_t* p, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

struct FolderSpec {
    std::string name;
    std::uint32_t cluster_count;
    std::uint32_t max_file_num;
};

inline constexpr std::uint32_t kEnd = 0x0FFFFFF8;

// A freshly formatted card: slot 0 a FAT32 partition at LBA 32, slot 1 behind it up to the
// device's end, its folders' regions placed one behind the other from cluster 3. Sectors
// never written read as zeros.
class CardBuilder : public SectorReader {
public:
    static constexpr std::uint64_t kFirstLba = 2048;

    CardBuilder(std::uint32_t partition_sectors, std::uint32_t sectors_per_cluster,
                std::vector<FolderSpec> folders)
        : n_(partition_sectors), s_(sectors_per_cluster), folders_(std::move(folders)) {
        f_ = (n_ - 32 + 127 * s_) / (128 * s_ + 2);
        const std::uint32_t clusters = std::min(128 * f_, (n_ - 32 - f_) / s_);
        // The partition table.
        put_fields(0, {0x19E,      s_,   4, 0x1BE + 4,  0x0C,           1,
                       0x1BE + 8,  32,   4, 0x1BE + 12, kFirstLba - 32, 4,
                       0x1AE + 4,  0x52, 1, 0x1AE + 8,  kFirstLba,      4,
                       0x1AE + 12, n_,   4, 0x1FE,      0xAA55,         2});
        // The boot sector and its copy.
        for (std::uint64_t lba : {relative(0), relative(6)}) {
            put_text(lba, 0, "\xEB\x00\x90RAVEN-FS");
            put_text(lba, 0x47, "RVFS VOLUMERVFS    ");
            put_fields(lba, {0x0B, 512,  2, 0x0D, s_, 1, 0x0E, 32,   2, 0x10,  1,      1,
                             0x15, 0xF8, 1, 0x20, n_, 4, 0x24, f_,   4, 0x2C,  2,      4,
                             0x30, 1,    2, 0x32, 6,  2, 0x42, 0x29, 1, 0x1FE, 0xAA55, 2});
        }
        // The FSInfo sector, which records the folders.
        const std::uint64_t fsinfo = relative(1);
        const auto n = static_cast<std::uint32_t>(folders_.size());
        put_fields(fsinfo, {0, 0x41615252, 4, 4, n, 4, 0x1E4, 0x61417272, 4, 0x1E8, clusters, 4,
                            0x1EC, 2, 4, 0x1FC, 0xAA550000, 4});
        for (std::uint32_t k = 0; k < n; ++k) {
            put(fsinfo, 8 + 4 * k, folders_[k].cluster_count);
            put(fsinfo, 8 + 4 * (n + k), folders_[k].max_file_num);
        }
        // The root directory, one entry per folder, and the FAT.
        put_fields(relative(32), {0, 0x0FFFFFF8, 4, 4, 0xFFFFFFFF, 4, 8, 0x0FFFFFFF, 4});
        const std::uint64_t root = cluster_lba(2);
        for (std::uint32_t k = 0; k < n; ++k) {
            const std::uint32_t at = 32 * k;
            const std::uint32_t start = folder_start(k);
            put_text(root, at, (folders_[k].name + "        ").substr(0, 8) + "   ");
            put_fields(root, {at + 11, 0x10, 1, at + 20, start >> 16, 2, at + 26, start, 2});
            const std::uint32_t fe = ((folders_[k].max_file_num + 3) / 4 + s_ - 1) / s_;
            for (std::uint32_t i = 0; i < fe; ++i) {
                set_fat(start + i, i + 1 < fe ? start + i + 1 : kEnd);
            }
        }
    }

    bool read(std::uint32_t lba, std::uint8_t* out512) override {
        const auto it = sectors.find(lba);
        std::fill_n(out512, 512, 0);
        if (it != sectors.end()) {
            std::copy(it->second.begin(), it->second.end(), out512);
        }
        return lba < kFirstLba + n_;
    }
    std::uint64_t sector_count() const override { return kFirstLba + n_; }
    std::uint8_t* sector(std::uint64_t lba) { return sectors[lba].data(); }
    void put(std::uint64_t lba, std::size_t at, std::uint32_t v, int bytes = 4) {
        put_le(sector(lba) + at, v, bytes);
    }
    void put_text(std::uint64_t lba, std::size_t at, const std::string& text) {
        std::copy(text.begin(), text.end(), sector(lba) + at);
    }

    std::uint32_t cluster_bytes() const { return s_ * 512; }
    std::uint32_t folder_start(std::size_t k) const {
        std::uint32_t start = 3;
        for (std::size_t i = 0; i < k; ++i) {
            start += folders_[i].cluster_count;
        }
        return start;
    }

    std::uint64_t relative(std::uint64_t sector) const { return kFirstLba + sector; }
    std::uint64_t cluster_lba(std::uint32_t cluster) const {
        return relative(32 + f_ + std::uint64_t{cluster - 2} * s_);
    }

    void set_fat(std::uint32_t cluster, std::uint32_t value) {
        put(relative(32 + cluster / 128), 4 * (cluster % 128), value);
    }

    // The record of a file in a slot of a folder's file-entry area.
    std::uint8_t* record(std::size_t folder, std::uint32_t slot) {
        return sector(cluster_lba(folder_start(folder)) + slot / 4) + 128 * (slot % 4);
    }

    // Writes a file's record and links its chain; the last cluster gets `end`.
    void add_file(std::size_t folder, std::uint32_t slot, const std::string& name,
                  std::uint32_t size, const std::vector<std::uint32_t>& chain,
                  std::uint32_t end = kEnd) {
        for (std::size_t i = 0; i < chain.size(); ++i) {
            set_fat(chain[i], i + 1 < chain.size() ? chain[i + 1] : end);
        }
        std::uint8_t* r = record(folder, slot);
        std::fill_n(r, 128, 0);
        std::uint8_t* shortent = r + 96;
        for (std::size_t i = 0; i < 8; ++i) {
            shortent[i] = static_cast<std::uint8_t>(i < 6 ? std::toupper(name[i]) : "~1"[i - 6]);
        }
        const auto dot = name.rfind('.');
        for (std::size_t i = 0; i < 3; ++i) {
            const std::size_t at = dot + 1 + i;
            shortent[8 + i] =
                dot == std::string::npos ? ' ' : (at < name.size() ? std::toupper(name[at]) : 0);
        }
        shortent[11] = 0x20;
        put_le(shortent + 20, chain.front() >> 16, 2);
        put_le(shortent + 26, chain.front(), 2);
        put_le(shortent + 28, size, 4);

        std::uint8_t checksum = 0;
        for (std::size_t i = 0; i < 11; ++i) {
            checksum =
                static_cast<std::uint8_t>(((checksum & 1) << 7) + (checksum >> 1) + shortent[i]);
        }
        const std::size_t entries = (name.size() + 12) / 13;
        constexpr std::size_t kEntryAt[] = {64, 32, 0};
        constexpr std::size_t kUnitAt[] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
        for (std::size_t s = 0; s < 3; ++s) {
            std::uint8_t* e = r + kEntryAt[s];
            if (s >= entries) {
                std::copy_n(shortent, 32, e);
                e[0] = 0xE5;
                continue;
            }
            e[0] = static_cast<std::uint8_t>((s + 1) | (s + 1 == entries ? 0x40 : 0));
            e[11] = 0x0F;
            e[13] = checksum;
            for (std::size_t u = 0; u < 13; ++u) {
                const std::size_t c = 13 * s + u;
                const std::uint16_t unit = c < name.size() ? static_cast<std::uint8_t>(name[c])
                                                           : (c == name.size() ? 0x0000 : 0xFFFF);
                put_le(e + kUnitAt[u], unit, 2);
            }
        }
    }

private:
    // Fields as offset, value, bytes.
    void put_fields(std::uint64_t lba, const std::vector<std::uint32_t>& fields) {
        for (std::size_t i = 0; i < fields.size(); i += 3) {
            put(lba, fields[i], fields[i + 1], static_cast<int>(fields[i + 2]));
        }
    }

    std::uint32_t n_;
    std::uint32_t s_;
    std::uint32_t f_ = 0;
    std::vector<FolderSpec> folders_;

public:
    // What was written, by sector.
    std::map<std::uint64_t, std::array<std::uint8_t, 512>> sectors;
};

}  // namespace lyfs::check::test
