// Library frame: start and stop, the log, the list discipline, handles.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/handles.h"
#include "core/list.h"
#include "core/log.h"
#include "lyfs/lyfs.h"
#include "platform/memory.h"
#include "support/log_capture.h"
#include "support/test_platform.h"

namespace lyfs {
namespace {

using test::LogCapture;

TEST(Lifecycle, StartAndStopAreHarmlessTwice) {
    LogCapture log;
    EXPECT_EQ(CL_LyFS_Start(), LYFS_OK);
    EXPECT_EQ(CL_LyFS_Start(), LYFS_OK);
    EXPECT_EQ(log.count("[INFO], CL_LyFS_Start, already started\n"), 1u);
    EXPECT_EQ(CL_LyFS_Stop(), LYFS_OK);
    EXPECT_EQ(CL_LyFS_Stop(), LYFS_OK);
    EXPECT_EQ(log.count("[INFO], CL_LyFS_Stop, already stopped\n"), 1u);
}

TEST(Lifecycle, StartOutOfMemoryLeavesTheLibraryStopped) {
    LogCapture log;
    platform::fail_allocation_at(1);  // the state record
    EXPECT_EQ(CL_LyFS_Start(), LYFS_ERR_NO_MEMORY);
    EXPECT_TRUE(log.contains("[ERROR], CL_LyFS_Start malloc for stRvFS failed\n"));
    platform::fail_allocation_at(2);  // its lock
    EXPECT_EQ(CL_LyFS_Start(), LYFS_ERR_NO_MEMORY);
    EXPECT_TRUE(log.contains("[ERROR]CL_LyFS_Start, CreateMutex failed\n"));
    platform::fail_allocation_at(0);
    EXPECT_EQ(CL_LyFS_Stop(), LYFS_OK);
    EXPECT_TRUE(log.contains("already stopped"));
}

TEST(Log, LongLinesAreCutTo511CharactersAndStillSent) {
    LogCapture log;
    const std::string long_text(600, 'x');
    log_info("%s", long_text.c_str());
    log_error("[ERROR]empty:%s\n", "");
    auto lines = log.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], std::string(511, 'x'));
    EXPECT_EQ(lines[1], "[ERROR]empty:\n");
}

TEST(Log, TracesAreDiscardedUnlessVerbose) {
    {
        LogCapture quiet;
        log_debug("+trace, value:%d\n", 1);
        EXPECT_TRUE(quiet.lines().empty());
    }
    LogCapture verbose(true);
    log_debug("+trace, value:%d\n", 2);
    EXPECT_EQ(verbose.lines(), std::vector<std::string>{"+trace, value:2\n"});
}

struct Node {
    int id;
    Node* prev;
    Node* next;
};

// Walks forwards and backwards and checks the two agree.
std::vector<int> ids_checked(Node* head) {
    std::vector<int> ids;
    Node* last = nullptr;
    for (Node* n = head; n != nullptr; n = n->next) {
        EXPECT_EQ(n->prev, last);
        ids.push_back(n->id);
        last = n;
    }
    return ids;
}

TEST(List, RemovalKeepsBothDirectionsInAgreement) {
    Node n[4] = {
        {0, nullptr, nullptr}, {1, nullptr, nullptr}, {2, nullptr, nullptr}, {3, nullptr, nullptr}};
    Node* head = nullptr;
    for (auto& node : n) {
        list_append(head, &node);
    }
    EXPECT_EQ(ids_checked(head), (std::vector<int>{0, 1, 2, 3}));
    list_remove(head, &n[2]);  // middle
    EXPECT_EQ(ids_checked(head), (std::vector<int>{0, 1, 3}));
    list_remove(head, &n[0]);  // head
    EXPECT_EQ(ids_checked(head), (std::vector<int>{1, 3}));
    list_remove(head, &n[3]);  // tail
    EXPECT_EQ(ids_checked(head), (std::vector<int>{1}));
    list_remove(head, &n[2]);  // not in the list: nothing changes
    EXPECT_EQ(ids_checked(head), (std::vector<int>{1}));
    list_remove(head, &n[1]);  // the only one
    EXPECT_EQ(head, nullptr);
    list_append(head, &n[2]);
    EXPECT_EQ(ids_checked(head), (std::vector<int>{2}));
}

TEST(Handles, AreNeverZeroNeverReusedAndResolvedByKind) {
    int a = 0;
    int b = 0;
    const std::uint32_t ha = register_handle(HandleKind::kFile, &a);
    const std::uint32_t hb = register_handle(HandleKind::kFolder, &b);
    EXPECT_NE(ha, 0u);
    EXPECT_GT(hb, ha);
    EXPECT_EQ(resolve<int>(ha, HandleKind::kFile), &a);
    EXPECT_EQ(resolve<int>(ha, HandleKind::kFolder), nullptr) << "wrong kind";
    EXPECT_EQ(resolve<int>(0, HandleKind::kFile), nullptr);
    EXPECT_EQ(resolve<int>(0xFFFFFFFFu, HandleKind::kFile), nullptr);
    release_handle(ha);
    EXPECT_EQ(resolve<int>(ha, HandleKind::kFile), nullptr) << "stale";
    const std::uint32_t hc = register_handle(HandleKind::kFile, &a);
    EXPECT_GT(hc, hb) << "a released number is not given out again";
    release_handle(hb);
    release_handle(hc);
}

TEST(StatusText, EveryStatusHasWords) {
    for (int32_t status : {0,  1,  4,  5,  8,  13, 14, 15, 19, 29, 36, 37,
                           38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48, -1}) {
        EXPECT_STRNE(lyfs_status_text(status), "unknown status") << status;
    }
    EXPECT_STREQ(lyfs_status_text(12345), "unknown status");
}

}  // namespace
}  // namespace lyfs
