#pragma once
// How every subcommand starts: zeroed data, then the start-up definition text.

#include "capture/capture.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace pulsara::cli {

struct StartUp {
    std::unique_ptr<Capture> capture; // null when the definition text could not be read
    std::string error;
};

// --def FILE when given, else "def.txt" in the working directory when it exists, else the
// default text held in memory. The CLI never writes def.txt.
[[nodiscard]] StartUp StartUpCapture(const std::optional<std::filesystem::path>& definitionPath);

} // namespace pulsara::cli
