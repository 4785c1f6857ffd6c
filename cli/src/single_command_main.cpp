// A program that runs one of pulsara-cli's commands, the one named by PULSARA_COMMAND: the
// commands whose libraries are too slow to load for every pulsara-cli run.

#include "cli/commands.h"

#include <CLI/CLI.hpp>

#include <iostream>

int main(int argc, char** argv) {
    CLI::App app{"pulsara-cli: the pulsara logic analyser from the command line"};
    app.require_subcommand(1);
    pulsara::cli::CommandContext context{std::cout, std::cerr};
    pulsara::cli::PULSARA_COMMAND(app, context);
#ifdef PULSARA_USAGE_STATUS
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? 0 : PULSARA_USAGE_STATUS;
    }
#else
    CLI11_PARSE(app, argc, argv);
#endif
    return context.exitCode;
}
