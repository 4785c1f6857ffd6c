#pragma once
// Pulls the simulated board's cable at a stage of the capture, as the host's calls see it:
// during the wait (after the n-th status reply "still capturing"), between the two (right
// after the reply "complete", before the read-out command), or during the read-out (after
// the n-th of its four pieces). Every call passes through to the simulated driver.

#include "device/capture_protocol.h"
#include "device/device_link.h"
#include "device/ezusb_driver.h"
#include "sim/driver/sim_driver.h"

#include <cstdint>
#include <string>

namespace pulsara::test {
using namespace pulsara::sim;

enum class CutStage { Never, Wait, Between, ReadOut };

[[nodiscard]] inline const char* CutStageName(CutStage stage) {
    switch (stage) {
    case CutStage::Never:
        return "never";
    case CutStage::Wait:
        return "during the wait";
    case CutStage::Between:
        return "between the wait and the read-out";
    case CutStage::ReadOut:
        return "during the read-out";
    }
    return "?";
}

class CableCutter final : public EzusbDriver {
public:
    CableCutter(SimDriver& sim, CutStage stage, int nth = 2)
        : sim_(sim), stage_(stage), nth_(nth) {}

    [[nodiscard]] DriverHandle Open(int instance) override { return sim_.Open(instance); }
    void Close(DriverHandle handle) override { sim_.Close(handle); }
    IoResult IoControl(DriverHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                       std::span<std::uint8_t> output) override {
        const IoResult result = sim_.IoControl(handle, code, input, output);
        if (cut_ || code != IOCTL_EZUSB_BULK_READ || !result.ok) {
            return result;
        }
        const bool status = output.size() == 1 && result.bytesReturned == 1;
        const bool piece = output.size() == kBulkChunkBytes;
        const bool due =
            (stage_ == CutStage::Wait && status && (output[0] & kStatusComplete) == 0 &&
             ++seen_ == nth_) ||
            (stage_ == CutStage::Between && status && (output[0] & kStatusComplete) != 0) ||
            (stage_ == CutStage::ReadOut && piece && ++seen_ == nth_);
        if (due) {
            sim_.UnplugAt(0, 0);
            cut_ = true;
        }
        return result;
    }
    [[nodiscard]] std::string DescribeInstance(int instance) override {
        return sim_.DescribeInstance(instance);
    }
    [[nodiscard]] std::string TakeError() override { return sim_.TakeError(); }

    [[nodiscard]] bool cut() const { return cut_; }

private:
    SimDriver& sim_;
    CutStage stage_;
    int nth_;
    int seen_ = 0;
    bool cut_ = false;
};

} // namespace pulsara::test
