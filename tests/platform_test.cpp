// The POSIX platform on real card-image files, and the allocation hook.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/memory.h"
#include "platform/platform.h"
#include "support/image_file.h"

namespace lyfs::platform {
namespace {

using test::ImageFile;

TEST(PosixDevice, ReadsWritesAndMeasuresAnImage) {
    ImageFile image(1 << 20);
    const PlatformTable& t = posix_table();
    std::uint32_t err = 0;
    bool read_only = false;
    DeviceHandle h = t.open_device(image.path(), DeviceAccess::kReadWrite, &read_only, &err);
    ASSERT_NE(h, kInvalidDevice);
    ASSERT_NE(h, nullptr);

    std::uint64_t size = 0;
    std::uint32_t sector = 0;
    ASSERT_TRUE(t.get_geometry(h, &size, &sector, &err));
    EXPECT_EQ(size, 1u << 20);
    EXPECT_EQ(sector, 512u);

    std::vector<std::uint8_t> out(1024, 0x3C), in(1024);
    IoResult r = t.write_at(h, out.data(), 1024, 4096);
    EXPECT_EQ(r.outcome, IoOutcome::kDone);
    EXPECT_EQ(r.transferred, 1024u);
    r = t.read_at(h, in.data(), 1024, 4096);
    EXPECT_EQ(r.transferred, 1024u);
    EXPECT_EQ(in, out);
    // At the end of the image the transfer comes up short, not failed.
    r = t.read_at(h, in.data(), 1024, (1 << 20) - 512);
    EXPECT_EQ(r.outcome, IoOutcome::kDone);
    EXPECT_EQ(r.transferred, 512u);
    EXPECT_TRUE(t.flush_device(h));
    t.refresh_partitions(h);  // a file has no partitions to refresh
    t.close_device(h);
}

TEST(PosixDevice, MissingPathsAndOtherFileKindsAreRefused) {
    const PlatformTable& t = posix_table();
    std::uint32_t err = 0;
    bool read_only = false;
    EXPECT_EQ(
        t.open_device("/nonexistent/lyfs/card.img", DeviceAccess::kReadWrite, &read_only, &err),
        kInvalidDevice);
    EXPECT_NE(err, 0u);
    DeviceHandle h = t.open_device("/dev/null", DeviceAccess::kReadWrite, &read_only, &err);
    ASSERT_NE(h, kInvalidDevice);
    std::uint64_t size = 0;
    std::uint32_t sector = 0;
    EXPECT_FALSE(t.get_geometry(h, &size, &sector, &err)) << "a character device is no card";
    t.close_device(h);
}

TEST(PosixDevice, ReadOnlyOpensRefuseWritesAndLocksSeparateOpens) {
    ImageFile image(1 << 20);
    const PlatformTable& t = posix_table();
    std::uint32_t err = 0;
    bool read_only = false;
    DeviceHandle reader = t.open_device(image.path(), DeviceAccess::kReadOnly, &read_only, &err);
    ASSERT_NE(reader, kInvalidDevice);
    EXPECT_TRUE(read_only);
    std::vector<std::uint8_t> bytes(512, 0x5A);
    EXPECT_EQ(t.write_at(reader, bytes.data(), 512, 0).outcome, IoOutcome::kFailed);
    EXPECT_EQ(t.read_at(reader, bytes.data(), 512, 0).transferred, 512u);

    DeviceHandle writer = t.open_device(image.path(), DeviceAccess::kReadWrite, &read_only, &err);
    ASSERT_NE(writer, kInvalidDevice);
    EXPECT_FALSE(read_only);
    DeviceHandle second = t.open_device(image.path(), DeviceAccess::kReadOnly, &read_only, &err);
    ASSERT_TRUE(t.lock_device(reader, DeviceLock::kShared, &err));
    EXPECT_TRUE(t.lock_device(second, DeviceLock::kShared, &err)) << "readers share";
    EXPECT_FALSE(t.lock_device(writer, DeviceLock::kExclusive, &err));
    EXPECT_EQ(err, kErrorSharingViolation);
    t.close_device(reader);
    EXPECT_TRUE(t.lock_device(second, DeviceLock::kNone, &err));
    EXPECT_TRUE(t.lock_device(writer, DeviceLock::kExclusive, &err)) << "both released";
    t.close_device(second);
    t.close_device(writer);
    EXPECT_GE(t.page_bytes(), 512u);
}

TEST(PosixPlatform, RandomValuesHaveFifteenBits) {
    for (int i = 0; i < 1000; ++i) {
        const int r = posix_table().random15();
        ASSERT_GE(r, 0);
        ASSERT_LE(r, 32767);
    }
    LocalTime now;
    posix_table().local_time(&now);
    EXPECT_GE(now.year, 2020);
    EXPECT_GE(now.month, 1);
    EXPECT_LE(now.month, 12);
}

TEST(Allocation, TheKthAllocationFailsOnceOrForGood) {
    fail_allocation_at(2);
    void* a = allocate_zeroed(8);
    void* b = allocate_zeroed(8);
    void* c = allocate_zeroed(8);
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(b, nullptr);
    EXPECT_NE(c, nullptr);
    release_memory(a);
    release_memory(c);
    fail_allocation_at(1, true);
    EXPECT_EQ(allocate_zeroed(8), nullptr);
    EXPECT_EQ(allocate_zeroed(8), nullptr);
    fail_allocation_at(0);
    void* d = allocate_zeroed(16);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(static_cast<unsigned char*>(d)[15], 0);
    release_memory(d);
}

}  // namespace
}  // namespace lyfs::platform
