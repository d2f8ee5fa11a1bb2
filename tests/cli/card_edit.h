// A card image edited in place the way a crash, a failing card or a forger leaves it. Files
// are found by the first five characters of their names, which their long-name entries hold as
// UTF-16: tests give their files five leading characters of their own. Images are sparse and
// only their data is read: reading a whole image is what made these tests slow.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace lyfs::cli_test {

// Calls `visit(offset, bytes)` for each piece of the image's data, in order, skipping holes.
template <typename Visit>
void for_each_data_piece(int fd, Visit visit) {
    constexpr off_t kPiece = 1 << 20;
    const off_t size = ::lseek(fd, 0, SEEK_END);
    std::vector<std::uint8_t> piece;
    for (off_t at = ::lseek(fd, 0, SEEK_DATA); at >= 0 && at < size;
         at = ::lseek(fd, at, SEEK_DATA)) {
        const off_t end = std::min(size, ::lseek(fd, at, SEEK_HOLE));
        for (; at < end; at += static_cast<off_t>(piece.size())) {
            piece.resize(static_cast<std::size_t>(std::min(kPiece, end - at)));
            if (::pread(fd, piece.data(), piece.size(), at) != static_cast<ssize_t>(piece.size())) {
                ADD_FAILURE() << "short read at " << at;
                return;
            }
            visit(at, piece);
        }
    }
}

// What an image holds, as a short text: equal before and after a command when it changed no byte.
inline std::string fingerprint(const std::filesystem::path& image) {
    const int fd = ::open(image.c_str(), O_RDONLY);
    std::string print = std::to_string(std::filesystem::file_size(image));
    for_each_data_piece(fd, [&print](off_t at, const std::vector<std::uint8_t>& bytes) {
        std::uint64_t hash = 0xCBF29CE484222325ull;  // FNV-1a
        for (std::uint8_t b : bytes) {
            hash = (hash ^ b) * 0x100000001B3ull;
        }
        // A piece of zeros where a hole was is a write as much as any other.
        print += " " + std::to_string(at) + ":" + std::to_string(hash);
    });
    ::close(fd);
    return print;
}

class CardEdit {
public:
    explicit CardEdit(const std::filesystem::path& image)
        : image_(image), fd_(::open(image.c_str(), O_RDWR)) {
        EXPECT_GE(fd_, 0) << image;
    }
    ~CardEdit() { ::close(fd_); }
    CardEdit(const CardEdit&) = delete;
    CardEdit& operator=(const CardEdit&) = delete;

    std::vector<std::uint8_t> bytes(off_t at, std::size_t count) const {
        std::vector<std::uint8_t> out(count);
        EXPECT_EQ(::pread(fd_, out.data(), count, at), static_cast<ssize_t>(count));
        return out;
    }
    // The record (128 bytes) whose name starts with `head`; the offset of the match in *at.
    off_t record(const std::string& head, off_t* at = nullptr) const {
        std::vector<std::uint8_t> wide;
        for (char c : head) {
            wide.insert(wide.end(), {static_cast<std::uint8_t>(c), 0});
        }
        off_t found = -1;
        // Records lie inside sectors, so a name never straddles two pieces.
        for_each_data_piece(fd_, [&](off_t offset, const std::vector<std::uint8_t>& piece) {
            const auto it = std::search(piece.begin(), piece.end(), wide.begin(), wide.end());
            if (found < 0 && it != piece.end()) {
                found = offset + (it - piece.begin());
            }
        });
        EXPECT_GE(found, 0) << head;
        if (at != nullptr) {
            *at = found;
        }
        return found / 128 * 128;
    }
    void rename_first_character(const std::string& head, std::uint8_t to) {
        off_t at = 0;
        record(head, &at);
        put(at, {to});
    }
    // One bit of the record's attribute: no reader takes it for a file any more.
    void flip_attribute(const std::string& head) { flip(record(head) + 107, 0x80); }
    // Makes the file one whose writer never closed it; `open_chain` also drops its end mark.
    void unclose(const std::string& head, std::uint32_t clusters, bool open_chain) {
        const off_t r = record(head);
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
        flip(fat_entry(cluster) + 2, 0x40);
    }
    // Marks `count` clusters from `first` as bad, as a card's own repairs do.
    void mark_bad(std::uint32_t first, std::uint32_t count) {
        for (std::uint32_t c = first; c < first + count; ++c) {
            put_le32(fat_entry(c), 0x0FFFFFF7);
        }
    }
    // Folder `k` of the folder record claims `clusters`.
    void set_folder_clusters(std::uint32_t k, std::uint32_t clusters) {
        put_le32((off_t{part_start()} + 1) * 512 + 8 + 4 * k, clusters);
    }
    void truncate(std::uintmax_t bytes) { std::filesystem::resize_file(image_, bytes); }

private:
    void put(off_t at, const std::vector<std::uint8_t>& bytes) {
        EXPECT_EQ(::pwrite(fd_, bytes.data(), bytes.size(), at),
                  static_cast<ssize_t>(bytes.size()));
    }
    void flip(off_t at, std::uint8_t bits) {
        put(at, {static_cast<std::uint8_t>(bytes(at, 1)[0] ^ bits)});
    }
    std::uint32_t le32(off_t at) const {
        const auto b = bytes(at, 4);
        return b[0] | b[1] << 8 | b[2] << 16 | std::uint32_t{b[3]} << 24;
    }
    void put_le32(off_t at, std::uint32_t v) {
        put(at, {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                 static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)});
    }
    std::uint32_t part_start() const { return le32(0x1AE + 8); }
    std::uint32_t start_cluster(off_t r) const {
        const auto b = bytes(r + 116, 8);
        return (std::uint32_t{b[0]} | b[1] << 8) << 16 | (b[6] | b[7] << 8);
    }
    off_t fat_entry(std::uint32_t cluster) const {
        return (off_t{part_start()} + 32) * 512 + off_t{cluster} * 4;
    }

    std::filesystem::path image_;
    int fd_;
};

}  // namespace lyfs::cli_test
