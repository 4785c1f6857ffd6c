// pulsara-cli list: the board instances each driver backend sees.

#include "cli/board_session.h"
#include "cli/commands.h"
#include "device/instance_claim.h"
#include "device/libusb_driver.h"

#include <CLI/CLI.hpp>

#include <ostream>

namespace pulsara::cli {

void AddListCommand(CLI::App& app, CommandContext& context) {
    auto* cmd = app.add_subcommand("list", "List the attached boards and what firmware they run");
    cmd->callback([&context] {
        LibusbDriver usb;
        if (!usb.initError().empty()) {
            context.err << "pulsara-cli: usb: " << usb.initError()
                        << "; real boards cannot be reached\n";
            context.exitCode = 1;
        } else {
            context.out << "usb (libusb, USB ID 0547:2131):\n";
            if (ListBoards(usb, DefaultLockDirectory(), context.out) == 0) {
                context.out << "  no boards found\n";
            }
        }
        context.out << "sim (simulated board): not available in this build yet\n";
    });
}

} // namespace pulsara::cli
