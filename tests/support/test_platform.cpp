#include "support/test_platform.h"

#include <cassert>
#include <cstring>

namespace lyfs::test {

struct TestPlatform::Open {
    MemoryDevice* memory = nullptr;         // an in-memory card, or
    platform::DeviceHandle real = nullptr;  // a real file through the native platform
    bool read_only = false;
    // The advisory lock this open holds on an in-memory card, as flock
    // keeps it per open: opens of one card conflict as two processes would.
    platform::DeviceLock lock = platform::DeviceLock::kNone;
};

namespace {

TestPlatform* g_current = nullptr;
const platform::PlatformTable& (*const native)() = platform::native_table;

}  // namespace

platform::IoResult TestPlatform::transfer(IoOp op, platform::DeviceHandle h, void* data,
                                          std::uint32_t bytes, std::uint64_t offset) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    Open* open = static_cast<Open*>(h);
    assert(open_.count(open) != 0 && "a transfer on a device that is not open");
    platform::IoResult result;
    if (op == IoOp::kWrite && open->read_only && open->memory != nullptr) {
        ++counters.refused_writes;
        result.last_error = platform::kErrorWriteProtect;
        return result;
    }
    if (armed_ && op == fault_.op) {
        ++seen_since_armed_;
        if (seen_since_armed_ == fault_.nth ||
            (fault_.for_good && seen_since_armed_ > fault_.nth)) {
            fault_fired_ = true;
            if (fault_.kind != Fault::Kind::kShort) {
                result.outcome = fault_.kind == Fault::Kind::kSeek
                                     ? platform::IoOutcome::kSeekFailed
                                     : platform::IoOutcome::kFailed;
                result.last_error = fault_.last_error;
                return result;
            }
            bytes /= 2;  // half of it arrives, then the device stops answering
        }
    }
    log.push_back({op, offset, bytes});
    const bool read = op == IoOp::kRead;
    if (open->real != nullptr) {
        result = read ? native().read_at(open->real, data, bytes, offset)
                      : native().write_at(open->real, data, bytes, offset);
    } else {
        result.outcome = platform::IoOutcome::kDone;
        result.transferred = read ? open->memory->read(offset, data, bytes)
                                  : open->memory->write(offset, data, bytes);
        if (!read && journal_writes) {
            const auto* p = static_cast<const std::uint8_t*>(data);
            journal.push_back({offset, {p, p + result.transferred}});
        }
    }
    ++(read ? counters.reads : counters.writes);
    (read ? counters.bytes_read : counters.bytes_written) += result.transferred;
    if (!read && (offset % page_bytes != 0 || (offset + bytes) % page_bytes != 0)) {
        ++counters.partial_page_writes;
    }
    return result;
}

TestPlatform::TestPlatform() {
    using namespace platform;
    assert(g_current == nullptr && "one test platform at a time");
    g_current = this;
    table_.open_device = [](const char* path, DeviceAccess access, bool* read_only,
                            std::uint32_t* last_error) -> DeviceHandle {
        TestPlatform& t = *g_current;
        std::lock_guard<std::recursive_mutex> guard(t.mutex_);
        auto open = std::make_unique<Open>();
        const std::string p(path);
        if (p.rfind("mem:", 0) != 0) {
            open->real = native().open_device(path, access, &open->read_only, last_error);
            if (open->real == kInvalidDevice) {
                return kInvalidDevice;
            }
        } else if (auto it = t.cards_.find(p.substr(4)); it != t.cards_.end()) {
            open->memory = it->second.get();
            open->read_only = access == DeviceAccess::kReadOnly || open->memory->write_protected;
        } else {
            *last_error = kErrorGenFailure;
            return kInvalidDevice;
        }
        *read_only = open->read_only;
        ++t.counters.opens;
        Open* raw = open.get();
        t.open_[raw] = std::move(open);
        return raw;
    };
    table_.close_device = [](DeviceHandle h) {
        TestPlatform& t = *g_current;
        std::lock_guard<std::recursive_mutex> guard(t.mutex_);
        auto it = t.open_.find(static_cast<Open*>(h));
        assert(it != t.open_.end() && "closing a device that is not open");
        if (it->second->real != nullptr) {
            native().close_device(it->second->real);
        }
        t.open_.erase(it);
        ++t.counters.closes;
    };
    table_.read_at = [](DeviceHandle h, void* buffer, std::uint32_t bytes, std::uint64_t offset) {
        return g_current->transfer(IoOp::kRead, h, buffer, bytes, offset);
    };
    table_.write_at = [](DeviceHandle h, const void* buffer, std::uint32_t bytes,
                         std::uint64_t offset) {
        return g_current->transfer(IoOp::kWrite, h, const_cast<void*>(buffer), bytes, offset);
    };
    // A request of several buffers is one transfer: counted, logged and failed as one.
    table_.read_parts_at = [](DeviceHandle h, const IoPart* parts, std::uint32_t count,
                              std::uint64_t offset) {
        std::vector<std::uint8_t> joined;
        for (std::uint32_t i = 0; i < count; ++i) {
            joined.resize(joined.size() + parts[i].bytes);
        }
        const IoResult result = g_current->transfer(
            IoOp::kRead, h, joined.data(), static_cast<std::uint32_t>(joined.size()), offset);
        for (std::uint32_t i = 0, at = 0; i < count && at < result.transferred; ++i) {
            std::memcpy(parts[i].data, joined.data() + at,
                        std::min(parts[i].bytes, result.transferred - at));
            at += parts[i].bytes;
        }
        return result;
    };
    table_.write_parts_at = [](DeviceHandle h, const ConstIoPart* parts, std::uint32_t count,
                               std::uint64_t offset) {
        std::vector<std::uint8_t> joined;
        for (std::uint32_t i = 0; i < count; ++i) {
            const auto* bytes = static_cast<const std::uint8_t*>(parts[i].data);
            joined.insert(joined.end(), bytes, bytes + parts[i].bytes);
        }
        return g_current->transfer(IoOp::kWrite, h, joined.data(),
                                   static_cast<std::uint32_t>(joined.size()), offset);
    };
    table_.get_geometry = [](DeviceHandle h, std::uint64_t* size_bytes,
                             std::uint32_t* bytes_per_sector, std::uint32_t* last_error) {
        const Open* open = static_cast<Open*>(h);
        if (g_current->fail_geometry) {
            *last_error = kErrorGenFailure;
            return false;
        }
        if (open->real != nullptr) {
            return native().get_geometry(open->real, size_bytes, bytes_per_sector, last_error);
        }
        *size_bytes = open->memory->size();
        *bytes_per_sector = 512;
        return true;
    };
    table_.flush_device = [](DeviceHandle h) {
        std::lock_guard<std::recursive_mutex> guard(g_current->mutex_);
        ++g_current->counters.flushes;
        const Open* open = static_cast<Open*>(h);
        if (g_current->fail_flush && g_current->flushes_before_failure-- == 0) {
            g_current->flushes_before_failure = 0;
            return false;
        }
        return open->real == nullptr || native().flush_device(open->real);
    };
    table_.refresh_partitions = [](DeviceHandle) {
        std::lock_guard<std::recursive_mutex> guard(g_current->mutex_);
        ++g_current->counters.refreshes;
    };
    table_.lock_device = [](DeviceHandle h, DeviceLock kind, std::uint32_t* last_error) {
        std::lock_guard<std::recursive_mutex> guard(g_current->mutex_);
        Open* open = static_cast<Open*>(h);
        if (open->real != nullptr) {
            return native().lock_device(open->real, kind, last_error);
        }
        if (g_current->locks_unsupported) {
            *last_error = kErrorGenFailure;
            return false;
        }
        for (const auto& [other, _] : g_current->open_) {
            if (kind != DeviceLock::kNone && other != open && other->memory == open->memory &&
                other->lock != DeviceLock::kNone &&
                (kind == DeviceLock::kExclusive || other->lock == DeviceLock::kExclusive)) {
                *last_error = kErrorSharingViolation;
                return false;
            }
        }
        open->lock = kind;
        return true;
    };
    table_.page_bytes = [] { return g_current->page_bytes; };
    table_.sleep_ms = [](std::uint32_t ms) {
        std::lock_guard<std::recursive_mutex> guard(g_current->mutex_);
        g_current->pauses.push_back(ms);
    };
    table_.local_time = [](LocalTime* now) { *now = g_current->now; };
    table_.random15 = [] {
        std::lock_guard<std::recursive_mutex> guard(g_current->mutex_);
        return g_current->next_random++ & 0x7FFF;
    };
    install_table(&table_);
}

TestPlatform::~TestPlatform() {
    platform::install_table(nullptr);
    g_current = nullptr;
}

}  // namespace lyfs::test
