// pulsara-cli's commands that need Qt (render) or the protocol decoders' Python (decode,
// find)
// run in programs of their own. Loading either takes longer than the whole of a short
// command such as export, so the pulsara-cli that users start links neither: this file's
// AddRenderCommand, AddDecodeCommand and AddFindCommand stand in for the real ones, and running the
// command replaces this process by pulsara-cli-<command>, found beside it, with the same
// arguments.

#include "capture_until.h"
#include "cli/commands.h"

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

namespace pulsara::cli {
namespace {

// This process's own arguments, as the kernel holds them.
std::vector<std::string> OwnArguments() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    const std::string all{std::istreambuf_iterator<char>(in), {}};
    std::vector<std::string> arguments;
    for (std::size_t start = 0; start < all.size();) {
        const std::size_t end = all.find('\0', start);
        arguments.push_back(all.substr(start, end - start));
        start = end == std::string::npos ? all.size() : end + 1;
    }
    return arguments;
}

// Replaces this process by pulsara-cli-<name> with the same arguments; returns only when
// that program cannot be run, having said so.
void RunSibling(CommandContext& context, const std::string& name) {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    const auto program = self.parent_path() / ("pulsara-cli-" + name);
    std::vector<std::string> arguments = OwnArguments();
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    if (!ec && !arguments.empty()) {
        context.out.flush();
        context.err.flush();
        ::execv(program.c_str(), argv.data());
    }
    context.err << "pulsara-cli: cannot run " << program.string() << " for `" << name
                << "`: " << (ec ? ec.message() : std::strerror(errno))
                << "; it is installed beside pulsara-cli, reinstall pulsara\n";
    context.exitCode = 1;
}

void AddForwardedCommand(CLI::App& app, CommandContext& context, const std::string& name,
                         const std::string& description) {
    auto* cmd = app.add_subcommand(name, description);
    // Everything after the name, --help included, is the other program's to read.
    cmd->prefix_command();
    cmd->set_help_flag();
    cmd->callback([&context, name] { RunSibling(context, name); });
}

} // namespace

void AddRenderCommand(CLI::App& app, CommandContext& context) {
    AddForwardedCommand(app, context, "render", "Load a capture and write its view as a PNG image");
}

void AddDecodeCommand(CLI::App& app, CommandContext& context) {
    AddForwardedCommand(app, context, "decode",
                        "Decode protocols in a capture with sigrok's decoders (-P STACK)");
}

// capture --until searches every capture, which may need the decoders: the capture runs in
// pulsara-cli-capture, from the start, with the same arguments.
int RunBoardCaptureUntil(EzusbDriver& /*driver*/, Capture& /*capture*/,
                         std::span<const std::uint8_t> /*image*/, BoardCaptureRequest /*request*/,
                         const UntilRequest& /*until*/, Clock& /*clock*/, std::ostream& out,
                         std::ostream& err) {
    CommandContext context{out, err};
    RunSibling(context, "capture");
    return context.exitCode;
}

void AddFindCommand(CLI::App& app, CommandContext& context) {
    AddForwardedCommand(app, context, "find",
                        "Find edges, pulses, values, patterns or decoded text in a capture");
}

} // namespace pulsara::cli
