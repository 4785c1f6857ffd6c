// pulsara: the desktop program. Start-up connects the board and loads "def.txt" from the
// working directory, then the main window runs until it is closed.

#include "app/about_dlg.h"
#include "app/viewer_app.h"
#include "app/viewer_services.h"
#include "device/libusb_driver.h"

#include <CLI/CLI.hpp>

#include <QApplication>

#include <cstdlib>
#include <iostream>
#include <memory>

#if PULSARA_HAVE_FIRMWARE_IMAGE
#include "firmware/image.h"
#endif

namespace {

struct Options {
    std::string board = "usb";
    int instance = -1;
};

std::span<const std::uint8_t> BuiltInImage() {
#if PULSARA_HAVE_FIRMWARE_IMAGE
    return pulsara::FirmwareImage();
#else
    return {};
#endif
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
    CLI11_PARSE(cli, argc, argv);

    if (!HaveDisplay()) {
        std::cerr << "pulsara: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); run it "
                     "in a desktop session, or use pulsara-cli\n";
        return 1;
    }
    if (options.board == "sim") {
        std::cerr << "pulsara: the simulated board (--board sim) is not in this build\n";
        return 1;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("pulsara"));
    QApplication::setWindowIcon(pulsara::ProgramIcon());

    pulsara::LibusbDriver usb;
    if (!usb.initError().empty()) {
        std::cerr << "pulsara: " << usb.initError() << "\n";
    }
    pulsara::EventPumpingClock clock;
    pulsara::QtStartupUi startupUi;
    pulsara::StartupEnvironment environment{usb, BuiltInImage(), clock, startupUi, std::cout};
    environment.instance = options.instance;
    pulsara::CViewerApp viewer(environment);
    pulsara::QtViewerServices services;
    viewer.InitInstance(services);
    return 0;
}
