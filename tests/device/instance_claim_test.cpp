#include "device/instance_claim.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

namespace pulsara {
namespace {

using Outcome = InstanceClaim::Outcome;

// A second process that claims `instance`, reports on `ready` and then waits until its
// `hold` pipe closes or it is killed.
pid_t SpawnHolder(const std::filesystem::path& dir, int instance, int ready[2], int hold[2]) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ready[0]);
        ::close(hold[1]);
        InstanceClaim claim;
        const char result = claim.TryClaim(dir, instance) == Outcome::Claimed ? 'C' : 'N';
        (void)!::write(ready[1], &result, 1);
        char ignored = 0;
        (void)!::read(hold[0], &ignored, 1);
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(hold[0]);
    return pid;
}

TEST(InstanceClaim, AnotherProcessHoldingTheClaimBlocksItUntilItExitsOrDies) {
    for (const bool crash : {false, true}) {
        SCOPED_TRACE(crash ? "holder killed" : "holder exits");
        test::TempDir dir;
        int ready[2];
        int hold[2];
        ASSERT_EQ(::pipe(ready), 0);
        ASSERT_EQ(::pipe(hold), 0);
        const pid_t holder = SpawnHolder(dir.path(), 2, ready, hold);
        ASSERT_GT(holder, 0);
        char result = 0;
        ASSERT_EQ(::read(ready[0], &result, 1), 1);
        ASSERT_EQ(result, 'C');

        InstanceClaim mine;
        EXPECT_EQ(mine.TryClaim(dir.path(), 2), Outcome::HeldElsewhere);
        EXPECT_FALSE(mine.held());
        EXPECT_EQ(mine.TryClaim(dir.path(), 3), Outcome::Claimed); // other instances are free
        mine.Release();

        if (crash) {
            ::kill(holder, SIGKILL);
        }
        ::close(hold[1]);
        int status = 0;
        ASSERT_EQ(::waitpid(holder, &status, 0), holder);
        ::close(ready[0]);
        EXPECT_EQ(mine.TryClaim(dir.path(), 2), Outcome::Claimed);
        EXPECT_EQ(mine.instance(), 2);
    }
}

TEST(InstanceClaim, AProcessCannotClaimWhatThisOneHolds) {
    test::TempDir dir;
    InstanceClaim mine;
    ASSERT_EQ(mine.TryClaim(dir.path(), 0), Outcome::Claimed);
    int ready[2];
    int hold[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(hold), 0);
    const pid_t other = SpawnHolder(dir.path(), 0, ready, hold);
    char result = 0;
    ASSERT_EQ(::read(ready[0], &result, 1), 1);
    EXPECT_EQ(result, 'N');
    ::close(hold[1]);
    ::waitpid(other, nullptr, 0);
    ::close(ready[0]);

    // A second claim inside this process is refused too; moving keeps the one claim.
    InstanceClaim again;
    EXPECT_EQ(again.TryClaim(dir.path(), 0), Outcome::HeldElsewhere);
    InstanceClaim moved = std::move(mine);
    EXPECT_TRUE(moved.held());
    EXPECT_FALSE(mine.held()); // NOLINT(bugprone-use-after-move): moved-from state is defined
    moved.Release();
    EXPECT_EQ(again.TryClaim(dir.path(), 0), Outcome::Claimed);
}

TEST(InstanceClaim, LockFilesAndTheirProblems) {
    EXPECT_EQ(ClaimLockPath("/run/user/1000", 4), "/run/user/1000/pulsara-ezusb-4.lock");
    EXPECT_EQ(ClaimLockPath("/tmp", 4),
              "/tmp/pulsara-ezusb-4-uid" + std::to_string(::getuid()) + ".lock");

    test::TempDir dir;
    const auto missing = dir.path() / "no-such-dir";
    InstanceClaim claim;
    EXPECT_EQ(claim.TryClaim(missing, 0), Outcome::Error);
    EXPECT_NE(claim.error().find(missing.string()), std::string::npos);

    // A planted symlink is not followed.
    std::filesystem::create_symlink(dir.path() / "target", ClaimLockPath(dir.path(), 1));
    EXPECT_EQ(claim.TryClaim(dir.path(), 1), Outcome::Error);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "target"));
}

TEST(InstanceClaim, DefaultDirectoryFollowsTheRuntimeDirectory) {
    test::TempDir dir;
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedValue = saved ? saved : "";
    ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    EXPECT_EQ(DefaultLockDirectory(), dir.path());
    ::setenv("XDG_RUNTIME_DIR", (dir.path() / "gone").c_str(), 1);
    EXPECT_EQ(DefaultLockDirectory(), "/tmp");
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(DefaultLockDirectory(), "/tmp");
    if (saved) {
        ::setenv("XDG_RUNTIME_DIR", savedValue.c_str(), 1);
    }
}

} // namespace
} // namespace pulsara
