#pragma once
// The chip's register and endpoint state, shared by the register file (ezusb.cpp) and the
// host side of the USB core (usb_host.cpp).

#include "ezusb_regs.h"
#include "sim/ezusb/ezusb.h"

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace pulsara::sim {

// One direction of one endpoint. Unpaired endpoints hold one packet, paired ones two.
struct Endpoint {
    bool stall = false;
    std::uint8_t armed = 0;                        // OUT: buffers the core may fill
    std::deque<std::vector<std::uint8_t>> packets; // IN: armed by the 8051; OUT: received
    std::uint8_t lastBc = 0;                       // INnBC as last written
};

struct Ezusb::Impl {
    std::array<std::uint8_t, 256> regs{}; // plain storage for the 0x7Fxx page
    std::array<std::uint8_t, 256> floating{};
    std::array<std::uint8_t, 256> sink{};
    Endpoint in[8];
    Endpoint out[8];
    bool toggle[2][8] = {}; // [IO][ep], IO 1 = IN

    std::uint8_t usbirq = 0, in07irq = 0, out07irq = 0;
    bool hsnak = false;
    bool ep0Stall = false;
    // SUDPTR send in progress: next address and bytes left.
    bool sudptrActive = false;
    std::uint16_t sudptrAddr = 0;
    std::uint32_t sudptrLeft = 0;
    bool sudptrDone = false;

    std::uint16_t frame = 0;
    std::uint64_t nextSof = 0;
    bool suspended = false;
    bool wasConnected = false;

    // Counts register reads and writes: a loop that makes none cannot see time pass.
    std::uint64_t touches = 0;
    std::vector<std::uint8_t> idleBefore, idleAfter; // skipIdleLoop's snapshots

    // Set while a host call waits: USB-visible register writes stop the CPU.
    bool stopOnEvent = false;

    std::vector<std::string> firmwareFaults; // see Ezusb::firmwareFaults()

    // Default device (RENUM=0) state; a B0 EEPROM replaces the identity.
    std::uint16_t vendorId = kDefaultVendorId, productId = kDefaultProductId, deviceId = 0;
    std::uint8_t configuration = 0;
    std::uint8_t altSetting = 0;
};

} // namespace pulsara::sim
