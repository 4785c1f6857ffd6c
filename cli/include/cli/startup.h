#pragma once
// How every subcommand starts: zeroed data, then the start-up definition text.

#include "capture/capture.h"
#include "capture/capture_files.h"
#include "cli/commands.h"

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

// StartUpCapture for a command: on failure the error goes to context.err, the exit status
// is set and the result is null.
[[nodiscard]] std::unique_ptr<Capture>
StartUpOrReport(const std::optional<std::filesystem::path>& definitionPath,
                CommandContext& context);

// StartUpOrReport, then LoadCapture of capturePath as the LOAD button does. A short raw
// file is reported as a warning; a file that cannot be read ends the command (null).
[[nodiscard]] std::unique_ptr<Capture>
StartUpAndLoad(const std::optional<std::filesystem::path>& definitionPath,
               const std::filesystem::path& capturePath, CommandContext& context, LoadResult& load);

// SaveCapture of a command's result, saying which two files it wrote or, on failure, why
// (then the exit status is set).
void SaveAndReport(Capture& capture, const std::filesystem::path& out, std::int32_t horizontalPos,
                   CommandContext& context);

} // namespace pulsara::cli
