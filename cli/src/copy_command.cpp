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
        auto startUp = StartUpCapture(options->definition);
        if (!startUp.capture) {
            context.err << "pulsara-cli: " << startUp.error << "\n";
            context.exitCode = 1;
            return;
        }
        auto& capture = *startUp.capture;
        const auto load = LoadCapture(capture, options->in);
        if (!load.ok) {
            context.err << "pulsara-cli: " << load.error << "\n";
            context.exitCode = 1;
            return;
        }
        if (load.shortFile) {
            context.err << "pulsara-cli: warning: \"" << options->in.string() << "\" holds "
                        << load.sampleBytesRead << " of " << kSampleMemoryBytes
                        << " bytes; the copy has 0 in the samples after its end\n";
        }
        // The scroll bar takes the loaded position clamped to its range, and SAVE reads it back.
        const auto h =
            options->horizontalPos.value_or(ClampHorizontalPos(capture.settings.savedScrollPos));
        const auto save = SaveCapture(capture, options->out, h);
        if (!save.ok) {
            context.err << "pulsara-cli: " << save.error << "\n";
            context.exitCode = 1;
            return;
        }
        context.err << "pulsara-cli: wrote " << options->out.string() << " and "
                    << CompanionPath(options->out).string() << "\n";
    });
}

} // namespace pulsara::cli
