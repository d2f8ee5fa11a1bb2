#include "device/kept_writes.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "core/list.h"
#include "core/log.h"
#include "device/sector_io.h"
#include "lyfs/lyfs.h"
#include "platform/memory.h"
#include "platform/mutex.h"

namespace lyfs {

struct KeptSector {
    std::uint32_t sector;
    std::uint8_t bytes[kSectorBytes];
};

struct KeptWrites {
    platform::DeviceHandle device;
    KeptSector* sectors;  // in sector order
    std::uint32_t count;
    std::uint32_t capacity;
    KeptWrites* prev;
    KeptWrites* next;
};

namespace {

struct Registry {
    platform::Mutex mutex;
    KeptWrites* list = nullptr;
    // Lets the transfers of ordinary mounts skip the lock.
    std::atomic<std::uint32_t> stores{0};
};

Registry& registry() {
    static Registry r;
    return r;
}

KeptSector* lower_bound(KeptWrites* kept, std::uint32_t sector) {
    return std::lower_bound(kept->sectors, kept->sectors + kept->count, sector,
                            [](const KeptSector& s, std::uint32_t x) { return s.sector < x; });
}

bool grow(KeptWrites* kept) {
    const std::uint32_t capacity = std::max<std::uint32_t>(16, kept->capacity * 2);
    auto* sectors = static_cast<KeptSector*>(
        platform::allocate_zeroed(static_cast<std::size_t>(capacity) * sizeof(KeptSector)));
    if (sectors == nullptr) {
        return false;
    }
    if (kept->count != 0) {
        std::memcpy(sectors, kept->sectors, kept->count * sizeof(KeptSector));
    }
    platform::release(kept->sectors);
    kept->sectors = sectors;
    kept->capacity = capacity;
    return true;
}

// Copies `n` bytes between `at` bytes into the parts and `bytes`.
template <typename Part, typename Copy>
void across_parts(const Part* parts, std::uint32_t count, std::uint64_t at, std::uint32_t n,
                  Copy copy) {
    std::uint32_t done = 0;
    for (std::uint32_t i = 0; i < count && done < n; ++i) {
        if (at >= parts[i].bytes) {
            at -= parts[i].bytes;
            continue;
        }
        const auto take =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(parts[i].bytes - at, n - done));
        copy(
            static_cast<std::uint8_t*>(const_cast<void*>(static_cast<const void*>(parts[i].data))) +
                at,
            done, take);
        done += take;
        at = 0;
    }
}

template <typename Part>
std::uint32_t sectors_in(const Part* parts, std::uint32_t count) {
    std::uint64_t bytes = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        bytes += parts[i].bytes;
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes / kSectorBytes, 0xFFFFFFFFu));
}

}  // namespace

int32_t keep_writes_in_memory(platform::DeviceHandle device) {
    Registry& r = registry();
    platform::MutexGuard guard(&r.mutex);
    if (list_find(r.list, [&](KeptWrites* k) { return k->device == device; }) != nullptr) {
        return LYFS_OK;
    }
    auto* kept = platform::allocate_record<KeptWrites>();
    if (kept == nullptr) {
        log_error("[ERROR]keep_writes_in_memory, malloc for the kept writes failed\n");
        return LYFS_ERR_NO_MEMORY;
    }
    kept->device = device;
    list_append(r.list, kept);
    r.stores.fetch_add(1, std::memory_order_release);
    return LYFS_OK;
}

void drop_kept_writes(platform::DeviceHandle device) {
    Registry& r = registry();
    platform::MutexGuard guard(&r.mutex);
    KeptWrites* kept = list_find(r.list, [&](KeptWrites* k) { return k->device == device; });
    if (kept == nullptr) {
        return;
    }
    list_remove(r.list, kept);
    r.stores.fetch_sub(1, std::memory_order_release);
    platform::release(kept->sectors);
    platform::release(kept);
}

KeptWrites* kept_writes_of(platform::DeviceHandle device) {
    Registry& r = registry();
    if (r.stores.load(std::memory_order_acquire) == 0) {
        return nullptr;
    }
    platform::MutexGuard guard(&r.mutex);
    return list_find(r.list, [&](KeptWrites* k) { return k->device == device; });
}

int32_t keep_sectors(KeptWrites* kept, const platform::ConstIoPart* parts, std::uint32_t count,
                     std::uint32_t first_sector) {
    platform::MutexGuard guard(&registry().mutex);
    const std::uint32_t n = sectors_in(parts, count);
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t sector = first_sector + i;
        KeptSector* slot = lower_bound(kept, sector);
        if (slot == kept->sectors + kept->count || slot->sector != sector) {
            const auto index = static_cast<std::uint32_t>(slot - kept->sectors);
            if (kept->count == kept->capacity && !grow(kept)) {
                log_error("[ERROR]keep_sectors, malloc for a kept sector failed, sector:%d\n",
                          sector);
                return LYFS_ERR_NO_MEMORY;
            }
            slot = kept->sectors + index;
            std::memmove(slot + 1, slot, (kept->count - index) * sizeof(KeptSector));
            ++kept->count;
            slot->sector = sector;
        }
        across_parts(parts, count, std::uint64_t{i} * kSectorBytes, kSectorBytes,
                     [&](std::uint8_t* data, std::uint32_t done, std::uint32_t take) {
                         std::memcpy(slot->bytes + done, data, take);
                     });
    }
    return LYFS_OK;
}

void overlay_kept_sectors(KeptWrites* kept, const platform::IoPart* parts, std::uint32_t count,
                          std::uint32_t first_sector) {
    platform::MutexGuard guard(&registry().mutex);
    const std::uint64_t end = std::uint64_t{first_sector} + sectors_in(parts, count);
    for (KeptSector* s = lower_bound(kept, first_sector);
         s != kept->sectors + kept->count && s->sector < end; ++s) {
        across_parts(parts, count, std::uint64_t{s->sector - first_sector} * kSectorBytes,
                     kSectorBytes, [&](std::uint8_t* data, std::uint32_t done, std::uint32_t take) {
                         std::memcpy(data, s->bytes + done, take);
                     });
    }
}

}  // namespace lyfs
