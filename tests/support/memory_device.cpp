#include "support/memory_device.h"

#include <algorithm>
#include <cstring>

namespace lyfs::test {

// Moves bytes between `data` and the chunks, chunk by chunk; unwritten
// chunks read as zeros and appear when first written.
std::uint32_t MemoryDevice::move(std::uint64_t offset, std::uint8_t* data, std::uint32_t bytes,
                                 bool write) {
    const auto n =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes, size_ - std::min(offset, size_)));
    for (std::uint32_t done = 0; done < n;) {
        const std::uint64_t at = offset + done;
        const std::uint64_t in_chunk = at % kChunkBytes;
        const auto piece =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(n - done, kChunkBytes - in_chunk));
        const auto it = chunks_.find(at / kChunkBytes);
        std::uint8_t* chunk = it != chunks_.end() ? it->second.get() : nullptr;
        if (chunk == nullptr && write) {
            chunk =
                (chunks_[at / kChunkBytes] = std::make_unique<std::uint8_t[]>(kChunkBytes)).get();
        }
        if (write) {
            std::memcpy(chunk + in_chunk, data + done, piece);
        } else if (chunk) {
            std::memcpy(data + done, chunk + in_chunk, piece);
        } else {
            std::memset(data + done, 0, piece);
        }
        done += piece;
    }
    return n;
}

std::unique_ptr<MemoryDevice> MemoryDevice::clone() const {
    auto copy = std::make_unique<MemoryDevice>(size_);
    for (const auto& [index, chunk] : chunks_) {
        copy->chunks_[index] = std::make_unique<std::uint8_t[]>(kChunkBytes);
        std::memcpy(copy->chunks_[index].get(), chunk.get(), kChunkBytes);
    }
    return copy;
}

bool MemoryDevice::same_bytes(const MemoryDevice& other) const {
    if (size_ != other.size_) {
        return false;
    }
    std::vector<std::uint8_t> mine(kChunkBytes), theirs(kChunkBytes);
    for (const auto* device : {this, &other}) {
        for (const auto& entry : device->chunks_) {
            const std::uint64_t at = entry.first * kChunkBytes;
            read(at, mine.data(), kChunkBytes);
            other.read(at, theirs.data(), kChunkBytes);
            if (mine != theirs) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace lyfs::test
