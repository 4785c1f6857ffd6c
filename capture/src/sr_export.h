#pragma once
// sigrok session files (.sr): a zip archive of "version" ("2"), "metadata" (an INI text
// naming the channels, the sample rate and the bytes per sample) and the raw samples in
// members "logic-1-1", "logic-1-2", ...

#include "capture/capture.h"

#include <optional>
#include <string>
#include <vector>

namespace pulsara::detail {

// The metadata member of a capture's session file: 32 channels, 4 bytes a sample.
[[nodiscard]] std::string SrMetadata(const Capture& capture, std::vector<std::string>& warnings);

// The whole archive, or nothing with error set.
[[nodiscard]] std::optional<std::string>
WriteSr(const Capture& capture, std::vector<std::string>& warnings, std::string& error);

} // namespace pulsara::detail
