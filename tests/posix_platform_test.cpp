// What only the POSIX platform does: refuse devices that are no disks, and
// lock a device between processes.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "support/scratch_file.h"

namespace lyfs::platform {
namespace {

TEST(PosixDevice, OtherFileKindsAreNoCards) {
    const PlatformTable& t = native_table();
    std::uint32_t err = 0;
    bool read_only = false;
    DeviceHandle h = t.open_device("/dev/null", DeviceAccess::kReadWrite, &read_only, &err);
    ASSERT_NE(h, kInvalidDevice);
    std::uint64_t size = 0;
    std::uint32_t sector = 0;
    EXPECT_FALSE(t.get_geometry(h, &size, &sector, &err)) << "a character device is no card";
    t.close_device(h);
}

TEST(PosixDevice, LocksSeparateOpens) {
    test::ScratchFile image(1 << 20);
    const PlatformTable& t = native_table();
    std::uint32_t err = 0;
    bool read_only = false;
    DeviceHandle reader = t.open_device(image.path(), DeviceAccess::kReadOnly, &read_only, &err);
    DeviceHandle writer = t.open_device(image.path(), DeviceAccess::kReadWrite, &read_only, &err);
    DeviceHandle second = t.open_device(image.path(), DeviceAccess::kReadOnly, &read_only, &err);
    ASSERT_NE(reader, kInvalidDevice);
    ASSERT_NE(writer, kInvalidDevice);
    ASSERT_NE(second, kInvalidDevice);
    ASSERT_TRUE(t.lock_device(reader, DeviceLock::kShared, &err));
    EXPECT_TRUE(t.lock_device(second, DeviceLock::kShared, &err)) << "readers share";
    EXPECT_FALSE(t.lock_device(writer, DeviceLock::kExclusive, &err));
    EXPECT_EQ(err, kErrorSharingViolation);
    t.close_device(reader);
    EXPECT_TRUE(t.lock_device(second, DeviceLock::kNone, &err));
    EXPECT_TRUE(t.lock_device(writer, DeviceLock::kExclusive, &err)) << "both released";
    t.close_device(second);
    t.close_device(writer);
}

}  // namespace
}  // namespace lyfs::platform
