#include "capture/capture_files.h"

#include "capture/definition_text.h"
#include "definition_file.h"
#include "temporary_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string_view>
#include <unistd.h>

namespace pulsara {
namespace {

using detail::TemporaryFile;

std::string ErrnoText(int error) {
    return std::strerror(error);
}

std::string FormatSettingsLine(const CaptureSettings& s, std::int32_t horizontalPos) {
    char line[128];
    std::snprintf(line, sizeof line, "#SYSPARM\t%d,%d,%d,%d,%d,%d\r\n", s.rateIndex,
                  s.triggerPosition, s.triggerCondition, s.triggerProbe,
                  static_cast<int>(s.unfilledPairs), horizontalPos);
    return line;
}

SaveResult Failed(const std::filesystem::path& path, const std::string& why) {
    return {false, "cannot save \"" + path.string() + "\": " + why +
                       "; the previous files are unchanged. Choose a writable folder."};
}

// A second name for an existing file, so it can be restored after a failed replace.
std::optional<std::filesystem::path> BackupLink(const std::filesystem::path& path) {
    auto backup = path;
    backup += ".old-" + std::to_string(::getpid());
    ::unlink(backup.c_str());
    if (::link(path.c_str(), backup.c_str()) != 0) {
        return std::nullopt;
    }
    return backup;
}

void RemoveBackup(const std::optional<std::filesystem::path>& backup) {
    if (backup) {
        ::unlink(backup->c_str());
    }
}

} // namespace

std::filesystem::path CompanionPath(const std::filesystem::path& rawPath) {
    const std::string raw = rawPath.string();
    const auto slash = raw.find_last_of('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const auto dot = raw.find('.', nameStart);
    if (dot == std::string::npos) {
        return raw + ".wfd";
    }
    return raw.substr(0, dot) + ".wfd";
}

std::string CompanionText(const Capture& capture, std::int32_t horizontalPos) {
    std::string out;
    char line[kMaxLineLength + 1];
    const char* cursor = capture.definition.data();
    while (true) {
        const int length = ReadLine(line, kMaxLineLength, cursor);
        if (length == 0) {
            break;
        }
        const std::string_view view(line, static_cast<std::size_t>(length));
        if (view.starts_with("#SYSPARM")) {
            out += FormatSettingsLine(capture.settings, horizontalPos);
        } else {
            out += view;
        }
    }
    return out;
}

SaveResult SaveCapture(Capture& capture, const std::filesystem::path& rawPath,
                       std::int32_t horizontalPos) {
    const auto companion = CompanionPath(rawPath);
    if (companion == rawPath) {
        // A raw file named like its companion ("x.wfd") would be overwritten by the text.
        return Failed(rawPath, "a capture file cannot end in .wfd, the name of its "
                               "companion text; use a name ending in .wfa");
    }
    // Renaming onto a device or a folder would replace it, not write into it.
    for (const auto& path : {rawPath, companion}) {
        std::error_code ec;
        const auto status = std::filesystem::status(path, ec);
        if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
            return Failed(path, std::filesystem::is_directory(status) ? "it is a folder"
                                                                      : "it is not a regular file");
        }
    }
    const auto text = CompanionText(capture, horizontalPos);

    TemporaryFile raw(rawPath);
    if (!raw.Write(capture.samples.data(), capture.samples.size()) || !raw.Finish()) {
        return Failed(rawPath, raw.Error());
    }
    TemporaryFile companionFile(companion);
    if (!companionFile.Write(text.data(), text.size()) || !companionFile.Finish()) {
        return Failed(companion, companionFile.Error());
    }
    // The companion goes first: if it cannot take its place, nothing has changed yet. If the
    // raw file then fails, the previous companion is put back from a hard link, or the new
    // one removed when there was none, so an old raw file is not paired with new settings.
    std::error_code ec;
    const bool companionExisted =
        std::filesystem::exists(std::filesystem::symlink_status(companion, ec));
    const auto backup = BackupLink(companion);
    if (!companionFile.Commit()) {
        RemoveBackup(backup);
        return Failed(companion, companionFile.Error());
    }
    if (!raw.Commit()) {
        if (backup) {
            ::rename(backup->c_str(), companion.c_str());
        } else if (!companionExisted) {
            ::unlink(companion.c_str());
        }
        return Failed(rawPath, raw.Error());
    }
    RemoveBackup(backup);
    capture.settings.savedScrollPos = horizontalPos;
    return {true, {}};
}

LoadResult LoadCapture(Capture& capture, const std::filesystem::path& rawPath) {
    LoadResult result;
    std::ifstream in(rawPath, std::ios::binary);
    if (!in) {
        result.error = "cannot open capture \"" + rawPath.string() + "\": " + ErrnoText(errno) +
                       "; nothing was loaded";
        return result;
    }
    // Read into a scratch copy so a failed read leaves the current capture whole.
    auto samples = std::make_unique<SampleMemory>();
    in.read(reinterpret_cast<char*>(samples->data()),
            static_cast<std::streamsize>(samples->size()));
    if (in.bad()) {
        result.error = "cannot read capture \"" + rawPath.string() + "\": " + ErrnoText(errno) +
                       "; nothing was loaded";
        return result;
    }
    result.sampleBytesRead = static_cast<std::size_t>(in.gcount());
    result.shortFile = result.sampleBytesRead < kSampleMemoryBytes;
    // Samples the file does not reach are cleared rather than left from the last capture.
    std::fill(samples->begin() + static_cast<std::ptrdiff_t>(result.sampleBytesRead),
              samples->end(), std::uint8_t{0});
    capture.samples = *samples;

    const auto companion = CompanionPath(rawPath);
    if (const auto text = detail::ReadDefinitionFile(companion)) {
        SetDefinitionText(*text, capture);
        result.companionRead = companion;
    }
    result.ok = true;
    return result;
}

} // namespace pulsara
