// pulsara-cli copy: LOAD then SAVE, so a capture is copied or renamed with its companion.

#include "capture/capture_files.h"
#include "cli/commands.h"
#include "cli/startup.h"

#include <CLI/CLI.hpp>

#include <ostream>

namespace pulsara::cli {
namespace {

struct CopyOptions {
    std::optional<std::filesystem::path> definition;
    std::optional<std::int32_t> horizontalPos;
    std::filesystem::path in;
    std::filesystem::path out;
};

} // namespace

void AddCopyCommand(CLI::App& app, CommandContext& context) {
    auto options = std::make_shared<CopyOptions>();
    auto* cmd = app.add_subcommand("copy", "Load a capture and save it under another name");
    cmd->add_option("--def", options->definition, "definition text to start with");
    cmd->add_option("--h", options->horizontalPos,
                    "horizontal scroll position to store (default: the loaded one)")
        ->check(CLI::Range(kHorizontalScrollMin, kHorizontalScrollMax));
    cmd->add_option("in", options->in, "capture file to read (.wfa)")->required();
    cmd->add_option("out", options->out, "capture file to write (.wfa)")->required();
    cmd->callback([options, &context] {
        LoadResult load;
        const auto loaded = StartUpAndLoad(options->definition, options->in, context, load);
        if (!loaded) {
            return;
        }
        auto& capture = *loaded;
        // The scroll bar takes the loaded position clamped to its range, and SAVE reads it back.
        const auto h =
            options->horizontalPos.value_or(ClampHorizontalPos(capture.settings.savedScrollPos));
        SaveAndReport(capture, options->out, h, context);
    });
}

} // namespace pulsara::cli
