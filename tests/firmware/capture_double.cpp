#include "capture_double.h"

namespace pulsara::test {

std::uint8_t CaptureDouble::portPins(Port port, std::uint64_t /*cycle*/) {
    if (port != Port::C) {
        return 0xFF;
    }
    // The firmware samples after each group: after group k, modeReads == 8k.
    const bool status = mode() == 6 ? modeReads > 8ull * unfilledGroups : statusHigh;
    // Undriven mode lines are pulled low on the board.
    return static_cast<std::uint8_t>((spareInputs & 0xF0) | (status ? 0x08 : 0x00));
}

void CaptureDouble::portChanged(Port port, std::uint8_t out, std::uint8_t oe,
                                std::uint64_t /*cycle*/) {
    if (port == Port::C) {
        const int before = mode();
        out_ = out;
        oe_ = oe;
        if (mode() == 6 && before != 6) {
            modeReads = 0;
        }
    }
}

std::uint8_t CaptureDouble::fastRead(std::uint64_t /*cycle*/) {
    ++reads;
    if (mode() != 6) {
        return registerByte;
    }
    const std::uint64_t at = modeReads++;
    return memory.empty() ? 0 : memory[at % memory.size()];
}

} // namespace pulsara::test
