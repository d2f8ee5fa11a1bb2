// What only the POSIX platform does: refuse devices that are no disks, and
// keep one writer per card across processes: while this process holds a card,
// a second program that mounts, partitions or formats it is refused with 32
// and writes nothing.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <vector>

#include "lyfs/lyfs.h"
#include "platform/platform.h"
#include "support/card_maker.h"
#include "support/scratch_file.h"

namespace lyfs::test {
namespace {

TEST(PosixDevice, OtherFileKindsAreNoCards) {
    const platform::PlatformTable& t = platform::native_table();
    std::uint32_t err = 0;
    bool read_only = false;
    platform::DeviceHandle h =
        t.open_device("/dev/null", platform::DeviceAccess::kReadWrite, &read_only, &err);
    ASSERT_NE(h, platform::kInvalidDevice);
    std::uint64_t size = 0;
    std::uint32_t sector = 0;
    EXPECT_FALSE(t.get_geometry(h, &size, &sector, &err)) << "a character device is no card";
    t.close_device(h);
}

// A device that takes a write only in part (here at a file-size limit, as a full card would)
// fails the rest of it, rather than have the rest land somewhere else.
TEST(PosixDevice, AWriteTakenOnlyInPartMovesNoMore) {
    ScratchFile image{64 << 10};
    const platform::PlatformTable& t = platform::native_table();
    std::uint32_t err = 0;
    bool read_only = false;
    platform::DeviceHandle h =
        t.open_device(image.path(), platform::DeviceAccess::kReadWrite, &read_only, &err);
    ASSERT_NE(h, platform::kInvalidDevice);
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const rlimit limit{(64 << 10) + 512, before.rlim_max};
    const auto no_signal = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const std::vector<std::uint8_t> bytes(1024, 0x5A);
    const platform::IoResult result = t.write_at(h, bytes.data(), 1024, 64 << 10);
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, no_signal);
    t.close_device(h);
    EXPECT_TRUE(result.outcome != platform::IoOutcome::kDone || result.transferred == 512u);
    EXPECT_EQ(image.bytes(), [] {
        std::vector<std::uint8_t> expected((64 << 10) + 512, 0);
        std::fill(expected.begin() + (64 << 10), expected.end(), 0x5A);
        return expected;
    }()) << "only the part taken, in its place";
}

using Step = std::function<int32_t(const char* path)>;

int32_t mount_and_close(const char* path) {
    dev_desc desc{};
    const int32_t status = CL_LyFS_Device_Open(path, "card", 0, &desc);
    if (status == LYFS_OK) {
        CL_LyFS_Device_Close(&desc);
    }
    return status;
}

// The same table again, formatted.
int32_t partition(const char* path) {
    return partition_and_format(path, default_folder_table(100));
}

int32_t format(const char* path) {
    const lyfs_folder_table table = default_folder_table(100);
    const int32_t status = CL_LyFS_Get_Master_Device_Info(path, nullptr);
    return status != LYFS_OK ? status : CL_LyFS_Format(path, "", LYFS_PART_LYFS, 0, &table);
}

// In a coverage build, writes out what the forked process ran, which _exit would drop.
extern "C" void __gcov_dump() __attribute__((weak));

// Runs `step` in a forked process with a library of its own, once `hold` has run here, and
// returns the status it got; the card must come out of it unchanged unless `may_write`.
int32_t in_second_process(const ScratchFile& image, const Step& hold, const Step& step,
                          bool may_write = false) {
    int go[2];
    if (::pipe(go) != 0) {
        ADD_FAILURE() << "no pipe";
        return LYFS_FAIL;
    }
    const pid_t child = ::fork();
    if (child == 0) {  // forked before this process starts its library: nothing shared
        char ready = 0;
        int32_t status = LYFS_FAIL;
        if (::read(go[0], &ready, 1) == 1 && CL_LyFS_Start() == LYFS_OK) {
            status = step(image.path());
            CL_LyFS_Stop();
        }
        if (__gcov_dump != nullptr) {
            __gcov_dump();
        }
        ::_exit(static_cast<std::uint8_t>(status));  // every status fits in a signed byte
    }
    EXPECT_EQ(CL_LyFS_Start(), LYFS_OK);
    EXPECT_EQ(hold(image.path()), LYFS_OK);
    const std::vector<std::uint8_t> before = image.bytes();
    EXPECT_EQ(::write(go[1], "g", 1), 1);
    int exit_status = 0;
    EXPECT_EQ(::waitpid(child, &exit_status, 0), child);
    EXPECT_TRUE(WIFEXITED(exit_status)) << exit_status;
    if (!may_write) {
        EXPECT_TRUE(image.bytes() == before) << "the second process changed the card";
    }
    EXPECT_EQ(CL_LyFS_Stop(), LYFS_OK);
    ::close(go[0]);
    ::close(go[1]);
    return static_cast<std::int8_t>(WEXITSTATUS(exit_status));
}

class DeviceLock : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CL_LyFS_Start(), LYFS_OK);
        ASSERT_EQ(CL_LyFS_Get_Master_Device_Info(image.path(), nullptr), LYFS_OK);
        ASSERT_EQ(partition(image.path()), LYFS_OK);
        ASSERT_EQ(CL_LyFS_Stop(), LYFS_OK);
    }
    ScratchFile image{8 << 20};
};

TEST_F(DeviceLock, WritersExcludeEveryoneReadersShareAndReleasingLetsGo) {
    dev_desc held{};
    const Step mount = [&held](const char* p) { return CL_LyFS_Device_Open(p, "card", 0, &held); };
    const Step look = [&](const char* p) { return lyfs_device_open_read_only(p, "card", &held); };
    const Step unpartition = [](auto p) { return CL_LyFS_Delete_Partition(p, LYFS_PART_ALL); };
    // Reading sector 0 takes no lock.
    for (const Step& step : {Step(mount_and_close), Step(partition), unpartition, Step(format)}) {
        EXPECT_EQ(in_second_process(image, mount, step), LYFS_ERR_SHARING_VIOLATION);
    }
    EXPECT_EQ(in_second_process(image, mount, CL_LyFS_Check_LyFS_partition), LYFS_IS_LYFS);
    EXPECT_EQ(in_second_process(image, look, look), LYFS_OK);
    EXPECT_EQ(in_second_process(image, look, mount_and_close), LYFS_ERR_SHARING_VIOLATION);
    EXPECT_EQ(in_second_process(image, look, format), LYFS_ERR_SHARING_VIOLATION);
    // A format refused under this process's own mount leaves the mount its lock.
    const Step mount_and_format = [&](const char* p) {
        const int32_t status = mount(p);
        return status != LYFS_OK || format(p) != LYFS_ERR_SHARING_VIOLATION ? LYFS_FAIL : LYFS_OK;
    };
    EXPECT_EQ(in_second_process(image, mount_and_format, mount_and_close),
              LYFS_ERR_SHARING_VIOLATION);
    // Closing, formatting and partitioning let go.
    EXPECT_EQ(in_second_process(image, mount_and_close, mount_and_close, true), LYFS_OK);
    EXPECT_EQ(in_second_process(image, format, mount_and_close, true), LYFS_OK);
    EXPECT_EQ(in_second_process(image, partition, format, true), LYFS_OK);
}

}  // namespace
}  // namespace lyfs::test
