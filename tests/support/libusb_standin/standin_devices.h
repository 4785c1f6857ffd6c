#pragma once
// What the stand-in's two halves share: the bus's ports and devices (standin_bus.cpp) and
// the libusb objects that the API (libusb_api.cpp) hands out for them.

#include "libusb.h"
#include "standin_bus.h"

#include <cstdint>
#include <memory>
#include <vector>

struct libusb_context {
    int unused = 0;
};

struct libusb_device {
    pulsara::test::StandinBus::Device* device = nullptr;
};

struct libusb_device_handle {
    libusb_device* device = nullptr;
};

namespace pulsara::test {

struct StandinBus::Port {
    int number = 0;
    std::unique_ptr<Board> board;
    std::uint32_t connection = 0; // the chip's connect count the host last saw
    std::uint64_t connectedAt = 0;
    bool enumerationTried = false;
    Device* current = nullptr; // enumerated for this connection
};

struct StandinBus::Device {
    libusb_device handle;
    Port* port = nullptr;
    std::uint32_t connection = 0;
    std::uint8_t address = 0;
    std::vector<std::uint8_t> deviceDescriptor;
    std::vector<std::uint8_t> configuration;
    libusb_device_handle* claimant = nullptr; // holds interface 0

    [[nodiscard]] bool alive() const {
        Ezusb& chip = port->board->chip();
        return port->current == this && chip.connected() && chip.connectCount() == connection;
    }
};

} // namespace pulsara::test
