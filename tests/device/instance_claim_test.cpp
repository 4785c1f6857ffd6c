#include "device/instance_claim.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sys/stat.h>
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

TEST(InstanceClaim, LockFolderIsTheRuntimeDirOrAPrivateOneOfThisUser) {
    test::TempDir dir;
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string before = saved ? saved : "";
    const std::filesystem::path own = "/tmp/pulsara-" + std::to_string(::getuid());
    const std::string file = (dir.path() / "file").string();
    { std::ofstream(file) << "x"; }
    struct Case {
        std::optional<std::string> runtime;
        std::filesystem::path expected;
    };
    for (const Case& c : {Case{dir.path().string(), dir.path()}, Case{std::nullopt, own},
                          Case{"", own}, Case{file, own}}) {
        SCOPED_TRACE(c.runtime.value_or("unset"));
        if (c.runtime) {
            ::setenv("XDG_RUNTIME_DIR", c.runtime->c_str(), 1);
        } else {
            ::unsetenv("XDG_RUNTIME_DIR");
        }
        const auto got = DefaultLockDirectory();
        EXPECT_EQ(got, c.expected);
        EXPECT_EQ(CheckLockDirectory(got), "");
        EXPECT_EQ(ClaimLockPath(got, 3), c.expected / "pulsara-ezusb-3.lock");
    }
    if (saved) {
        ::setenv("XDG_RUNTIME_DIR", before.c_str(), 1);
    } else {
        ::unsetenv("XDG_RUNTIME_DIR");
    }
    struct stat st {};
    ASSERT_EQ(::lstat(own.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700U);
}

TEST(InstanceClaim, OnlyAPrivateFolderOfThisUserBecomesTheRuntimeDirWhenItIsUnset) {
    test::TempDir dir;
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string before = saved ? saved : "";
    const auto folder = [&](const char* name, std::filesystem::perms mode) {
        const auto path = dir.path() / name;
        std::filesystem::create_directory(path);
        std::filesystem::permissions(path, mode);
        return path;
    };
    using std::filesystem::perms;
    const auto own = folder("own", perms::owner_all);
    const auto readable =
        folder("readable", perms::owner_all | perms::group_read | perms::group_exec |
                               perms::others_read | perms::others_exec);
    const auto open = folder("open", perms::all);
    const auto link = dir.path() / "link";
    std::filesystem::create_directory_symlink(own, link);
    const auto file = dir.path() / "file";
    { std::ofstream(file) << "x"; }
    const auto others = folder("others", perms::owner_all);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(others.c_str(), 65534, 65534), 0);
    }
    struct Case {
        std::optional<std::string> runtime; // XDG_RUNTIME_DIR before
        std::filesystem::path folder;
        bool exported;
    };
    const Case cases[] = {
        {std::nullopt, own, true},      {"", own, true},
        {"/run/user/1000", own, false}, {std::nullopt, readable, false},
        {std::nullopt, open, false},    {std::nullopt, link, false},
        {std::nullopt, file, false},    {std::nullopt, dir.path() / "missing", false},
        {std::nullopt, others, !root},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder.string() + " with " + c.runtime.value_or("unset"));
        if (c.runtime) {
            ::setenv("XDG_RUNTIME_DIR", c.runtime->c_str(), 1);
        } else {
            ::unsetenv("XDG_RUNTIME_DIR");
        }
        EXPECT_EQ(ExportRuntimeDirectory(c.folder), c.exported);
        const char* now = std::getenv("XDG_RUNTIME_DIR");
        EXPECT_EQ(std::string(now ? now : "unset"),
                  c.exported ? c.folder.string() : c.runtime.value_or("unset"));
    }
    // Unset, the claims' own folder is taken, so they stay where they were.
    ::unsetenv("XDG_RUNTIME_DIR");
    const auto claims = DefaultLockDirectory();
    EXPECT_TRUE(ExportRuntimeDirectory());
    EXPECT_EQ(DefaultLockDirectory(), claims);
    if (saved) {
        ::setenv("XDG_RUNTIME_DIR", before.c_str(), 1);
    } else {
        ::unsetenv("XDG_RUNTIME_DIR");
    }
}

TEST(InstanceClaim, AFolderOthersCouldPlantOrWriteIsRefused) {
    test::TempDir dir;
    const auto open = dir.path() / "open";
    const auto link = dir.path() / "link";
    const auto file = dir.path() / "file";
    std::filesystem::create_directory(open);
    std::filesystem::permissions(open, std::filesystem::perms::all);
    std::filesystem::create_directory_symlink(dir.path(), link);
    { std::ofstream(file) << "x"; }
    struct Case {
        std::filesystem::path folder;
        const char* problem;
    };
    for (const Case& c : {Case{open, "may be written by other users"}, Case{link, "not a folder"},
                          Case{file, "not a folder"}}) {
        SCOPED_TRACE(c.folder.string());
        InstanceClaim claim;
        EXPECT_EQ(claim.TryClaim(c.folder, 0), Outcome::Error);
        EXPECT_NE(claim.error().find(c.problem), std::string::npos) << claim.error();
        EXPECT_NE(claim.error().find(c.folder.string()), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(ClaimLockPath(c.folder, 0)));
    }
}

} // namespace
} // namespace pulsara
