#include "device/instance_claim.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace pulsara {

std::filesystem::path DefaultLockDirectory() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        std::error_code ec;
        if (std::filesystem::is_directory(runtime, ec)) {
            return runtime;
        }
    }
    const std::filesystem::path dir = "/tmp/pulsara-" + std::to_string(::getuid());
    // An existing one is checked by every claim, so a folder planted by someone else is
    // reported rather than used.
    (void)::mkdir(dir.c_str(), 0700);
    return dir;
}

bool ExportRuntimeDirectory(const std::filesystem::path& dir) {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        return false;
    }
    // Qt wants its runtime folder private; one it would have to fix, it warns about.
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
        (st.st_mode & 07777) != 0700) {
        return false;
    }
    return ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1) == 0;
}

std::filesystem::path ClaimLockPath(const std::filesystem::path& dir, int instance) {
    return dir / ("pulsara-ezusb-" + std::to_string(instance) + ".lock");
}

std::string CheckLockDirectory(const std::filesystem::path& dir) {
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) {
        return "cannot use the lock folder \"" + dir.string() + "\": " + std::strerror(errno);
    }
    std::string problem;
    if (!S_ISDIR(st.st_mode)) {
        problem = "is not a folder";
    } else if (st.st_uid != ::getuid()) {
        problem = "belongs to user id " + std::to_string(st.st_uid);
    } else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        problem = "may be written by other users";
    }
    if (problem.empty()) {
        return {};
    }
    return "the lock folder \"" + dir.string() + "\" " + problem +
           ", so claims there cannot be trusted; remove it";
}

InstanceClaim::InstanceClaim(InstanceClaim&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), instance_(std::exchange(other.instance_, -1)),
      error_(std::move(other.error_)) {}

InstanceClaim& InstanceClaim::operator=(InstanceClaim&& other) noexcept {
    if (this != &other) {
        Release();
        fd_ = std::exchange(other.fd_, -1);
        instance_ = std::exchange(other.instance_, -1);
        error_ = std::move(other.error_);
    }
    return *this;
}

InstanceClaim::~InstanceClaim() {
    Release();
}

InstanceClaim::Outcome InstanceClaim::TryClaim(const std::filesystem::path& lockDirectory,
                                               int instance) {
    Release();
    error_ = CheckLockDirectory(lockDirectory);
    if (!error_.empty()) {
        return Outcome::Error;
    }
    const auto path = ClaimLockPath(lockDirectory, instance);
    // O_NOFOLLOW: in a shared directory a planted symlink must not redirect our open.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error_ = "cannot open the lock file \"" + path.string() + "\": " + std::strerror(errno);
        return Outcome::Error;
    }
    // The lock belongs to this open file description: a second open, even in this process,
    // cannot take it, and the kernel drops it when the process ends in any way.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        ::close(fd);
        if (e == EWOULDBLOCK) {
            return Outcome::HeldElsewhere;
        }
        error_ = "cannot lock \"" + path.string() + "\": " + std::strerror(e);
        return Outcome::Error;
    }
    fd_ = fd;
    instance_ = instance;
    return Outcome::Claimed;
}

void InstanceClaim::Release() {
    if (fd_ >= 0) {
        // The file stays: removing it would let a new opener lock a fresh inode while a
        // waiting opener still holds the old one.
        ::close(fd_);
        fd_ = -1;
    }
    instance_ = -1;
}

} // namespace pulsara
