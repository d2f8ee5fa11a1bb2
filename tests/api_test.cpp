// Library frame: start and stop, the log, handles.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/log.h"
#include "support/library_fixture.h"

namespace lyfs {
namespace {

using test::LogCapture;

TEST(Lifecycle, StartStopAndHandles) {
    LogCapture log;
    EXPECT_EQ(test::Values({CL_LyFS_Start(), CL_LyFS_Start(), CL_LyFS_Stop(), CL_LyFS_Stop()}),
              test::Values(4, LYFS_OK));
    EXPECT_EQ(log.count("[INFO], CL_LyFS_Start, already started\n"), 1u);
    EXPECT_EQ(log.count("[INFO], CL_LyFS_Stop, already stopped\n"), 1u);
    // The state record, then its lock.
    for (std::uint64_t nth : {1, 2}) {
        platform::fail_allocation_at(nth);
        EXPECT_EQ(CL_LyFS_Start(), LYFS_ERR_NO_MEMORY);
    }
    platform::fail_allocation_at(0);
    EXPECT_TRUE(log.contains("[ERROR]CL_LyFS_Start, CreateMutex failed\n"));
    EXPECT_EQ(CL_LyFS_Stop(), LYFS_OK);
    EXPECT_EQ(log.count("[INFO], CL_LyFS_Stop, already stopped\n"), 2u);
    CL_LyFS_File_Delete_Callback_Register(nullptr);
    EXPECT_TRUE(log.contains("[ERROR]CL_LyFS_File_Delete_Callback_Register, library not started"));

    // Handles are never zero, never reused, and resolved by kind.
    int a = 0;
    const std::uint32_t ha = register_handle(HandleKind::kFile, &a);
    const std::uint32_t hb = register_handle(HandleKind::kFolder, &a);
    EXPECT_TRUE(ha != 0 && hb > ha);
    EXPECT_EQ(resolve<int>(ha, HandleKind::kFile), &a);
    // The wrong kind, zero, a number never given, a released one.
    release_handle(hb);
    for (std::uint32_t h : {ha, 0u, 0xFFFFFFFFu, hb}) {
        EXPECT_EQ(resolve<int>(h, HandleKind::kFolder), nullptr);
    }
    const std::uint32_t hc = register_handle(HandleKind::kFile, &a);
    EXPECT_GT(hc, hb) << "a released number is not given out again";
    release_handle(ha);
    release_handle(hc);
}

TEST(Log, LongLinesAreCutTracesDiscardedUnlessVerboseAndEveryStatusHasWords) {
    {
        LogCapture log;
        log_info("%s", std::string(600, 'x').c_str());
        log_error("[ERROR]empty:%s\n", "");
        log_debug("+trace, value:%d\n", 1);
        EXPECT_EQ(log.lines(),
                  (std::vector<std::string>{std::string(511, 'x'), "[ERROR]empty:\n"}));
    }
    LogCapture verbose(true);
    log_debug("+trace, value:%d\n", 2);
    EXPECT_EQ(verbose.lines(), std::vector<std::string>{"+trace, value:2\n"});

    for (int32_t status : {0,  1,  4,  5,  8,  13, 14, 15, 19, 29, 36, 37,
                           38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48, -1}) {
        EXPECT_STRNE(lyfs_status_text(status), "unknown status") << status;
    }
    EXPECT_STREQ(lyfs_status_text(12345), "unknown status");
}

}  // namespace
}  // namespace lyfs
