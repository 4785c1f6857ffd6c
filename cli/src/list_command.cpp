// pulsara-cli list: the board instances each driver backend sees.

#include "cli/board_session.h"
#include "cli/commands.h"
#include "device/clock.h"
#include "device/instance_claim.h"
#include "device/libusb_driver.h"
#include "sim_options.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <ostream>
#include <string>

namespace pulsara::cli {

void AddListCommand(CLI::App& app, CommandContext& context) {
    auto* cmd = app.add_subcommand("list", "List the attached boards and what firmware they run");
    auto board = std::make_shared<std::string>();
    auto sim = std::make_shared<SimCliOptions>();
    cmd->add_option("--board", *board, "list only this backend: usb (real boards) or sim")
        ->check(CLI::IsMember({"usb", "sim"}));
    AddSimOptions(*cmd, *sim);
    cmd->callback([&context, board, sim] {
        if (board->empty() || *board == "usb") {
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
        }
        if (board->empty() || *board == "sim") {
            SystemClock clock;
            sim::SimDriver driver{sim->ToSimOptions(), clock};
            context.out << "sim (simulated boards, --sim-boot " << sim->boot << "):\n";
            (void)ListBoards(driver, sim::SimLockDirectory(), context.out);
        }
    });
}

} // namespace pulsara::cli
