// The library frame (start and stop, the log, handles) and the native
// platform beneath it (POSIX or Windows) on real card-image files, with the
// allocation hook.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "core/log.h"
#include "platform/memory.h"
#include "platform/platform.h"
#include "support/library_fixture.h"
#include "support/pattern.h"
#include "support/scratch_file.h"

namespace lyfs::platform {
namespace {

using test::LogCapture;
using test::ScratchFile;

TEST(Lifecycle, StartStopHandlesAndTheLog) {
    LogCapture log;
    EXPECT_EQ(test::Values({CL_LyFS_Start(), CL_LyFS_Start(), CL_LyFS_Stop(), CL_LyFS_Stop()}),
              test::Values(4, LYFS_OK));
    EXPECT_EQ(log.count("[INFO], CL_LyFS_Start, already started\n"), 1u);
    EXPECT_EQ(log.count("[INFO], CL_LyFS_Stop, already stopped\n"), 1u);
    // The state record, then its lock.
    for (std::uint64_t nth : {1, 2}) {
        fail_allocation_at(nth);
        EXPECT_EQ(CL_LyFS_Start(), LYFS_ERR_NO_MEMORY);
    }
    fail_allocation_at(0);
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

    // Long lines are cut, traces discarded unless verbose, and every status has words.
    log.clear();
    log_info("%s", std::string(600, 'x').c_str());
    log_error("[ERROR]empty:%s\n", "");
    log_debug("+trace, value:%d\n", 1);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{std::string(511, 'x'), "[ERROR]empty:\n"}));
    LogCapture verbose(true);
    log_debug("+trace, value:%d\n", 2);
    EXPECT_EQ(verbose.lines(), std::vector<std::string>{"+trace, value:2\n"});

    for (int32_t status : {0,  1,  4,  5,  8,  13, 14, 15, 19, 29, 36, 37,
                           38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48, -1}) {
        EXPECT_STRNE(lyfs_status_text(status), "unknown status") << status;
    }
    EXPECT_STREQ(lyfs_status_text(12345), "unknown status");
}

// Sector numbers are 32 bits, so a card reaches 2 TiB: offsets must not be
// cut to 32 bits anywhere on the way.
TEST(NativeDevice, ReadsWritesGathersAndMeasuresAnImagePastFourGiB) {
    constexpr std::uint64_t kFourGiB = std::uint64_t{1} << 32;
    constexpr std::uint64_t kSize = kFourGiB + (1 << 20);
    ScratchFile image(kSize);
    const PlatformTable& t = native_table();
    std::uint32_t err = 0;
    bool read_only = true;
    DeviceHandle h = t.open_device(image.path(), DeviceAccess::kReadWrite, &read_only, &err);
    ASSERT_TRUE(h != kInvalidDevice && h != nullptr && !read_only);
    std::uint64_t size = 0;
    std::uint32_t sector = 0;
    ASSERT_TRUE(t.get_geometry(h, &size, &sector, &err));
    EXPECT_EQ(std::make_pair(size, sector), std::make_pair(kSize, 512u));
    const auto high = test::pattern(1024, 1), low = test::pattern(1024, 2);
    const auto done = [](IoResult r) {
        return r.outcome == IoOutcome::kDone ? r.transferred : ~0u;
    };
    EXPECT_EQ(done(t.write_at(h, high.data(), 1024, kFourGiB + 4096)), 1024u);
    ASSERT_EQ(done(t.write_at(h, low.data(), 1024, 4096)), 1024u);
    std::vector<std::uint8_t> in(1024);
    ASSERT_EQ(done(t.read_at(h, in.data(), 1024, kFourGiB + 4096)), 1024u);
    EXPECT_EQ(in, high) << "the write below 4 GiB must not land on it";
    // At the end of the image a transfer comes up short, not failed.
    EXPECT_EQ(done(t.read_at(h, in.data(), 1024, kSize - 512)), 512u);

    // Several buffers go in one request, and come back split as asked.
    const auto a = test::pattern(3072, 8);
    const ConstIoPart out[] = {{a.data(), 512}, {a.data() + 512, 2048}, {a.data() + 2560, 512}};
    EXPECT_EQ(done(t.write_parts_at(h, out, 3, kFourGiB + 8192)), 3072u);
    std::vector<std::uint8_t> x(1024), y(2048);
    const IoPart parts[] = {{x.data(), 1024}, {y.data(), 2048}};
    EXPECT_EQ(done(t.read_parts_at(h, parts, 2, kFourGiB + 8192)), 3072u);
    EXPECT_EQ(x, std::vector<std::uint8_t>(a.begin(), a.begin() + 1024));
    EXPECT_EQ(y, std::vector<std::uint8_t>(a.begin() + 1024, a.end()));
    EXPECT_EQ(done(t.read_parts_at(h, parts, 2, kSize - 1536)), 1536u);
    const IoPart too_many[] = {{x.data(), 1}, {x.data(), 1}, {x.data(), 1}, {x.data(), 1}};
    EXPECT_EQ(t.read_parts_at(h, too_many, 4, 0).outcome, IoOutcome::kFailed);
    EXPECT_TRUE(t.flush_device(h));
    t.refresh_partitions(h);  // a file has no partitions to refresh
    // A second open of the card, as another program's, cannot lock it beside a writer.
    DeviceHandle other = t.open_device(image.path(), DeviceAccess::kReadOnly, &read_only, &err);
    EXPECT_TRUE(t.lock_device(h, DeviceLock::kExclusive, &err));
    EXPECT_FALSE(t.lock_device(other, DeviceLock::kShared, &err));
    EXPECT_EQ(err, kErrorSharingViolation);
    EXPECT_TRUE(t.lock_device(h, DeviceLock::kShared, &err) &&
                t.lock_device(other, DeviceLock::kShared, &err));
    t.close_device(other);
    t.close_device(h);
    EXPECT_EQ(
        t.open_device("/nonexistent/lyfs/card.img", DeviceAccess::kReadWrite, &read_only, &err),
        kInvalidDevice);
    EXPECT_NE(err, 0u);
}

// Opened for reading, or for writing when the device refuses writes (a
// card whose write-protect switch is on): reads work, writes fail. A file
// without write permission stands in for such a card; root writes those all
// the same, but not the read-only attributes of the Linux kernel (under Wine
// too).
TEST(NativeDevice, ReadOnlyOpensAndDevicesThatRefuseWritesOnlyRead) {
    ScratchFile image(1 << 20);
    const PlatformTable& t = native_table();
    EXPECT_GE(t.page_bytes(), 512u);
    std::string path = image.path();
    for (DeviceAccess access : {DeviceAccess::kReadOnly, DeviceAccess::kReadWrite}) {
        if (access == DeviceAccess::kReadWrite && !image.make_read_only()) {
            path = "/sys/devices/system/cpu/online";
            if (!std::filesystem::exists(path)) {
                GTEST_SKIP() << "this user writes read-only files, and " << path << " is missing";
            }
        }
        std::uint32_t err = 0;
        bool read_only = false;
        DeviceHandle h = t.open_device(path.c_str(), access, &read_only, &err);
        ASSERT_NE(h, kInvalidDevice);
        EXPECT_TRUE(read_only);
        std::vector<std::uint8_t> bytes(512, 0x5A);
        EXPECT_NE(t.write_at(h, bytes.data(), 512, 0).outcome, IoOutcome::kDone);
        EXPECT_GT(t.read_at(h, bytes.data(), 512, 0).transferred, 0u);
        EXPECT_TRUE(access == DeviceAccess::kReadWrite || bytes == std::vector<std::uint8_t>(512));
        t.close_device(h);
    }
}

TEST(NativePlatform, RandomValuesTheClockAndTheAllocationHook) {
    for (int i = 0; i < 1000; ++i) {
        const int r = native_table().random15();
        ASSERT_TRUE(r >= 0 && r <= 32767) << r;
    }
    // The local time, as the C library reads it back.
    const std::time_t before = std::time(nullptr);
    LocalTime now;
    native_table().local_time(&now);
    const std::time_t after = std::time(nullptr);
    std::tm parts{};
    parts.tm_year = now.year - 1900;
    parts.tm_mon = now.month - 1;
    parts.tm_mday = now.day;
    parts.tm_hour = now.hour;
    parts.tm_min = now.minute;
    parts.tm_sec = now.second;
    parts.tm_isdst = -1;
    const std::time_t told = std::mktime(&parts);
    EXPECT_TRUE(told >= before - 1 && told <= after + 1) << told - before;
    // The k-th allocation fails once or for good.
    fail_allocation_at(2);
    void* got[3] = {allocate_zeroed(8), allocate_zeroed(8), allocate_zeroed(16)};
    EXPECT_TRUE(got[0] != nullptr && got[1] == nullptr && got[2] != nullptr);
    EXPECT_EQ(static_cast<unsigned char*>(got[2])[15], 0);
    release_memory(got[0]);
    release_memory(got[2]);
    fail_allocation_at(1, true);
    EXPECT_TRUE(allocate_zeroed(8) == nullptr && allocate_zeroed(8) == nullptr);
    fail_allocation_at(0);
}

}  // namespace
}  // namespace lyfs::platform
