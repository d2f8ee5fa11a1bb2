// A started library on the test platform, with its log captured. Checks on
// the way out that the test left no handle and no open device behind.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/handles.h"
#include "core/state.h"
#include "lyfs/lyfs.h"
#include "platform/memory.h"
#include "support/log_capture.h"
#include "support/test_platform.h"

namespace lyfs::test {

// Several fields compared at once, in a failure message side by side.
using Values = std::vector<std::int64_t>;

// Hands `note` the fd and path the host is told of each file the library deletes on its own,
// until the library stops.
inline void on_deleted(std::function<void(std::uint32_t fd, const std::string& path)> note) {
    static std::function<void(std::uint32_t, const std::string&)> current;
    current = std::move(note);
    CL_LyFS_File_Delete_Callback_Register([](std::uint32_t fd, std::uint32_t length, char* path) {
        current(fd, {path, length});
    });
}

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        handles_before_ = live_handle_count();
        memory_before_ = platform::live_allocations();
        ASSERT_EQ(CL_LyFS_Start(), LYFS_OK);
    }

    void TearDown() override {
        platform::fail_allocation_at(0);
        platform.disarm();
        EXPECT_EQ(CL_LyFS_Stop(), LYFS_OK);
        EXPECT_EQ(live_handle_count(), handles_before_) << "handles left behind";
        EXPECT_EQ(platform.open_devices(), 0u) << "devices left open";
        EXPECT_EQ(platform::live_allocations(), memory_before_) << "memory left behind";
    }

    // Stops and starts the library, which forgets every disk, mount and lock it held.
    void restart() {
        ASSERT_EQ(CL_LyFS_Stop(), LYFS_OK);
        ASSERT_EQ(CL_LyFS_Start(), LYFS_OK);
    }
    // Whether the library holds no disk and no device is open, as after a failed set-up.
    bool nothing_held() {
        return library_state()->disk_list == nullptr && platform.open_devices() == 0;
    }

    // Runs `operation` once to count its transfers, then again with each of
    // them failing in turn, once and for good; `prepare` runs before every
    // run and `after` checks every faulty one. Returns the faults tested.
    std::size_t fail_each_transfer(const std::function<void()>& prepare,
                                   const std::function<int32_t()>& operation,
                                   const std::function<void(int32_t, IoOp)>& after) {
        prepare();
        const auto before = platform.counters;
        EXPECT_EQ(operation(), LYFS_OK) << "the operation works without faults";
        const std::uint64_t counts[] = {platform.counters.reads - before.reads,
                                        platform.counters.writes - before.writes};
        std::size_t faults = 0;
        for (IoOp op : {IoOp::kRead, IoOp::kWrite}) {
            for (std::uint64_t nth = 1; nth <= counts[op == IoOp::kWrite]; ++nth) {
                for (bool for_good : {false, true}) {
                    prepare();
                    platform.arm({op, nth, for_good});
                    const int32_t status = operation();
                    EXPECT_TRUE(platform.fault_fired()) << nth;
                    platform.disarm();
                    SCOPED_TRACE(::testing::Message() << nth << (for_good ? " for good" : ""));
                    after(status, op);
                    ++faults;
                }
            }
        }
        return faults;
    }

    // Runs `operation` with each of its allocations failing in turn, until a run no longer
    // reaches the one to fail, which must then work; `prepare` runs before every run and `after`
    // checks every faulty one.
    void fail_each_allocation(const std::function<void()>& prepare,
                              const std::function<int32_t()>& operation,
                              const std::function<void(int32_t)>& after) {
        for (std::uint64_t nth = 1;; ++nth) {
            prepare();
            const std::uint64_t before = platform::allocation_count();
            platform::fail_allocation_at(nth);
            const int32_t status = operation();
            platform::fail_allocation_at(0);
            if (platform::allocation_count() - before < nth) {
                EXPECT_EQ(status, LYFS_OK) << "works once no allocation fails";
                return;
            }
            SCOPED_TRACE(::testing::Message() << "allocation " << nth);
            after(status);
        }
    }

    TestPlatform platform;
    LogCapture log;

private:
    std::uint64_t handles_before_ = 0;
    std::int64_t memory_before_ = 0;
};

}  // namespace lyfs::test
