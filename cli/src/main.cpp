#include "cli/commands.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <string_view>

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
    pulsara::cli::AddDiffCommand(app, context);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        // diff keeps 1 for "the captures differ".
        const bool diff = argc > 1 && std::string_view(argv[1]) == "diff";
        return diff && status != 0 ? 2 : status;
    }
    return context.exitCode;
}
