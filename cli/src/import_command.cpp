// pulsara-cli import: a VCD or sigrok session file as a pulsara capture (.wfa and .wfd).

#include "capture/capture_files.h"
#include "capture/interop.h"
#include "capture/labels.h"
#include "cli/commands.h"
#include "cli/startup.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <ostream>

namespace pulsara::cli {
namespace {

struct ImportCommandOptions {
    std::filesystem::path in;
    std::filesystem::path out;
    std::vector<std::string> signals;
    std::optional<std::string> rate;
};

// The 15 rates of a real clock: EXT has no period to sample a file at.
std::vector<std::string> ClockRates() {
    return {rateLabels.begin(), rateLabels.end() - 1};
}

} // namespace

void AddImportCommand(CLI::App& app, CommandContext& context) {
    auto options = std::make_shared<ImportCommandOptions>();
    auto* cmd = app.add_subcommand(
        "import", "Read a VCD or sigrok session file (.sr) and save it as a pulsara capture");
    cmd->add_option("in", options->in, "file to read (.vcd or .sr)")->required();
    cmd->add_option("-o,--output", options->out, "capture file to write (.wfa)")->required();
    cmd->add_option("--signals", options->signals,
                    "signals to read, by name, in this order onto probes 0, 1, 2, ... "
                    "(a VCD's may carry their scope: u1.q)")
        ->delimiter(',');
    cmd->add_option("--rate", options->rate,
                    "VCD: sample the file at this rate (the value at each sample time) instead "
                    "of one sample per time unit")
        ->check(CLI::IsMember(ClockRates()));
    cmd->callback([options, &context] {
        ImportOptions request;
        request.names = options->signals;
        if (options->rate) {
            request.rateIndex = IndexOfLabel(rateLabels, *options->rate);
        }
        auto capture = std::make_unique<Capture>();
        const auto imported = ImportCapture(options->in, *capture, request);
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
