#pragma once
// Wraps a driver and spoils one I/O control, to see what the host code makes of a flaky
// cable: the k-th call (counting from 1) fails outright, or comes back short. Every other
// call, and every open and close, passes through unchanged.

#include "device/ezusb_driver.h"

#include <cstdint>

namespace pulsara {

enum class IoFault {
    Fail,  // the call reports failure; a write sends nothing, a read delivers nothing
    Short, // the call succeeds but moves only half of its bytes (rounded down)
};

class FaultyDriver final : public EzusbDriver {
public:
    // faultAt 0 never spoils a call: the wrapper then only counts.
    FaultyDriver(EzusbDriver& inner, std::uint32_t faultAt, IoFault fault)
        : inner_(inner), faultAt_(faultAt), fault_(fault) {}

    [[nodiscard]] DriverHandle Open(int instance) override { return inner_.Open(instance); }
    void Close(DriverHandle handle) override { inner_.Close(handle); }
    IoResult IoControl(DriverHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                       std::span<std::uint8_t> output) override;
    [[nodiscard]] std::string DescribeInstance(int instance) override {
        return inner_.DescribeInstance(instance);
    }
    [[nodiscard]] std::string TakeError() override { return inner_.TakeError(); }

    // I/O controls seen so far, the spoilt one included.
    [[nodiscard]] std::uint32_t calls() const { return calls_; }
    // The spoilt call's code, once it has happened.
    [[nodiscard]] bool fired() const { return faultAt_ != 0 && calls_ >= faultAt_; }
    [[nodiscard]] std::uint32_t firedCode() const { return firedCode_; }

private:
    EzusbDriver& inner_;
    std::uint32_t faultAt_;
    IoFault fault_;
    std::uint32_t calls_ = 0;
    std::uint32_t firedCode_ = 0;
};

} // namespace pulsara
