#include "device/instance_claim.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace pulsara {
namespace {

using Outcome = InstanceClaim::Outcome;

// Another process that tries to claim `instance`, reports 'C' or 'N' and then holds on
// until told to go (or is killed).
class OtherProcess {
public:
    OtherProcess(const std::filesystem::path& dir, int instance) {
        int ready[2];
        int hold[2];
        if (::pipe(ready) != 0 || ::pipe(hold) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            // Only the parent may keep the write end, or the read below never ends.
            ::close(hold[1]);
            ::close(ready[0]);
            InstanceClaim claim;
            const char result = claim.TryClaim(dir, instance) == Outcome::Claimed ? 'C' : 'N';
            (void)!::write(ready[1], &result, 1);
            (void)!::read(hold[0], &ready_, 1);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(hold[0]);
        hold_ = hold[1];
        (void)!::read(ready[0], &ready_, 1);
        ::close(ready[0]);
    }
    ~OtherProcess() { End(false); }
    [[nodiscard]] char result() const { return ready_; }
    void End(bool kill) {
        if (pid_ > 0) {
            if (kill) {
                ::kill(pid_, SIGKILL);
            }
            ::close(hold_);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

private:
    pid_t pid_ = -1;
    int hold_ = -1;
    char ready_ = 0;
};

TEST(InstanceClaim, AClaimInAnotherProcessHoldsUntilItExitsOrDies) {
    for (const bool kill : {false, true}) {
        SCOPED_TRACE(kill ? "killed" : "exits");
        test::TempDir dir;
        OtherProcess other(dir.path(), 2);
        ASSERT_EQ(other.result(), 'C');
        InstanceClaim mine;
        EXPECT_EQ(mine.TryClaim(dir.path(), 2), Outcome::HeldElsewhere);
        EXPECT_EQ(mine.TryClaim(dir.path(), 3), Outcome::Claimed);
        other.End(kill);
        EXPECT_EQ(mine.TryClaim(dir.path(), 2), Outcome::Claimed);
    }
}

TEST(InstanceClaim, NoOtherClaimWhileThisOneHolds) {
    test::TempDir dir;
    InstanceClaim mine;
    ASSERT_EQ(mine.TryClaim(dir.path(), 0), Outcome::Claimed);
    EXPECT_EQ(OtherProcess(dir.path(), 0).result(), 'N');
    InstanceClaim again; // a second claim in this process is refused too
    EXPECT_EQ(again.TryClaim(dir.path(), 0), Outcome::HeldElsewhere);
    InstanceClaim moved = std::move(mine);
    EXPECT_EQ(again.TryClaim(dir.path(), 0), Outcome::HeldElsewhere);
    moved.Release();
    EXPECT_EQ(again.TryClaim(dir.path(), 0), Outcome::Claimed);
}

TEST(InstanceClaim, UnusableLockFilesAreErrorsThatNameTheFile) {
    test::TempDir dir;
    InstanceClaim claim;
    EXPECT_EQ(claim.TryClaim(dir.path() / "missing", 0), Outcome::Error);
    EXPECT_NE(claim.error().find("missing"), std::string::npos);
    // A planted symlink is not followed.
    std::filesystem::create_symlink(dir.path() / "target", ClaimLockPath(dir.path(), 1));
    EXPECT_EQ(claim.TryClaim(dir.path(), 1), Outcome::Error);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "target"));
}

} // namespace
} // namespace pulsara
