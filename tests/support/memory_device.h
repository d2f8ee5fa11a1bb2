// A card image held in memory. Storage is sparse (chunks appear when first
// written), so a 64 GiB card costs only what is written to it.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace lyfs::test {

class MemoryDevice {
public:
    explicit MemoryDevice(std::uint64_t size_bytes) : size_(size_bytes) {}

    std::uint64_t size() const { return size_; }
    // Reads or writes within the device; returns the bytes moved (short at the end).
    std::uint32_t read(std::uint64_t offset, void* out, std::uint32_t bytes) const {
        // Reading adds no chunk, so nothing changes.
        return const_cast<MemoryDevice*>(this)->move(offset, static_cast<std::uint8_t*>(out), bytes,
                                                     false);
    }
    std::uint32_t write(std::uint64_t offset, const void* in, std::uint32_t bytes) {
        return move(offset, static_cast<std::uint8_t*>(const_cast<void*>(in)), bytes, true);
    }

    // A copy of the whole card (chunks and all), for replaying writes on it.
    std::unique_ptr<MemoryDevice> clone() const;
    bool same_bytes(const MemoryDevice& other) const;

    std::vector<std::uint8_t> sector(std::uint32_t lba) const {
        std::vector<std::uint8_t> bytes(512);
        read(std::uint64_t{lba} * 512, bytes.data(), 512);
        return bytes;
    }
    void set_sector(std::uint32_t lba, const std::vector<std::uint8_t>& bytes) {
        write(std::uint64_t{lba} * 512, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    }

    // A card with its write-protect switch on: opened for reading only.
    bool write_protected = false;

private:
    static constexpr std::uint32_t kChunkBytes = 64 * 1024;
    std::uint32_t move(std::uint64_t offset, std::uint8_t* data, std::uint32_t bytes, bool write);
    std::uint64_t size_;
    std::unordered_map<std::uint64_t, std::unique_ptr<std::uint8_t[]>> chunks_;
};

}  // namespace lyfs::test
