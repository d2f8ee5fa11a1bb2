// A started library on the test platform, with its log captured. Checks on
// the way out that the test left no handle and no open device behind.
#pragma once

#include <gtest/gtest.h>

#include "core/handles.h"
#include "lyfs/lyfs.h"
#include "platform/memory.h"
#include "support/log_capture.h"
#include "support/test_platform.h"

namespace lyfs::test {

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        handles_before_ = live_handle_count();
        ASSERT_EQ(CL_LyFS_Start(), LYFS_OK);
    }

    void TearDown() override {
        platform::fail_allocation_at(0);
        platform.disarm();
        EXPECT_EQ(CL_LyFS_Stop(), LYFS_OK);
        EXPECT_EQ(live_handle_count(), handles_before_) << "handles left behind";
        EXPECT_EQ(platform.open_devices(), 0u) << "devices left open";
    }

    TestPlatform platform;
    LogCapture log;

private:
    std::uint64_t handles_before_ = 0;
};

}  // namespace lyfs::test
