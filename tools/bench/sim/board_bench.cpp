// The simulated board behind the real host code: what a capture costs in host CPU, split
// into the chip's start-up, the capture and the read-out, the GUI's 400 ms poll while a
// real-time capture runs, and the whole `pulsara-cli capture --board sim` process.

#include "capture/capture.h"
#include "device/capture_protocol.h"
#include "device/device_link.h"
#include "device/firmware_loader.h"
#include "firmware/image.h"
#include "sim/driver/sim_driver.h"
#include "support/temp_dir.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <unistd.h>

namespace {

using namespace pulsara;
using namespace pulsara::sim;

class BenchClock final : public Clock {
public:
    std::chrono::milliseconds Now() override { return now; }
    void SleepFor(std::chrono::milliseconds d) override { now += d; }
    std::chrono::milliseconds now{0};
};

struct NoEvents final : ConnectEvents {
    void ConnectFailed(std::string_view, const ConnectResult&) override {}
};

// The run's lock files and captures, removed at exit.
const std::filesystem::path& BenchDir() {
    static const test::TempDir dir;
    return dir.path();
}

// A connected board (booted "current") at speed 0, for the capture and read-out.
struct Connected {
    explicit Connected(double speed = 0.0)
        : driver({1, SimBoot::Current, speed}, clock), link(driver, messages, BenchDir()) {
        NoEvents events;
        ok = ConnectAtStartup(link, FirmwareImage(), clock, events).ok();
        capture->settings.triggerProbe = kTriggerProbeHdl;
    }
    BenchClock clock;
    SimDriver driver;
    std::ostringstream messages;
    DeviceLink link;
    std::unique_ptr<Capture> capture = std::make_unique<Capture>();
    bool ok = false;
};

bool StatusComplete(DeviceLink& link) {
    const std::uint8_t query = 0x24;
    std::uint8_t status = 0;
    (void)BulkWrite(link, kCommandPipe, {&query, 1});
    (void)BulkRead(link, kReplyPipe, {&status, 1});
    return (status & kStatusComplete) != 0;
}

// Power-on to enumerated: the firmware's start-up with its 1.5 s reconnect wait.
void BM_SimBoard_StartUp(benchmark::State& state) {
    for (auto _ : state) {
        BenchClock clock;
        SimDriver driver{{1, SimBoot::Current, 0.0}, clock};
        const DriverHandle h = driver.Open(0);
        benchmark::DoNotOptimize(h);
        if (h == kInvalidHandle) {
            state.SkipWithError("the board did not come onto the bus");
            return;
        }
    }
}
BENCHMARK(BM_SimBoard_StartUp)->UseRealTime()->Unit(benchmark::kMillisecond);

// StartCapture at 100 MHz, then status queries until complete (speed 0: the first).
void BM_SimBoard_Capture100MHz(benchmark::State& state) {
    Connected board;
    if (!board.ok) {
        state.SkipWithError("connect failed");
        return;
    }
    for (auto _ : state) {
        (void)StartCapture(board.link, board.capture->settings);
        while (!StatusComplete(board.link)) {
        }
        state.PauseTiming();
        (void)PollCapture(board.link, *board.capture);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_SimBoard_Capture100MHz)->UseRealTime()->Unit(benchmark::kMillisecond);

// The completed poll: 131072 bytes through the firmware, the unfilled count, back to idle.
void BM_SimBoard_ReadOut(benchmark::State& state) {
    Connected board;
    if (!board.ok) {
        state.SkipWithError("connect failed");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        (void)StartCapture(board.link, board.capture->settings);
        state.ResumeTiming();
        if (PollCapture(board.link, *board.capture) != PollResult::Complete) {
            state.SkipWithError("the capture did not complete");
            return;
        }
    }
}
BENCHMARK(BM_SimBoard_ReadOut)->UseRealTime()->Unit(benchmark::kMillisecond);

// The GUI at --sim-speed 1: one 400 ms timer tick (board time catching up, then a status
// query) while a 1 kHz capture runs for 33 s; completed polls are left out.
void BM_SimBoard_PollTickRealTime(benchmark::State& state) {
    Connected board{1.0};
    if (!board.ok) {
        state.SkipWithError("connect failed");
        return;
    }
    board.capture->settings.rateIndex = 14;
    (void)StartCapture(board.link, board.capture->settings);
    for (auto _ : state) {
        board.clock.now += std::chrono::milliseconds(400);
        if (PollCapture(board.link, *board.capture) == PollResult::Complete) {
            state.PauseTiming();
            (void)StartCapture(board.link, board.capture->settings);
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_SimBoard_PollTickRealTime)->UseRealTime()->Unit(benchmark::kMicrosecond);

#ifdef PULSARA_CLI
// The whole process, from start to both files written.
void BM_Cli_CaptureSim100MHz(benchmark::State& state) {
    const auto& dir = BenchDir();
    const std::string command = "cd '" + dir.string() + "' && XDG_RUNTIME_DIR='" + dir.string() +
                                "' '" PULSARA_CLI "' capture --board sim --sim-boot current "
                                "--sim-speed 0 --rate 100MHz -o x.wfa >/dev/null 2>&1";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("pulsara-cli capture failed");
            return;
        }
    }
}
BENCHMARK(BM_Cli_CaptureSim100MHz)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(21)
    ->ComputeStatistics("min", [](const std::vector<double>& v) {
        return *std::min_element(v.begin(), v.end());
    });
#endif

} // namespace

BENCHMARK_MAIN();
