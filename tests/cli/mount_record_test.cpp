// The records lyfs umount finds mounts by. Root reads every user's, and a user can write
// theirs to name any process, which root's lyfs umount would then stop and wait for.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "mount_record.h"

namespace lyfs::tool {
namespace {

constexpr uid_t kNobody = 65534;

// A process of user 65534 that saves a record of `mountpoint` naming itself, or its parent,
// and lives until `release` is closed.
struct RecordWriter {
    pid_t pid = -1;
    int release = -1;

    RecordWriter(const std::string& mountpoint, bool naming_itself) {
        int saved[2];
        int wait[2];
        EXPECT_EQ(::pipe(saved), 0);
        EXPECT_EQ(::pipe(wait), 0);
        const pid_t parent = ::getpid();
        pid = ::fork();
        if (pid == 0) {
            ::unsetenv("XDG_RUNTIME_DIR");  // so the record goes to /tmp/lyfs-65534
            const bool user = ::setgroups(0, nullptr) == 0 &&
                              ::setresgid(kNobody, kNobody, kNobody) == 0 &&
                              ::setresuid(kNobody, kNobody, kNobody) == 0 &&
                              // As a user's own lyfs mount is, not as one that changed user.
                              ::prctl(PR_SET_DUMPABLE, 1) == 0;
            const MountRecord record{
                naming_itself ? ::getpid() : parent, "/dev/null", mountpoint, false, false, {}};
            const char ok = user && save_mount_record(record) ? 1 : 0;
            char ignored = 0;
            if (::write(saved[1], &ok, 1) == 1) {
                ::close(wait[1]);
                while (::read(wait[0], &ignored, 1) > 0) {
                }
            }
            ::_exit(0);
        }
        char ok = 0;
        ::close(saved[1]);
        ::close(wait[0]);
        EXPECT_EQ(::read(saved[0], &ok, 1), 1);
        EXPECT_EQ(ok, 1) << "user 65534 could not save a record in /tmp/lyfs-65534";
        ::close(saved[0]);
        release = wait[1];
    }
    ~RecordWriter() {
        ::close(release);
        ::waitpid(pid, nullptr, 0);
    }
};

TEST(MountRecord, RootTakesAnotherUsersRecordOnlyWhenItNamesThatUsersProcess) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root, to save a record as another user";
    }
    const std::string mountpoint = "/lyfs-record-test-" + std::to_string(::getpid());
    {
        const RecordWriter forger(mountpoint, false);
        EXPECT_FALSE(find_mount_record(mountpoint)) << "a record naming root's process";
    }
    const RecordWriter mount(mountpoint, true);
    const auto found = find_mount_record(mountpoint);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->first.pid, mount.pid);
    // A record its folder's owner did not write.
    ASSERT_EQ(::chown(found->second.c_str(), kNobody - 1, kNobody - 1), 0);
    EXPECT_FALSE(find_mount_record(mountpoint));
    std::remove(found->second.c_str());
    ::rmdir("/tmp/lyfs-65534");  // when it holds nothing else
}

}  // namespace
}  // namespace lyfs::tool
