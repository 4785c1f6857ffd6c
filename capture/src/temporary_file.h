#pragma once
// A file written beside its final name and renamed into place only when complete, so a
// failed write never leaves a half-written file where the previous one was.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace pulsara::detail {

class TemporaryFile {
public:
    explicit TemporaryFile(const std::filesystem::path& target);
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    // Removes the temporary unless it was committed.
    ~TemporaryFile();

    [[nodiscard]] bool Write(const void* data, std::size_t size);
    // Closes the file; with Sync::ToDisk it is flushed first, so the data is complete on disk
    // when this succeeds.
    enum class Sync { ToDisk, No };
    [[nodiscard]] bool Finish(Sync sync = Sync::ToDisk);
    // Renames the finished temporary onto the target.
    [[nodiscard]] bool Commit();

    [[nodiscard]] const std::string& Error() const { return error_; }

private:
    std::filesystem::path target_;
    std::filesystem::path path_;
    int fd_ = -1;
    bool committed_ = false;
    std::string error_;
};

// Writes bytes to path through a TemporaryFile. Returns the reason when it fails; the file
// at path is then unchanged.
[[nodiscard]] std::optional<std::string>
ReplaceFile(const std::filesystem::path& path, std::string_view bytes,
            TemporaryFile::Sync sync = TemporaryFile::Sync::ToDisk);

} // namespace pulsara::detail
