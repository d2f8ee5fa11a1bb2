// A card image edited in memory the way a crash, a failing card or a forger leaves it. Files
// are found by the first five characters of their names, which their long-name entries hold as
// UTF-16: tests give their files five leading characters of their own.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace lyfs::cli_test {

class CardEdit {
public:
    explicit CardEdit(std::vector<std::uint8_t> image) : image_(std::move(image)) {}
    const std::vector<std::uint8_t>& image() const { return image_; }

    // The record (128 bytes) whose name starts with `head`; the offset of the match in *at.
    std::size_t record(const std::string& head, std::size_t* at = nullptr) const {
        std::vector<std::uint8_t> wide;
        for (char c : head) {
            wide.insert(wide.end(), {static_cast<std::uint8_t>(c), 0});
        }
        const auto it = std::search(image_.begin(), image_.end(), wide.begin(), wide.end());
        EXPECT_NE(it, image_.end()) << head;
        const auto offset = static_cast<std::size_t>(it - image_.begin());
        if (at != nullptr) {
            *at = offset;
        }
        return offset / 128 * 128;
    }
    void rename_first_character(const std::string& head, std::uint8_t to) {
        std::size_t at = 0;
        record(head, &at);
        image_[at] = to;
    }
    // One bit of the record's attribute: no reader takes it for a file any more.
    void flip_attribute(const std::string& head) { image_[record(head) + 107] ^= 0x80; }
    // Makes the file one whose writer never closed it; `open_chain` also drops its end mark.
    void unclose(const std::string& head, std::uint32_t clusters, bool open_chain) {
        const std::size_t r = record(head);
        put_le32(r + 124, 0);
        if (open_chain) {
            put_le32(fat_entry(start_cluster(r) + clusters - 1), 0);
        }
    }
    void damage_chain(const std::string& head) {
        put_le32(fat_entry(start_cluster(record(head))), 0x0FFFFFF7);
    }
    // One bit of the link from the file's cluster `index` (0 the first) to the next.
    void flip_link_bit(const std::string& head, std::uint32_t index) {
        std::uint32_t cluster = start_cluster(record(head));
        for (std::uint32_t k = 0; k < index; ++k) {
            cluster = le32(fat_entry(cluster));
        }
        image_[fat_entry(cluster) + 2] ^= 0x40;
    }
    // Marks `count` clusters from `first` as bad, as a card's own repairs do.
    void mark_bad(std::uint32_t first, std::uint32_t count) {
        for (std::uint32_t c = first; c < first + count; ++c) {
            put_le32(fat_entry(c), 0x0FFFFFF7);
        }
    }
    // Folder `k` of the folder record claims `clusters`.
    void set_folder_clusters(std::uint32_t k, std::uint32_t clusters) {
        put_le32((std::size_t{part_start()} + 1) * 512 + 8 + 4 * k, clusters);
    }
    void truncate(std::size_t bytes) { image_.resize(bytes); }

private:
    std::uint32_t le32(std::size_t at) const {
        std::uint32_t v = 0;
        std::memcpy(&v, image_.data() + at, 4);
        return v;
    }
    void put_le32(std::size_t at, std::uint32_t v) { std::memcpy(image_.data() + at, &v, 4); }
    std::uint32_t part_start() const { return le32(0x1AE + 8); }
    std::uint32_t start_cluster(std::size_t r) const {
        return (std::uint32_t{image_[r + 116]} | image_[r + 117] << 8) << 16 |
               (image_[r + 122] | image_[r + 123] << 8);
    }
    std::size_t fat_entry(std::uint32_t cluster) const {
        return (std::size_t{part_start()} + 32) * 512 + std::size_t{cluster} * 4;
    }

    std::vector<std::uint8_t> image_;
};

}  // namespace lyfs::cli_test
