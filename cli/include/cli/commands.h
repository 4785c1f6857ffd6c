#pragma once
// pulsara-cli's subcommands. Each one registers itself on the application and, when run,
// stores its exit status in the shared context.

#include <iosfwd>

namespace CLI {
class App;
}

namespace pulsara::cli {

struct CommandContext {
    std::ostream& out;
    std::ostream& err;
    int exitCode = 0;
};

void AddInfoCommand(CLI::App& app, CommandContext& context);
void AddCopyCommand(CLI::App& app, CommandContext& context);
void AddListCommand(CLI::App& app, CommandContext& context);
void AddCaptureCommand(CLI::App& app, CommandContext& context);
void AddRenderCommand(CLI::App& app, CommandContext& context);
void AddExportCommand(CLI::App& app, CommandContext& context);
void AddImportCommand(CLI::App& app, CommandContext& context);
void AddMeasureCommand(CLI::App& app, CommandContext& context);
void AddDecodeCommand(CLI::App& app, CommandContext& context);
void AddFindCommand(CLI::App& app, CommandContext& context);
// Its bad input (arguments included) exits with status 2, since 1 means "they differ".
void AddDiffCommand(CLI::App& app, CommandContext& context);

} // namespace pulsara::cli
