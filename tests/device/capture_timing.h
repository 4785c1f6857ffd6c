#pragma once
// The simulated board's capture timing, for tests that capture the same signals through
// two paths (the simulator's driver and a libusb one) and compare them sample for sample.

#include "device/capture_cycle.h"
#include "sim/board/board.h"
#include "sim/board/capture_logic.h"

#include <chrono>
#include <cstdint>
#include <vector>

namespace pulsara::test {

// The signal generator's patterns repeat every 2.048 s of board time (counter and 1 ms
// frame together): captures started in the same millisecond of that period match.
inline constexpr std::uint64_t kCyclesPerMs = sim::kCyclesPerSecond / 1000;
inline constexpr std::uint64_t kPatternCycles = 2048 * kCyclesPerMs;

inline std::uint64_t NextPatternStart(std::uint64_t cycle) {
    return (cycle / kPatternCycles + 1) * kPatternCycles;
}

// The board time of the first sample of the running 1 kHz capture at CENTER.
inline std::uint64_t FirstSampleCycle(const sim::Board& board) {
    constexpr std::uint64_t kSamplesAfterTrigger = sim::kLogicSamples - 1 - sim::kTriggerIndex[1];
    const auto done = board.CaptureCompletionCycle();
    return done ? *done - kSamplesAfterTrigger * kCyclesPerMs : 0;
}

// 1 kHz sampling (sample times on whole milliseconds), trigger on the first sample, trigger
// position CENTER: half the memory stays unfilled.
inline const ComboSelections kSlowCapture = {14, 1, 0, 15};
// 100 MHz, trigger on the first sample at TOP: complete within a millisecond.
inline const ComboSelections kFastCapture = {0, 0, 0, 15};

// Polls every 400 ms until the cycle ends (at most `most` polls); the results in order.
inline std::vector<PollResult> RunCycle(CaptureCycle& cycle, DeviceLink& link, Capture& capture,
                                        Clock& clock, int most = 200) {
    std::vector<PollResult> results;
    for (int i = 0; i < most && cycle.captureArmed != 0; ++i) {
        clock.SleepFor(std::chrono::milliseconds(kPollIntervalMs));
        results.push_back(CaptureTick(cycle, link, capture, 0).poll);
    }
    return results;
}

} // namespace pulsara::test
