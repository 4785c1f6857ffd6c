#pragma once
// The simulated board behind the real host code: a driver that records every call on the
// way to a SimDriver, and a virtual wall clock.

#include "device/clock.h"
#include "device/device_link.h"
#include "device/ezusb_driver.h"
#include "sim/driver/sim_driver.h"
#include "support/temp_dir.h"
#include "support/virtual_clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace pulsara::test {
using namespace pulsara::sim;

struct RecordedCall {
    int openedInstance = -1; // Open: the instance asked for; I/O controls: -1
    bool closed = false;     // Close
    std::uint32_t code = 0;
    std::vector<std::uint8_t> input;
    std::size_t outputLength = 0;
    bool ok = false;
};

class RecordingDriver final : public EzusbDriver {
public:
    explicit RecordingDriver(EzusbDriver& inner) : inner_(inner) {}
    DriverHandle Open(int instance) override {
        const DriverHandle h = inner_.Open(instance);
        calls.push_back({instance, false, 0, {}, 0, h != kInvalidHandle});
        return h;
    }
    void Close(DriverHandle handle) override {
        inner_.Close(handle);
        calls.push_back({-1, true, 0, {}, 0, true});
    }
    IoResult IoControl(DriverHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                       std::span<std::uint8_t> output) override {
        const IoResult r = inner_.IoControl(handle, code, input, output);
        calls.push_back({-1, false, code, {input.begin(), input.end()}, output.size(), r.ok});
        return r;
    }
    std::vector<RecordedCall> calls;

private:
    EzusbDriver& inner_;
};

} // namespace pulsara::test
