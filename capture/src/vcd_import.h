#pragma once
// Reading a VCD into the capture's samples and rows.

#include "capture/interop.h"
#include "imported_capture.h"

#include <filesystem>
#include <optional>
#include <string>

namespace pulsara::detail {

// Fills imported from the VCD at path, or returns what is wrong with it (naming the line).
[[nodiscard]] std::optional<std::string>
ReadVcd(const std::filesystem::path& path, const ImportOptions& options, ImportedCapture& imported);

} // namespace pulsara::detail
