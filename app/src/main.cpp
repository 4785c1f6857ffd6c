// pulsara: the desktop program. Start-up connects the board and loads "def.txt" from the
// working directory, then the main window runs until it is closed.

#include "app/about_dlg.h"
#include "app/viewer_app.h"
#include "app/viewer_services.h"
#include "device/instance_claim.h"
#include "device/libusb_driver.h"
#include "sim/driver/sim_driver.h"

#include <CLI/CLI.hpp>

#include <QApplication>

#include <cstdlib>
#include <iostream>
#include <memory>

#include "firmware/image.h"

namespace {

struct Options {
    std::string board = "usb";
    int instance = -1;
    int simBoards = 1;
    std::string simBoot = "old";
    double simSpeed = 1.0;
    std::optional<std::filesystem::path> analyse;
    std::int64_t simUnplugAfterMs = -1;
};

std::span<const std::uint8_t> BuiltInImage() {
    return pulsara::FirmwareImage();
}

bool HaveDisplay() {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    CLI::App cli{"pulsara: the desktop front end of the Varion USB logic analyser board"};
    cli.set_version_flag("--version", "pulsara Version 1.0");
    cli.add_option("--board", options.board, "driver backend: usb (real boards) or sim")
        ->check(CLI::IsMember({"usb", "sim"}));
    cli.add_option("--instance", options.instance,
                   "board instance 0..7 (default: the first free one)")
        ->check(CLI::Range(0, pulsara::kMaxInstances - 1));
    cli.add_option("--sim-boards", options.simBoards,
                   "simulated boards at instances 0..N-1 (--board sim; default 1)")
        ->check(CLI::Range(1, pulsara::sim::kMaxSimBoards));
    cli.add_option("--sim-boot", options.simBoot,
                   "what the simulated boards boot: old (reloaded at start-up), current or "
                   "blank (no EEPROM); default old")
        ->check(CLI::IsMember({"old", "current", "blank"}));
    cli.add_option("--sim-speed", options.simSpeed,
                   "board seconds per real second (default 1); 0: a capture completes as soon "
                   "as it is polled")
        ->check(CLI::Range(0.0, 1e6));
    cli.add_option("--sim-unplug-after-ms", options.simUnplugAfterMs,
                   "pull the simulated boards' cables after this much board time (default: "
                   "never)")
        ->check(CLI::Range(std::int64_t{0}, std::int64_t{86'400'000}));
    cli.add_option("--analysis", options.analyse,
                   "load this capture (.wfa, .vcd, .sr) and open the analysis window");
    CLI11_PARSE(cli, argc, argv);

    if (!HaveDisplay()) {
        std::cerr << "pulsara: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); run it "
                     "in a desktop session, or use pulsara-cli\n";
        return 1;
    }

    pulsara::ExportRuntimeDirectory();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("pulsara"));
    QApplication::setWindowIcon(pulsara::ProgramIcon());

    pulsara::EventPumpingClock clock;
    std::unique_ptr<pulsara::EzusbDriver> driver;
    std::filesystem::path lockDirectory = pulsara::DefaultLockDirectory();
    if (options.board == "sim") {
        const pulsara::sim::SimOptions sim{
            options.simBoards,
            pulsara::sim::ParseSimBoot(options.simBoot).value_or(pulsara::sim::SimBoot::Old),
            options.simSpeed, options.simUnplugAfterMs};
        driver = std::make_unique<pulsara::sim::SimDriver>(sim, clock);
        lockDirectory = pulsara::sim::SimLockDirectory();
    } else {
        auto usb = std::make_unique<pulsara::LibusbDriver>();
        if (!usb->initError().empty()) {
            std::cerr << "pulsara: " << usb->initError() << "\n";
        }
        driver = std::move(usb);
    }
    pulsara::QtStartupUi startupUi;
    pulsara::StartupEnvironment environment{*driver, BuiltInImage(), clock, startupUi, std::cout};
    environment.instance = options.instance;
    environment.lockDirectory = lockDirectory;
    pulsara::CViewerApp viewer(environment);
    pulsara::QtViewerServices services;
    viewer.InitInstance(services, options.analyse);
    return 0;
}
