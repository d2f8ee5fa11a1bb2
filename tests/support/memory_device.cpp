#include "support/memory_device.h"

#include <algorithm>
#include <cstring>

namespace lyfs::test {

std::uint32_t MemoryDevice::read(std::uint64_t offset, void* out, std::uint32_t bytes) const {
    if (offset >= size_) {
        return 0;
    }
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes, size_ - offset));
    auto* dst = static_cast<std::uint8_t*>(out);
    for (std::uint32_t done = 0; done < n;) {
        const std::uint64_t at = offset + done;
        const std::uint64_t in_chunk = at % kChunkBytes;
        const auto piece =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(n - done, kChunkBytes - in_chunk));
        auto it = chunks_.find(at / kChunkBytes);
        if (it == chunks_.end()) {
            std::memset(dst + done, 0, piece);
        } else {
            std::memcpy(dst + done, it->second.get() + in_chunk, piece);
        }
        done += piece;
    }
    return n;
}

std::uint32_t MemoryDevice::write(std::uint64_t offset, const void* in, std::uint32_t bytes) {
    if (offset >= size_) {
        return 0;
    }
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes, size_ - offset));
    const auto* src = static_cast<const std::uint8_t*>(in);
    for (std::uint32_t done = 0; done < n;) {
        const std::uint64_t at = offset + done;
        const std::uint64_t in_chunk = at % kChunkBytes;
        const auto piece =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(n - done, kChunkBytes - in_chunk));
        auto& chunk = chunks_[at / kChunkBytes];
        if (!chunk) {
            chunk = std::make_unique<std::uint8_t[]>(kChunkBytes);  // value-initialised: zero
        }
        std::memcpy(chunk.get() + in_chunk, src + done, piece);
        done += piece;
    }
    return n;
}

std::unique_ptr<MemoryDevice> MemoryDevice::clone() const {
    auto copy = std::make_unique<MemoryDevice>(size_);
    for (const auto& [index, chunk] : chunks_) {
        auto bytes = std::make_unique<std::uint8_t[]>(kChunkBytes);
        std::memcpy(bytes.get(), chunk.get(), kChunkBytes);
        copy->chunks_.emplace(index, std::move(bytes));
    }
    return copy;
}

bool MemoryDevice::same_bytes(const MemoryDevice& other) const {
    if (size_ != other.size_) {
        return false;
    }
    static const std::uint8_t kZeros[kChunkBytes] = {};
    auto chunk_of = [](const MemoryDevice& d, std::uint64_t index) -> const std::uint8_t* {
        auto it = d.chunks_.find(index);
        return it == d.chunks_.end() ? kZeros : it->second.get();
    };
    for (const auto* device : {this, &other}) {
        for (const auto& entry : device->chunks_) {
            if (std::memcmp(chunk_of(*this, entry.first), chunk_of(other, entry.first),
                            kChunkBytes) != 0) {
                return false;
            }
        }
    }
    return true;
}

std::vector<std::uint8_t> MemoryDevice::sector(std::uint32_t lba) const {
    std::vector<std::uint8_t> bytes(512);
    read(static_cast<std::uint64_t>(lba) * 512, bytes.data(), 512);
    return bytes;
}

void MemoryDevice::set_sector(std::uint32_t lba, const std::vector<std::uint8_t>& bytes) {
    write(static_cast<std::uint64_t>(lba) * 512, bytes.data(),
          static_cast<std::uint32_t>(bytes.size()));
}

}  // namespace lyfs::test
