#include "support/test_platform.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace lyfs::test {

struct TestPlatform::Open {
    MemoryDevice* memory = nullptr;         // an in-memory card, or
    platform::DeviceHandle real = nullptr;  // a real file through POSIX
    std::string name;                       // the in-memory card's name
    bool read_only = false;
    // The advisory lock this open holds on an in-memory card, as flock
    // keeps it per open: opens of one card conflict as two processes would.
    enum class Lock { kNone, kShared, kExclusive } lock = Lock::kNone;
};

namespace {
TestPlatform* g_current = nullptr;
}

struct TableFunctions {
    static TestPlatform& tp() { return *g_current; }
    static TestPlatform::Open* open_of(platform::DeviceHandle h) {
        return static_cast<TestPlatform::Open*>(h);
    }

    static platform::DeviceHandle open_device(const char* path, platform::DeviceAccess access,
                                              bool* read_only, std::uint32_t* last_error) {
        TestPlatform& t = tp();
        std::lock_guard<std::recursive_mutex> guard(t.mutex_);
        if (t.fail_open) {
            *last_error = platform::kErrorNotReady;
            return platform::kInvalidDevice;
        }
        auto open = std::make_unique<TestPlatform::Open>();
        const std::string p(path);
        if (p.rfind("mem:", 0) == 0) {
            auto it = t.cards_.find(p.substr(4));
            if (it == t.cards_.end()) {
                *last_error = platform::kErrorGenFailure;
                return platform::kInvalidDevice;
            }
            open->memory = it->second.get();
            open->name = it->first;
            open->read_only =
                access == platform::DeviceAccess::kReadOnly || open->memory->write_protected;
        } else {
            open->real =
                platform::native_table().open_device(path, access, &open->read_only, last_error);
            if (open->real == platform::kInvalidDevice) {
                return platform::kInvalidDevice;
            }
        }
        *read_only = open->read_only;
        ++t.counters.opens;
        TestPlatform::Open* raw = open.get();
        t.open_[raw] = std::move(open);
        return raw;
    }

    static void close_device(platform::DeviceHandle h) {
        TestPlatform& t = tp();
        std::lock_guard<std::recursive_mutex> guard(t.mutex_);
        auto it = t.open_.find(open_of(h));
        assert(it != t.open_.end() && "closing a device that is not open");
        if (it->second->real != nullptr) {
            platform::native_table().close_device(it->second->real);
        }
        t.open_.erase(it);
        ++t.counters.closes;
    }

    static platform::IoResult transfer(IoOp op, platform::DeviceHandle h, void* in_out,
                                       std::uint32_t bytes, std::uint64_t offset) {
        TestPlatform& t = tp();
        std::lock_guard<std::recursive_mutex> guard(t.mutex_);
        TestPlatform::Open* open = open_of(h);
        if (t.open_.count(open) == 0) {
            std::fprintf(stderr, "test platform: transfer on a device that is not open\n");
            std::abort();
        }
        platform::IoResult result;
        if (op == IoOp::kWrite && open->read_only && open->memory != nullptr) {
            ++t.counters.refused_writes;
            result.last_error = platform::kErrorWriteProtect;
            return result;
        }
        if (t.should_fail(op)) {
            switch (t.fault_.kind) {
                case Fault::Kind::kSeek:
                    result.outcome = platform::IoOutcome::kSeekFailed;
                    result.last_error = t.fault_.last_error;
                    return result;
                case Fault::Kind::kError:
                    result.outcome = platform::IoOutcome::kFailed;
                    result.last_error = t.fault_.last_error;
                    return result;
                case Fault::Kind::kShort:
                    // Half of it arrives, then the device stops answering.
                    bytes /= 2;
                    break;
            }
        }
        t.log.push_back({op, offset, bytes});
        if (open->real != nullptr) {
            result = op == IoOp::kRead
                         ? platform::native_table().read_at(open->real, in_out, bytes, offset)
                         : platform::native_table().write_at(open->real, in_out, bytes, offset);
        } else {
            result.outcome = platform::IoOutcome::kDone;
            result.transferred = op == IoOp::kRead ? open->memory->read(offset, in_out, bytes)
                                                   : open->memory->write(offset, in_out, bytes);
            if (op == IoOp::kWrite && t.journal_writes) {
                const auto* data = static_cast<const std::uint8_t*>(in_out);
                t.journal.push_back({open->name, offset, {data, data + result.transferred}});
            }
        }
        if (op == IoOp::kRead) {
            ++t.counters.reads;
            t.counters.bytes_read += result.transferred;
        } else {
            ++t.counters.writes;
            t.counters.bytes_written += result.transferred;
            if (offset % t.page_bytes != 0 || (offset + bytes) % t.page_bytes != 0) {
                ++t.counters.partial_page_writes;
            }
        }
        return result;
    }

    static platform::IoResult read_at(platform::DeviceHandle h, void* buffer, std::uint32_t bytes,
                                      std::uint64_t offset) {
        return transfer(IoOp::kRead, h, buffer, bytes, offset);
    }

    static platform::IoResult write_at(platform::DeviceHandle h, const void* buffer,
                                       std::uint32_t bytes, std::uint64_t offset) {
        return transfer(IoOp::kWrite, h, const_cast<void*>(buffer), bytes, offset);
    }

    // A request of several buffers is one transfer: counted, logged and
    // failed as one.
    static platform::IoResult read_parts_at(platform::DeviceHandle h, const platform::IoPart* parts,
                                            std::uint32_t count, std::uint64_t offset) {
        std::vector<std::uint8_t> joined;
        for (std::uint32_t i = 0; i < count; ++i) {
            joined.resize(joined.size() + parts[i].bytes);
        }
        const platform::IoResult result = transfer(
            IoOp::kRead, h, joined.data(), static_cast<std::uint32_t>(joined.size()), offset);
        std::size_t at = 0;
        for (std::uint32_t i = 0; i < count && at < result.transferred; ++i) {
            const std::size_t n = std::min<std::size_t>(parts[i].bytes, result.transferred - at);
            std::memcpy(parts[i].data, joined.data() + at, n);
            at += n;
        }
        return result;
    }

    static platform::IoResult write_parts_at(platform::DeviceHandle h,
                                             const platform::ConstIoPart* parts,
                                             std::uint32_t count, std::uint64_t offset) {
        std::vector<std::uint8_t> joined;
        for (std::uint32_t i = 0; i < count; ++i) {
            const auto* bytes = static_cast<const std::uint8_t*>(parts[i].data);
            joined.insert(joined.end(), bytes, bytes + parts[i].bytes);
        }
        return transfer(IoOp::kWrite, h, joined.data(), static_cast<std::uint32_t>(joined.size()),
                        offset);
    }

    static bool get_geometry(platform::DeviceHandle h, std::uint64_t* size_bytes,
                             std::uint32_t* bytes_per_sector, std::uint32_t* last_error) {
        TestPlatform& t = tp();
        std::lock_guard<std::recursive_mutex> guard(t.mutex_);
        if (t.fail_geometry) {
            *last_error = platform::kErrorGenFailure;
            return false;
        }
        TestPlatform::Open* open = open_of(h);
        if (open->real != nullptr) {
            return platform::native_table().get_geometry(open->real, size_bytes, bytes_per_sector,
                                                         last_error);
        }
        *size_bytes = open->memory->size();
        *bytes_per_sector = 512;
        return true;
    }

    static bool flush_device(platform::DeviceHandle h) {
        std::lock_guard<std::recursive_mutex> guard(tp().mutex_);
        ++tp().counters.flushes;
        if (tp().fail_flush) {
            return false;
        }
        TestPlatform::Open* open = open_of(h);
        return open->real == nullptr || platform::native_table().flush_device(open->real);
    }

    static void refresh_partitions(platform::DeviceHandle) {
        std::lock_guard<std::recursive_mutex> guard(tp().mutex_);
        ++tp().counters.refreshes;
    }
    static bool lock_device(platform::DeviceHandle h, platform::DeviceLock kind,
                            std::uint32_t* last_error) {
        TestPlatform& t = tp();
        std::lock_guard<std::recursive_mutex> guard(t.mutex_);
        TestPlatform::Open* open = open_of(h);
        if (open->real != nullptr) {
            return platform::native_table().lock_device(open->real, kind, last_error);
        }
        using Lock = TestPlatform::Open::Lock;
        if (kind == platform::DeviceLock::kNone) {
            open->lock = Lock::kNone;
            return true;
        }
        for (const auto& [other, _] : t.open_) {
            if (other != open && other->memory == open->memory && other->lock != Lock::kNone &&
                (kind == platform::DeviceLock::kExclusive || other->lock == Lock::kExclusive)) {
                *last_error = platform::kErrorSharingViolation;
                return false;
            }
        }
        open->lock = kind == platform::DeviceLock::kExclusive ? Lock::kExclusive : Lock::kShared;
        return true;
    }
    static std::uint32_t page_bytes() { return tp().page_bytes; }
    static void sleep_ms(std::uint32_t ms) {
        std::lock_guard<std::recursive_mutex> guard(tp().mutex_);
        tp().pauses.push_back(ms);
    }
    static void local_time(platform::LocalTime* now) { *now = tp().now; }
    static int random15() {
        std::lock_guard<std::recursive_mutex> guard(tp().mutex_);
        return tp().next_random++ & 0x7FFF;
    }
};

TestPlatform::TestPlatform() {
    assert(g_current == nullptr && "one test platform at a time");
    g_current = this;
    table_ = {TableFunctions::open_device,
              TableFunctions::close_device,
              TableFunctions::read_at,
              TableFunctions::write_at,
              TableFunctions::read_parts_at,
              TableFunctions::write_parts_at,
              TableFunctions::get_geometry,
              TableFunctions::flush_device,
              TableFunctions::refresh_partitions,
              TableFunctions::lock_device,
              TableFunctions::page_bytes,
              TableFunctions::sleep_ms,
              TableFunctions::local_time,
              TableFunctions::random15};
    platform::install_table(&table_);
}

TestPlatform::~TestPlatform() {
    platform::install_table(nullptr);
    g_current = nullptr;
}

MemoryDevice& TestPlatform::add_card(const std::string& name, std::uint64_t size_bytes) {
    auto& slot = cards_[name];
    slot = std::make_unique<MemoryDevice>(size_bytes);
    return *slot;
}

MemoryDevice& TestPlatform::card(const std::string& name) {
    return *cards_.at(name);
}

MemoryDevice& TestPlatform::put_card(const std::string& name, std::unique_ptr<MemoryDevice> image) {
    auto& slot = cards_[name];
    slot = std::move(image);
    return *slot;
}

void TestPlatform::arm(const Fault& fault) {
    fault_ = fault;
    armed_ = true;
    fault_fired_ = false;
    seen_since_armed_ = 0;
}

void TestPlatform::disarm() {
    armed_ = false;
}

bool TestPlatform::should_fail(IoOp op) {
    if (!armed_ || op != fault_.op) {
        return false;
    }
    ++seen_since_armed_;
    const bool fails =
        seen_since_armed_ == fault_.nth || (fault_.for_good && seen_since_armed_ > fault_.nth);
    fault_fired_ = fault_fired_ || fails;
    return fails;
}

}  // namespace lyfs::test
