// Saving where it cannot succeed: a full disk, a read-only folder, a path that is a folder
// or a device, a companion that cannot take its place after the raw file was written. The
// previous files stay as they were, and so does everything in memory.

#include "capture/capture_files.h"
#include "capture/definition_text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>

namespace pulsara::test {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Runs save in a child process with a file size limit, as a full disk would stop it.
SaveResult SaveWithLimit(Capture& capture, const fs::path& raw, rlim_t limit) {
    std::signal(SIGXFSZ, SIG_IGN); // a write past the limit then fails with EFBIG
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit tight = old;
    tight.rlim_cur = limit;
    ::setrlimit(RLIMIT_FSIZE, &tight);
    SaveResult result = SaveCapture(capture, raw, 7);
    ::setrlimit(RLIMIT_FSIZE, &old);
    return result;
}

// Runs save as a user without rights to the folder: root ignores a folder's mode, so as
// root the save runs in a child that has given up its rights.
bool SaveWithoutRights(Capture& capture, const fs::path& raw) {
    if (::geteuid() != 0) {
        return SaveCapture(capture, raw, 7).ok;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(3);
        }
        ::_exit(SaveCapture(capture, raw, 7).ok ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct SaveCase {
    const char* name;
    // Spoils the folder or the path; returns the raw path to save to.
    std::function<fs::path(const fs::path& folder)> spoil;
    std::function<bool(Capture&, const fs::path&)> save;
};

void PrintTo(const SaveCase& c, std::ostream* os) {
    *os << c.name;
}

bool PlainSave(Capture& capture, const fs::path& raw) {
    return SaveCapture(capture, raw, 7).ok;
}

class SaveUnderFaults : public ::testing::TestWithParam<SaveCase> {};

TEST_P(SaveUnderFaults, KeepsFilesAndMemory) {
    const SaveCase& c = GetParam();
    const TempDir folder;
    const std::string oldRaw(kSampleMemoryBytes, '\x11');
    const std::string oldText = "#SYSPARM\t1,1,1,1,0,0\r\nOLD 1\r\n";
    WriteFile(folder.path() / "a.wfa", oldRaw);
    WriteFile(folder.path() / "a.wfd", oldText);

    auto capture = std::make_unique<Capture>();
    SetDefinitionText("#SYSPARM 2,0,1,3,5,9\r\nNEW 4\r\n", *capture);
    capture->samples.fill(0x5A);
    const auto before = std::make_unique<Capture>(*capture);

    const fs::path raw = c.spoil(folder.path());
    EXPECT_FALSE(c.save(*capture, raw));

    EXPECT_EQ(std::memcmp(capture.get(), before.get(), sizeof(Capture)), 0)
        << "the data in memory changed";
    ::chmod(folder.path().c_str(), 0700);
    EXPECT_EQ(ReadFile(folder.path() / "a.wfa"), oldRaw);
    EXPECT_EQ(ReadFile(folder.path() / "a.wfd"), oldText);
    // No temporary left behind beside them.
    for (const auto& entry : fs::directory_iterator(folder.path())) {
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos)
            << entry.path();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SaveUnderFaults,
    ::testing::Values(SaveCase{"DiskFullForTheRawFile",
                               [](const fs::path& f) { return f / "a.wfa"; },
                               [](Capture& c, const fs::path& raw) {
                                   return SaveWithLimit(c, raw, kSampleMemoryBytes / 2).ok;
                               }},
                      SaveCase{"ReadOnlyFolder",
                               [](const fs::path& f) {
                                   ::chmod(f.c_str(), 0555);
                                   return f / "a.wfa";
                               },
                               SaveWithoutRights},
                      SaveCase{"RawPathIsAFolder",
                               [](const fs::path& f) {
                                   fs::create_directory(f / "b.wfa");
                                   // The companion b.wfd is new: it must not stay behind alone.
                                   return f / "b.wfa";
                               },
                               PlainSave},
                      SaveCase{"CompanionPathIsAFolderAfterTheRawFile",
                               [](const fs::path& f) {
                                   fs::create_directory(f / "c.wfd");
                                   return f / "c.wfa";
                               },
                               PlainSave},
                      SaveCase{"CompanionIsAFolderWhereAnOldCaptureLies",
                               [](const fs::path& f) {
                                   fs::rename(f / "a.wfd", f / "a.wfd.keep");
                                   fs::create_directory(f / "a.wfd");
                                   return f / "a.wfa";
                               },
                               [](Capture& c, const fs::path& raw) {
                                   const bool ok = PlainSave(c, raw);
                                   fs::remove(raw.parent_path() / "a.wfd");
                                   fs::rename(raw.parent_path() / "a.wfd.keep",
                                              raw.parent_path() / "a.wfd");
                                   return ok;
                               }}),
    [](const auto& info) { return std::string(info.param.name); });

// Saving onto a device or a pipe must not replace it with a file. The devices are made in
// a folder of the test's own (never the real /dev/full: a regression run as root would
// replace it): a copy of /dev/full's node where the system lets us make one, and a pipe.
TEST(SaveUnderFaults, DeviceIsNeverReplaced) {
    auto capture = std::make_unique<Capture>();
    const TempDir folder;
    const fs::path fifo = folder.path() / "p.wfa";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const fs::path full = folder.path() / "full";
    const bool haveDevice = ::mknod(full.c_str(), S_IFCHR | 0666, ::makedev(1, 7)) == 0;
    for (const fs::path& target : {fifo, full}) {
        if (target == full && !haveDevice) {
            continue;
        }
        const SaveResult result = SaveCapture(*capture, target, 0);
        EXPECT_FALSE(result.ok) << target;
        EXPECT_NE(result.error.find(target.string()), std::string::npos) << result.error;
        struct stat after {};
        ASSERT_EQ(::lstat(target.c_str(), &after), 0);
        EXPECT_FALSE(S_ISREG(after.st_mode)) << target << " was replaced by a file";
    }
}

} // namespace
} // namespace pulsara::test
