// The platform the tests run the library on: device paths of the form
// "mem:NAME" name in-memory cards, every other path a real file. Every
// transfer is counted and can be made to fail; the clock and the pauses are
// pinned so tests never sleep.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/memory_device.h"

namespace lyfs::test {

enum class IoOp { kRead, kWrite };

struct Fault {
    enum class Kind { kError, kShort, kSeek };
    IoOp op = IoOp::kRead;
    std::uint64_t nth = 1;  // 1-based, counted among `op` transfers from when it is armed
    bool for_good = false;  // every later transfer of `op` fails too
    Kind kind = Kind::kError;
    std::uint32_t last_error = platform::kErrorIoDevice;
};

struct IoRecord {
    IoOp op;
    std::uint64_t offset;
    std::uint32_t bytes;
};

// A write as it reached a device, bytes and all, for replaying it later.
struct JournalEntry {
    std::uint64_t offset;
    std::vector<std::uint8_t> bytes;
};

struct IoCounters {
    std::uint64_t reads = 0;
    std::uint64_t writes = 0;
    std::uint64_t bytes_read = 0;
    std::uint64_t bytes_written = 0;
    std::uint64_t flushes = 0;
    std::uint64_t opens = 0;
    std::uint64_t closes = 0;
    std::uint64_t refreshes = 0;
    std::uint64_t refused_writes = 0;  // writes through a read-only open: none reached a card
    // Writes that start or end inside a page of `page_bytes`: where the page
    // is not cached, the operating system reads it before it takes the write.
    std::uint64_t partial_page_writes = 0;
};

class TestPlatform {
public:
    TestPlatform();
    ~TestPlatform();

    // A new in-memory card reachable as "mem:NAME".
    MemoryDevice& add_card(const std::string& name, std::uint64_t size_bytes) {
        return put_card(name, std::make_unique<MemoryDevice>(size_bytes));
    }
    MemoryDevice& card(const std::string& name) { return *cards_.at(name); }
    // Installs `image` as the card "mem:NAME" (replacing one of that name).
    MemoryDevice& put_card(const std::string& name, std::unique_ptr<MemoryDevice> image) {
        return *(cards_[name] = std::move(image));
    }

    // Arms one fault; the transfer it hits fails as it describes.
    void arm(const Fault& fault) {
        fault_ = fault;
        armed_ = true;
        fault_fired_ = false;
        seen_since_armed_ = 0;
    }
    void disarm() { armed_ = false; }
    bool fault_fired() const { return fault_fired_; }
    bool fail_geometry = false;
    bool locks_unsupported =
        false;  // in-memory cards refuse advisory locks, as some file systems do
    bool fail_flush = false;
    std::uint64_t flushes_before_failure = 0;  // with fail_flush: those that still succeed

    IoCounters counters;
    std::vector<IoRecord> log;  // every transfer that reached a device
    // With `journal_writes` set, every write to an in-memory card is kept.
    bool journal_writes = false;
    std::vector<JournalEntry> journal;
    std::vector<std::uint32_t> pauses;
    platform::LocalTime now;
    int next_random = 0;  // random15 returns this, then counts up
    std::uint32_t page_bytes = platform::kDefaultPageBytes;

    std::uint64_t open_devices() const { return open_.size(); }

private:
    struct Open;

    platform::IoResult transfer(IoOp op, platform::DeviceHandle h, void* data, std::uint32_t bytes,
                                std::uint64_t offset);

    // The library calls the platform from many threads; the table's state
    // is kept consistent under one lock.
    std::recursive_mutex mutex_;

    std::map<std::string, std::unique_ptr<MemoryDevice>> cards_;
    std::map<Open*, std::unique_ptr<Open>> open_;
    Fault fault_;
    bool armed_ = false;
    bool fault_fired_ = false;
    std::uint64_t seen_since_armed_ = 0;
    platform::PlatformTable table_;
};

}  // namespace lyfs::test
