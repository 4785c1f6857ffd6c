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
    return "/tmp";
}

std::filesystem::path ClaimLockPath(const std::filesystem::path& dir, int instance) {
    std::string name = "pulsara-ezusb-" + std::to_string(instance);
    if (dir == "/tmp") {
        name += "-uid" + std::to_string(::getuid());
    }
    return dir / (name + ".lock");
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
    error_.clear();
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
