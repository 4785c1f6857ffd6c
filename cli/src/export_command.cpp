// pulsara-cli export: a capture as VCD or as a sigrok session file, for other tools.

#include "capture/interop.h"
#include "cli/commands.h"
#include "cli/startup.h"

#include <CLI/CLI.hpp>

#include <ostream>

namespace pulsara::cli {
namespace {

struct ExportOptions {
    std::optional<std::filesystem::path> definition;
    std::filesystem::path in;
    std::optional<std::filesystem::path> vcd;
    std::optional<std::filesystem::path> sr;
    bool vectors = false;
};

void Report(const InteropResult& result, const std::filesystem::path& out,
            CommandContext& context) {
    for (const auto& warning : result.warnings) {
        context.err << "pulsara-cli: warning: " << warning << "\n";
    }
    if (!result.ok) {
        context.err << "pulsara-cli: " << result.error << "\n";
        context.exitCode = 1;
        return;
    }
    context.err << "pulsara-cli: wrote " << out.string() << "\n";
}

} // namespace

void AddExportCommand(CLI::App& app, CommandContext& context) {
    auto options = std::make_shared<ExportOptions>();
    auto* cmd = app.add_subcommand(
        "export", "Write a capture as VCD (GTKWave, sigrok) or as a sigrok session file (.sr)");
    cmd->add_option("--def", options->definition, "definition text to start with");
    cmd->add_option("in", options->in, "capture file to read (.wfa)")->required();
    auto* vcd = cmd->add_option("--vcd", options->vcd, "VCD file to write");
    auto* sr = cmd->add_option("--sr", options->sr, "sigrok session file to write");
    vcd->excludes(sr);
    cmd->add_flag("--vectors", options->vectors,
                  "also write each bus row as one vector (GTKWave shows it as a bus; "
                  "sigrok-cli 0.7 cannot read vectors)")
        ->needs(vcd);
    cmd->callback([options, &context, cmd] {
        if (!options->vcd && !options->sr) {
            context.err << "pulsara-cli: export needs --vcd OUT.vcd or --sr OUT.sr\n"
                        << cmd->help();
            context.exitCode = 2;
            return;
        }
        LoadResult load;
        const auto capture = StartUpAndLoad(options->definition, options->in, context, load);
        if (!capture) {
            return;
        }
        if (options->vcd) {
            Report(ExportVcd(*capture, *options->vcd, VcdOptions{options->vectors}), *options->vcd,
                   context);
        } else {
            Report(ExportSr(*capture, *options->sr), *options->sr, context);
        }
    });
}

} // namespace pulsara::cli
