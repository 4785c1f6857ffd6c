#include "cli/commands.h"

#include <CLI/CLI.hpp>

#include <iostream>

int main(int argc, char** argv) {
    CLI::App app{"pulsara-cli: the pulsara logic analyser from the command line"};
    app.set_version_flag("--version", "pulsara-cli Version " PULSARA_VERSION);
    app.require_subcommand(1);
    pulsara::cli::CommandContext context{std::cout, std::cerr};
    pulsara::cli::AddInfoCommand(app, context);
    pulsara::cli::AddCopyCommand(app, context);
    pulsara::cli::AddListCommand(app, context);
    pulsara::cli::AddCaptureCommand(app, context);
    pulsara::cli::AddRenderCommand(app, context);
    pulsara::cli::AddExportCommand(app, context);
    pulsara::cli::AddImportCommand(app, context);
    pulsara::cli::AddMeasureCommand(app, context);
    pulsara::cli::AddDecodeCommand(app, context);
    pulsara::cli::AddFindCommand(app, context);
    CLI11_PARSE(app, argc, argv);
    return context.exitCode;
}
