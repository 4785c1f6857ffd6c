#pragma once
// A claim on board instance n, so that two copies of the program never drive one board.
// It is an exclusive flock on a lock file: taken atomically, held by this open file
// only (a second claim from the same process fails too), and dropped by the kernel when
// the process exits or crashes.

#include <filesystem>
#include <optional>
#include <string>

namespace pulsara {

// $XDG_RUNTIME_DIR when it names a directory. Otherwise /tmp/pulsara-<uid>, created 0700
// when missing: a fixed name straight in /tmp could be taken first by another user.
[[nodiscard]] std::filesystem::path DefaultLockDirectory();

// Qt keeps runtime files in $XDG_RUNTIME_DIR and warns on stderr when it is unset (root
// without a login session, a container). When it is unset or empty this sets it to `dir`,
// the folder the claims use then, provided `dir` is a real folder of this user with mode
// 0700: Qt then starts without a word and the claims stay where they were. Call it before
// the Qt application object is made. False when it left the variable alone.
bool ExportRuntimeDirectory(const std::filesystem::path& dir = DefaultLockDirectory());

// The lock file of instance n in dir.
[[nodiscard]] std::filesystem::path ClaimLockPath(const std::filesystem::path& dir, int instance);

// Empty when dir is a real directory of this user that nobody else may write to; else
// why lock files there cannot be trusted.
[[nodiscard]] std::string CheckLockDirectory(const std::filesystem::path& dir);

class InstanceClaim {
public:
    enum class Outcome {
        Claimed,       // this object now holds the claim
        HeldElsewhere, // another process (or another claim of this one) holds it
        Error,         // the lock file could not be opened or locked; see error()
    };

    InstanceClaim() = default;
    InstanceClaim(const InstanceClaim&) = delete;
    InstanceClaim& operator=(const InstanceClaim&) = delete;
    InstanceClaim(InstanceClaim&& other) noexcept;
    InstanceClaim& operator=(InstanceClaim&& other) noexcept;
    ~InstanceClaim();

    // Tries once, never waits. On Claimed the object holds the claim until Release().
    [[nodiscard]] Outcome TryClaim(const std::filesystem::path& lockDirectory, int instance);
    void Release();

    [[nodiscard]] bool held() const { return fd_ >= 0; }
    [[nodiscard]] int instance() const { return instance_; }
    [[nodiscard]] const std::string& error() const { return error_; }

private:
    int fd_ = -1;
    int instance_ = -1;
    std::string error_;
};

} // namespace pulsara
