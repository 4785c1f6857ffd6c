#include "sim/board/board.h"

namespace pulsara::sim {
namespace {

constexpr std::uint8_t kModeLines = 0x07;
constexpr std::uint8_t kStatusLine = 0x08;

} // namespace

Board::Board(SimBoot boot, std::span<const std::uint8_t> firmware) : boot_(boot) {
    chip_.setBoard(this);
    if (boot == SimBoot::Blank) {
        chip_.powerOn();
        return;
    }
    const auto eeprom = BootEeprom(firmware, boot == SimBoot::Old ? kOldProductString : "");
    if (!eeprom) {
        bootError_ = "the firmware image cannot be put into a boot EEPROM";
        chip_.powerOn();
        return;
    }
    const auto booted = chip_.powerOnFromEeprom(*eeprom);
    if (!booted.ok) {
        bootError_ = booted.error;
    }
}

std::optional<std::uint64_t> Board::CaptureCompletionCycle() const {
    const auto ns = logic_.CompletionNs();
    if (!ns) {
        return std::nullopt;
    }
    return NsToCycles(*ns);
}

std::uint8_t Board::portPins(Port port, std::uint64_t cycle) {
    if (port != Port::C) {
        return 0xFF;
    }
    // Undriven mode lines and the unused inputs are pulled low.
    return logic_.StatusLine(CyclesToNs(cycle)) ? kStatusLine : 0;
}

void Board::portChanged(Port port, std::uint8_t out, std::uint8_t oe, std::uint64_t cycle) {
    if (port == Port::C) {
        logic_.SetMode(out & oe & kModeLines, CyclesToNs(cycle));
    }
}

std::uint8_t Board::fastRead(std::uint64_t /*cycle*/) {
    return logic_.ReadStrobe();
}

void Board::fastWrite(std::uint8_t byte, std::uint64_t /*cycle*/) {
    logic_.WriteStrobe(byte);
}

} // namespace pulsara::sim
