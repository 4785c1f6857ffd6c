// pulsara-cli import: a VCD or sigrok session file as a pulsara capture (.wfa and .wfd).

#include "capture/capture_files.h"
#include "capture/interop.h"
#include "cli/commands.h"
#include "cli/startup.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <ostream>

namespace pulsara::cli {
namespace {

struct ImportOptions {
    std::filesystem::path in;
    std::filesystem::path out;
};

} // namespace

void AddImportCommand(CLI::App& app, CommandContext& context) {
    auto options = std::make_shared<ImportOptions>();
    auto* cmd = app.add_subcommand(
        "import", "Read a VCD or sigrok session file (.sr) and save it as a pulsara capture");
    cmd->add_option("in", options->in, "file to read (.vcd or .sr)")->required();
    cmd->add_option("-o,--output", options->out, "capture file to write (.wfa)")->required();
    cmd->callback([options, &context] {
        auto capture = std::make_unique<Capture>();
        const auto imported = ImportCapture(options->in, *capture);
        for (const auto& warning : imported.warnings) {
            context.err << "pulsara-cli: warning: " << warning << "\n";
        }
        if (!imported.ok) {
            context.err << "pulsara-cli: " << imported.error << "\n";
            context.exitCode = 1;
            return;
        }
        SaveAndReport(*capture, options->out, capture->settings.savedScrollPos, context);
    });
}

} // namespace pulsara::cli
