#pragma once
// The few zip operations a sigrok session file needs, over libzip, with owned handles.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct zip;
struct zip_source;

namespace pulsara::detail {

// Builds an archive in memory; members are stored uncompressed.
class ZipWriter {
public:
    ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;
    ~ZipWriter();

    // The bytes must stay alive until Finish.
    [[nodiscard]] bool Add(const std::string& name, std::string_view bytes);
    // The whole archive, or nothing with Error() set.
    [[nodiscard]] std::optional<std::string> Finish();
    [[nodiscard]] const std::string& Error() const { return error_; }

private:
    zip_source* buffer_ = nullptr;
    zip* archive_ = nullptr;
    std::string error_;
};

class ZipReader {
public:
    ZipReader() = default;
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;
    ~ZipReader();

    // Opens and checks the archive's directory; false with Error() set when it is no zip.
    [[nodiscard]] bool Open(const std::filesystem::path& path);
    [[nodiscard]] bool Has(const std::string& member) const;
    [[nodiscard]] std::vector<std::string> Members() const;

    // Reads at most maxBytes of a member into out; tooLong is set when more remained.
    // False with Error() set when the member is missing or cannot be inflated.
    [[nodiscard]] bool Read(const std::string& member, std::size_t maxBytes, std::string& out,
                            bool& tooLong);
    [[nodiscard]] const std::string& Error() const { return error_; }

private:
    zip* archive_ = nullptr;
    std::string error_;
};

} // namespace pulsara::detail
