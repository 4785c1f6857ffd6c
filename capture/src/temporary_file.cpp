#include "temporary_file.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace pulsara::detail {

TemporaryFile::TemporaryFile(const std::filesystem::path& target) : target_(target) {
    static std::atomic<unsigned> counter{0};
    path_ = target;
    path_ += ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        error_ = std::strerror(errno);
    }
}

TemporaryFile::~TemporaryFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    if (!committed_) {
        ::unlink(path_.c_str());
    }
}

bool TemporaryFile::Write(const void* data, std::size_t size) {
    if (fd_ < 0) {
        return false;
    }
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const auto n = ::write(fd_, bytes, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            error_ = std::strerror(errno);
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool TemporaryFile::Finish(Sync sync) {
    if (fd_ < 0) {
        return false;
    }
    const bool synced = sync == Sync::No || ::fsync(fd_) == 0;
    if (!synced) {
        error_ = std::strerror(errno);
    }
    const bool closed = ::close(fd_) == 0;
    if (!closed && synced) {
        error_ = std::strerror(errno);
    }
    fd_ = -1;
    return synced && closed;
}

bool TemporaryFile::Commit() {
    if (::rename(path_.c_str(), target_.c_str()) != 0) {
        error_ = std::strerror(errno);
        return false;
    }
    committed_ = true;
    return true;
}

std::optional<std::string> ReplaceFile(const std::filesystem::path& path, std::string_view bytes,
                                       TemporaryFile::Sync sync) {
    TemporaryFile file(path);
    if (!file.Write(bytes.data(), bytes.size()) || !file.Finish(sync) || !file.Commit()) {
        return file.Error();
    }
    return std::nullopt;
}

} // namespace pulsara::detail
