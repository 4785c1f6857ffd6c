#pragma once
// Wraps a driver and writes one line per call: open, close, and each I/O control with its
// name, input record in hex, output length, result and bytes returned.

#include "device/ezusb_driver.h"

#include <iosfwd>

namespace pulsara {

class TracingDriver final : public EzusbDriver {
public:
    TracingDriver(EzusbDriver& inner, std::ostream& trace) : inner_(inner), trace_(trace) {}

    [[nodiscard]] DriverHandle Open(int instance) override;
    void Close(DriverHandle handle) override;
    IoResult IoControl(DriverHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                       std::span<std::uint8_t> output) override;
    [[nodiscard]] std::string DescribeInstance(int instance) override {
        return inner_.DescribeInstance(instance);
    }
    [[nodiscard]] std::string TakeError() override { return inner_.TakeError(); }

private:
    EzusbDriver& inner_;
    std::ostream& trace_;
};

} // namespace pulsara
