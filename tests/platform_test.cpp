// The native platform (POSIX or Windows) on real card-image files, and the
// allocation hook.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/memory.h"
#include "platform/platform.h"
#include "support/pattern.h"
#include "support/scratch_file.h"

namespace lyfs::platform {
namespace {

using test::ScratchFile;

DeviceHandle open_image(const ScratchFile& image, DeviceAccess access, bool* read_only) {
    std::uint32_t err = 0;
    return native_table().open_device(image.path(), access, read_only, &err);
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
    DeviceHandle h = open_image(image, DeviceAccess::kReadWrite, &read_only);
    ASSERT_NE(h, kInvalidDevice);
    ASSERT_NE(h, nullptr);
    EXPECT_FALSE(read_only);
    std::uint64_t size = 0;
    std::uint32_t sector = 0;
    ASSERT_TRUE(t.get_geometry(h, &size, &sector, &err));
    EXPECT_EQ(size, kSize);
    EXPECT_EQ(sector, 512u);
    const auto high = test::pattern(1024, 1), low = test::pattern(1024, 2);
    IoResult r = t.write_at(h, high.data(), 1024, kFourGiB + 4096);
    EXPECT_EQ(r.outcome, IoOutcome::kDone);
    EXPECT_EQ(r.transferred, 1024u);
    ASSERT_EQ(t.write_at(h, low.data(), 1024, 4096).transferred, 1024u);
    std::vector<std::uint8_t> in(1024);
    ASSERT_EQ(t.read_at(h, in.data(), 1024, kFourGiB + 4096).transferred, 1024u);
    EXPECT_EQ(in, high) << "the write below 4 GiB must not land on it";
    // At the end of the image a transfer comes up short, not failed.
    r = t.read_at(h, in.data(), 1024, kSize - 512);
    EXPECT_EQ(r.outcome, IoOutcome::kDone);
    EXPECT_EQ(r.transferred, 512u);

    // Several buffers go in one request, and come back split as asked.
    const auto a = test::pattern(512, 8), b = test::pattern(2048, 9), c = test::pattern(512, 10);
    const ConstIoPart out[] = {{a.data(), 512}, {b.data(), 2048}, {c.data(), 512}};
    r = t.write_parts_at(h, out, 3, kFourGiB + 8192);
    EXPECT_EQ(r.outcome, IoOutcome::kDone);
    EXPECT_EQ(r.transferred, 3072u);
    auto expected = a;
    expected.insert(expected.end(), b.begin(), b.end());
    expected.insert(expected.end(), c.begin(), c.end());
    std::vector<std::uint8_t> x(1024), y(2048);
    const IoPart parts[] = {{x.data(), 1024}, {y.data(), 2048}};
    EXPECT_EQ(t.read_parts_at(h, parts, 2, kFourGiB + 8192).transferred, 3072u);
    EXPECT_TRUE(std::equal(x.begin(), x.end(), expected.begin()));
    EXPECT_TRUE(std::equal(y.begin(), y.end(), expected.begin() + 1024));
    r = t.read_parts_at(h, parts, 2, kSize - 1536);
    EXPECT_EQ(r.outcome, IoOutcome::kDone);
    EXPECT_EQ(r.transferred, 1536u);
    const IoPart too_many[] = {{x.data(), 1}, {x.data(), 1}, {x.data(), 1}, {x.data(), 1}};
    EXPECT_EQ(t.read_parts_at(h, too_many, 4, 0).outcome, IoOutcome::kFailed);
    EXPECT_TRUE(t.flush_device(h));
    t.refresh_partitions(h);  // a file has no partitions to refresh
    t.close_device(h);
    EXPECT_EQ(
        t.open_device("/nonexistent/lyfs/card.img", DeviceAccess::kReadWrite, &read_only, &err),
        kInvalidDevice);
    EXPECT_NE(err, 0u);
}

TEST(NativeDevice, ReadOnlyOpensRefuseWrites) {
    ScratchFile image(1 << 20);
    const PlatformTable& t = native_table();
    bool read_only = false;
    DeviceHandle reader = open_image(image, DeviceAccess::kReadOnly, &read_only);
    ASSERT_NE(reader, kInvalidDevice);
    EXPECT_TRUE(read_only);
    std::vector<std::uint8_t> bytes(512, 0x5A);
    EXPECT_EQ(t.write_at(reader, bytes.data(), 512, 0).outcome, IoOutcome::kFailed);
    EXPECT_EQ(t.read_at(reader, bytes.data(), 512, 0).transferred, 512u);
    EXPECT_EQ(bytes, std::vector<std::uint8_t>(512, 0));
    t.close_device(reader);
    EXPECT_GE(t.page_bytes(), 512u);
}

// A card whose write-protect switch is on still opens, for reading. A file
// without write permission stands in for it; root writes those all the same,
// but not the read-only attributes of the Linux kernel (under Wine too).
TEST(NativeDevice, ADeviceThatRefusesWritesOpensForReading) {
    ScratchFile image(1 << 20);
    std::string path = image.path();
    if (!image.make_read_only()) {
        path = "/sys/devices/system/cpu/online";
        if (!std::filesystem::exists(path)) {
            GTEST_SKIP() << "this user writes read-only files, and " << path << " is missing";
        }
    }
    const PlatformTable& t = native_table();
    std::uint32_t err = 0;
    bool read_only = false;
    DeviceHandle h = t.open_device(path.c_str(), DeviceAccess::kReadWrite, &read_only, &err);
    ASSERT_NE(h, kInvalidDevice);
    EXPECT_TRUE(read_only);
    std::vector<std::uint8_t> bytes(512, 0x5A);
    EXPECT_NE(t.write_at(h, bytes.data(), 512, 0).outcome, IoOutcome::kDone);
    EXPECT_GT(t.read_at(h, bytes.data(), 512, 0).transferred, 0u);
    t.close_device(h);
}

TEST(NativePlatform, RandomValuesHaveFifteenBits) {
    for (int i = 0; i < 1000; ++i) {
        const int r = native_table().random15();
        ASSERT_GE(r, 0);
        ASSERT_LE(r, 32767);
    }
    LocalTime now;
    native_table().local_time(&now);
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
