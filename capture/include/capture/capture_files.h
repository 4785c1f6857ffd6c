#pragma once
// Capture files: the raw sample file (.wfa, 131072 bytes) and its companion definition
// text (.wfd) in the same folder.

#include "capture/capture.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace pulsara {

// The companion of a raw file: its file name cut before the first "." (not the last),
// then ".wfd", in the raw file's folder. A name without "." gets ".wfd" appended.
[[nodiscard]] std::filesystem::path CompanionPath(const std::filesystem::path& rawPath);

// The companion text for the current data: capture.definition line by line, with every
// "#SYSPARM" line replaced by the settings, savedScrollPos taken as horizontalPos.
[[nodiscard]] std::string CompanionText(const Capture& capture, std::int32_t horizontalPos);

struct [[nodiscard]] SaveResult {
    bool ok = false;
    std::string error; // names the file and the problem when !ok
};

// Writes the samples to rawPath and the companion beside it, both through temporary files
// renamed into place, so a failure leaves the previous files as they were. On success
// savedScrollPos becomes horizontalPos; on failure nothing in memory changes.
SaveResult SaveCapture(Capture& capture, const std::filesystem::path& rawPath,
                       std::int32_t horizontalPos);

struct [[nodiscard]] LoadResult {
    bool ok = false;
    std::string error;               // names the file and the problem when !ok
    std::size_t sampleBytesRead = 0; // bytes of the raw file taken into the memory
    bool shortFile = false;          // fewer than 131072 bytes: the rest was cleared to 0
    std::optional<std::filesystem::path> companionRead; // set when a companion was parsed
};

// Reads the raw file into the samples (a short file clears the samples after its end) and,
// when the companion can be opened, reads and parses it. A raw file that cannot be read
// changes nothing. Moving the scroll bar to savedScrollPos is the caller's part.
LoadResult LoadCapture(Capture& capture, const std::filesystem::path& rawPath);

} // namespace pulsara
