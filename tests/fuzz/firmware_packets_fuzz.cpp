// The board's firmware on the emulated chip fed random packets on endpoint 1 OUT. Each
// input is a run of packets, each a length byte (mod 65) and that many bytes; the host
// reads whatever the firmware answers between them. However they went, the firmware must
// not wedge: once its replies are drained, 0x10 and then 0x24 still get the status byte.

#include "firmware/image.h"
#include "fuzz_support.h"
#include "sim/board/board.h"

#include <memory>
#include <span>

namespace {

using namespace pulsara;
using namespace pulsara::sim;

constexpr std::uint64_t kPacketBudget = kCyclesPerFrame;
// The last status query may take its time; a wedged firmware never answers it.
constexpr std::uint64_t kStatusBudget = 20 * kCyclesPerFrame;
// A read-out is at most 65535 packets and a short one; a few of them in a row are drained.
constexpr int kMostDrained = 4 * 65536;

// Reads IN packets until none comes; false when the firmware is still sending after the
// limit (such an input says nothing about wedging).
bool Drain(Ezusb& chip, int& drained) {
    while (drained < kMostDrained) {
        const UsbResult r = chip.bulkIn(2, kPacketBudget);
        if (!r.ok()) {
            return true;
        }
        ++drained;
    }
    return false;
}

std::unique_ptr<Board> BootedBoard() {
    auto board = std::make_unique<Board>(SimBoot::Current, FirmwareImage());
    Ezusb& chip = board->chip();
    // Booted from its EEPROM, the firmware leaves the bus and comes back as our device.
    const std::uint32_t first = chip.connectCount();
    if (!chip.runUntil([&] { return chip.connected() && chip.connectCount() != first; },
                       4 * kCyclesPerSecond)) {
        fuzz::Broken("the firmware did not come onto the bus");
    }
    chip.run(2 * kCyclesPerFrame);
    chip.busReset();
    const UsbResult device = chip.controlTransfer({0x80, 6, 0x0100, 0, 18});
    const UsbResult config = chip.controlTransfer({0x00, 9, 1, 0, 0});
    if (!device.ok() || !config.ok()) {
        std::fprintf(stderr, "%s %s\n", device.message.c_str(), config.message.c_str());
        fuzz::Broken("the firmware was not configured");
    }
    const std::uint8_t startup[] = {0x07, 0x10};
    if (!chip.bulkOut(1, startup, kPacketBudget).ok()) {
        fuzz::Broken("the start-up command was not taken");
    }
    return board;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto board = BootedBoard();
    Ezusb& chip = board->chip();
    int drained = 0;
    const std::span<const std::uint8_t> input(data, size);
    for (std::size_t at = 0; at < input.size();) {
        const std::size_t length = std::min<std::size_t>(input[at] % 65, input.size() - at - 1);
        const auto packet = input.subspan(at + 1, length);
        at += 1 + length;
        // A firmware busy sending may refuse a packet until its replies are read.
        if (!chip.bulkOut(1, packet, kPacketBudget).ok()) {
            if (!Drain(chip, drained)) {
                return 0;
            }
            (void)chip.bulkOut(1, packet, kPacketBudget);
        }
        if (!Drain(chip, drained)) {
            return 0;
        }
    }
    const std::uint8_t idle[] = {0x10};
    const std::uint8_t status[] = {0x24};
    if (!chip.bulkOut(1, idle, kPacketBudget).ok()) {
        fuzz::Broken("0x10 was not taken");
    }
    if (!Drain(chip, drained)) {
        return 0;
    }
    if (!chip.bulkOut(1, status, kPacketBudget).ok()) {
        fuzz::Broken("0x24 was not taken");
    }
    const UsbResult reply = chip.bulkIn(2, kStatusBudget);
    if (!reply.ok() || reply.data.size() != 1) {
        fuzz::Broken("0x24 got no status byte");
    }
    return 0;
}
