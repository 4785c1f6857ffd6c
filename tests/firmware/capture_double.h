#pragma once
// A stand-in for the board's capture logic on the chip's port lines and data bus: it sees
// the mode lines (port C 0-2), drives the status line (port C 3) and the spare inputs
// (port C 4-7), takes bytes on FWR# and serves bytes on FRD#.

#include "sim/ezusb/ezusb.h"

#include <cstdint>
#include <vector>

namespace pulsara::test {
using namespace pulsara::sim;

class CaptureDouble final : public EzusbBoard {
public:
    static constexpr int kUndriven = -1;
    struct BusWrite {
        int mode; // mode lines at the strobe
        std::uint8_t byte;
    };

    // Set by the test. Outside mode 6 the status line is `statusHigh`; in mode 6 it reads
    // low after each of the first `unfilledGroups` 8-byte groups read since entering it.
    bool statusHigh = false;
    std::uint32_t unfilledGroups = 0;
    std::uint8_t spareInputs = 0;
    std::vector<std::uint8_t> memory; // mode 6 reads, wrapping
    std::uint8_t registerByte = 0x5A; // reads in any other mode

    // Checked by the test.
    [[nodiscard]] int mode() const { return (oe_ & 7) == 7 ? out_ & 7 : kUndriven; }
    [[nodiscard]] std::uint8_t outputEnables() const { return oe_; }
    std::vector<BusWrite> writes;
    std::uint64_t reads = 0;     // FRD# pulses in all modes
    std::uint64_t modeReads = 0; // FRD# pulses since entering mode 6

    std::uint8_t portPins(Port port, std::uint64_t cycle) override;
    void portChanged(Port port, std::uint8_t out, std::uint8_t oe, std::uint64_t cycle) override;
    std::uint8_t fastRead(std::uint64_t cycle) override;
    void fastWrite(std::uint8_t byte, std::uint64_t /*cycle*/) override {
        writes.push_back({mode(), byte});
    }

private:
    std::uint8_t out_ = 0;
    std::uint8_t oe_ = 0;
};

} // namespace pulsara::test
