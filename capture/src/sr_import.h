#pragma once
// sigrok session files (.sr) read into the capture's samples and rows.

#include "capture/interop.h"
#include "imported_capture.h"

#include <filesystem>
#include <optional>
#include <string>

namespace pulsara::detail {

// Fills imported from the session file at path, or returns what is wrong with it (naming
// the archive member and, in the metadata, the line).
[[nodiscard]] std::optional<std::string>
ReadSr(const std::filesystem::path& path, const ImportOptions& options, ImportedCapture& imported);

} // namespace pulsara::detail
