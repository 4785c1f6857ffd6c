#pragma once
// Reading a definition text file into the fixed buffer, shared by the start-up load and
// the capture loader.

#include "capture/capture.h"

#include <filesystem>
#include <optional>
#include <string>

namespace pulsara::detail {

// Reads at most 16383 bytes of path. Returns nothing when the file cannot be opened or read.
[[nodiscard]] std::optional<std::string> ReadDefinitionFile(const std::filesystem::path& path);

} // namespace pulsara::detail
