#pragma once
// The committed firmware image running on the emulated chip, with the capture double on
// its port lines and data bus, driven the way a USB host would.

#include "capture_double.h"
#include "firmware/image.h"
#include "sim/ezusb/ezusb.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pulsara::test {
using namespace pulsara::sim;

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kGetStatus = 0, kClearFeature = 1, kSetFeature = 3,
                              kGetDescriptor = 6, kGetConfiguration = 8, kSetConfiguration = 9,
                              kGetInterface = 10, kSetInterface = 11;

class FirmwareBoard : public ::testing::Test {
protected:
    FirmwareBoard() { chip.setBoard(&board); }
    // Whatever a test did, the firmware never misused the chip.
    void TearDown() override { EXPECT_EQ(chip.firmwareFaults(), std::vector<std::string>{}); }

    // Downloads the image and runs until the firmware is back on the bus. Returns the
    // board time from the release of the 8051 to the reconnection, in cycles.
    std::uint64_t boot() {
        const UsbResult load = chip.loadFirmware(FirmwareImage());
        EXPECT_TRUE(load.ok()) << load.message;
        const std::uint64_t released = chip.cycles();
        const std::uint32_t before = chip.connectCount();
        const bool back =
            chip.runUntil([&] { return chip.connectCount() != before && chip.connected(); },
                          4 * kCyclesPerSecond);
        EXPECT_TRUE(back) << "the firmware did not reconnect within 4 s of board time";
        return chip.cycles() - released;
    }

    // Boots and enumerates as a host would: bus reset, device descriptor, configuration.
    void bootAndConfigure() {
        boot();
        chip.busReset();
        ASSERT_EQ(control({0x80, kGetDescriptor, 0x0100, 0, 18}).data.size(), 18u);
        ASSERT_TRUE(control({0x00, kSetConfiguration, 1, 0, 0}).ok());
    }

    UsbResult control(const UsbSetup& setup, std::span<const std::uint8_t> out = {}) {
        return chip.controlTransfer(setup, out);
    }

    // One command packet on endpoint 1 OUT; the host's write must be taken. Then runs the
    // chip until the firmware has handled the packet and re-armed the endpoint (a packet
    // that has to wait for endpoint 2 IN leaves it unarmed: then 2 ms pass).
    void send(const Bytes& packet) {
        const UsbResult r = chip.bulkOut(1, packet);
        ASSERT_TRUE(r.ok()) << r.message;
        constexpr std::uint16_t kOut1Cs = 0x7FC6;
        chip.runUntil([&] { return (chip.peekXdata(kOut1Cs) & 0x02) != 0; }, 2 * kCyclesPerFrame);
        chip.run(kHandlerTail); // the re-arm is not the handler's last instruction
    }
    static constexpr std::uint64_t kHandlerTail = 64;

    // The next packet on endpoint 2 IN, or nothing if none comes within `budget`.
    std::optional<Bytes> receive(std::uint64_t budget = kCyclesPerFrame * 20) {
        UsbResult r = chip.bulkIn(2, budget);
        if (r.status == UsbStatus::Timeout) {
            return std::nullopt;
        }
        EXPECT_TRUE(r.ok()) << r.message;
        return std::move(r.data);
    }

    Ezusb chip;
    CaptureDouble board;
};

} // namespace pulsara::test
