// What only the POSIX platform does: refuse devices that are no disks (the
// lock between processes is in posix_device_lock_test).
#include <gtest/gtest.h>

#include "platform/platform.h"

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

}  // namespace
}  // namespace lyfs::platform
