#pragma once
// A stand-in for the board's capture logic, on the chip's port lines and data bus: it
// sees the mode lines (port C 0-2), drives the status line (port C 3) and the spare inputs
// (port C 4-7), takes register bytes on FWR# and serves bytes on FRD#.

#include "sim/ezusb.h"

#include <cstdint>
#include <vector>

namespace pulsara::test {

class CaptureDouble final : public EzusbBoard {
public:
    static constexpr int kUndriven = -1;

    struct BusWrite {
        int mode; // mode lines at the strobe
        std::uint8_t byte;
    };

    // --- what the test sets ---
    // Status line outside mode 6 (in mode 4: capture complete).
    bool statusHigh = false;
    // Mode 6: the status line reads low after each of the first `unfilledGroups` 8-byte
    // groups and high after the rest; groups counted from the last entry into mode 6.
    std::uint32_t unfilledGroups = 0;
    // Port C bits 4-7 as the board drives them.
    std::uint8_t spareInputs = 0;
    // Mode 6 reads come from here (wrapping); any other mode's read gives registerByte.
    std::vector<std::uint8_t> memory;
    std::uint8_t registerByte = 0x5A;

    // --- what the test checks ---
    [[nodiscard]] int mode() const { return (oe_ & 7) == 7 ? out_ & 7 : kUndriven; }
    [[nodiscard]] std::uint8_t outputEnables() const { return oe_; }
    std::vector<BusWrite> writes;
    std::uint64_t reads = 0;     // FRD# pulses in all modes
    std::uint64_t modeReads = 0; // FRD# pulses since entering mode 6

    // EzusbBoard
    std::uint8_t portPins(Port port, std::uint64_t cycle) override;
    void portChanged(Port port, std::uint8_t out, std::uint8_t oe, std::uint64_t cycle) override;
    std::uint8_t fastRead(std::uint64_t cycle) override;
    void fastWrite(std::uint8_t byte, std::uint64_t cycle) override;

private:
    std::uint8_t out_ = 0;
    std::uint8_t oe_ = 0;
};

} // namespace pulsara::test
