#pragma once
// One read-out through LibusbDriver, the same for every transport below libusb: the board
// (our firmware, current) is connected once; each iteration arms a 100 MHz capture at TOP
// (untimed) and times the poll that finds it complete and reads its 131072 bytes.

#include "device/capture_cycle.h"
#include "device/firmware_loader.h"
#include "device/libusb_driver.h"
#include "firmware/image.h"
#include "support/temp_dir.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <sstream>

namespace pulsara::bench {

class NoWaitClock final : public Clock {
public:
    std::chrono::milliseconds Now() override { return now; }
    void SleepFor(std::chrono::milliseconds d) override { now += d; }
    std::chrono::milliseconds now{0};
};

struct NoEvents final : ConnectEvents {
    void ConnectFailed(std::string_view, const ConnectResult&) override {}
};

// settle(): lets the board finish the capture before the timed poll (untimed).
template <typename Settle>
void TimeReadOuts(benchmark::State& state, LibusbDriver& driver, Clock& clock, Settle settle) {
    const test::TempDir locks;
    std::ostringstream messages;
    DeviceLink link{driver, messages, locks.path()};
    NoEvents events;
    if (!ConnectAtStartup(link, FirmwareImage(), clock, events).ok()) {
        state.SkipWithError("the board could not be connected");
        return;
    }
    Capture capture;
    CaptureCycle cycle;
    for (auto _ : state) {
        state.PauseTiming();
        if (!StartStop(cycle, link, capture, {0, 0, 0, 15}).settingsSent) {
            state.SkipWithError("the board did not take the start");
            break;
        }
        settle();
        state.ResumeTiming();
        if (!CaptureTick(cycle, link, capture, 0).completed()) {
            state.SkipWithError("the read-out failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 131072);
}

} // namespace pulsara::bench
