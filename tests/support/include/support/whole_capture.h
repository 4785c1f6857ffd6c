#pragma once
// What "the sample memory is whole" means on the simulated board: at 100 MHz the counter
// on probes 0-15 goes up by one from sample to sample after the unfilled pairs, which are
// 0. A capture that mixes two read-outs, or holds bytes that never arrived, breaks it.

#include "capture/capture.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace pulsara::test {

[[nodiscard]] inline std::uint32_t SampleAt(std::span<const std::uint8_t> bytes, std::size_t i) {
    const auto* b = bytes.data() + 4 * i;
    return static_cast<std::uint32_t>(b[0] | (b[1] << 8) | (b[2] << 16) | (b[3] << 24));
}

// The settings that make such a capture: 100 MHz, trigger at TOP on HDL (12 unfilled pairs).
inline void CounterSettings(CaptureSettings& s) {
    s.rateIndex = 0;
    s.triggerPosition = 0;
    s.triggerCondition = 0;
    s.triggerProbe = 15;
}

[[nodiscard]] inline bool IsWholeCounterCapture(std::span<const std::uint8_t> bytes,
                                                std::uint16_t unfilledPairs) {
    const std::size_t samples = bytes.size() / 4;
    const std::size_t cleared = 2 * static_cast<std::size_t>(unfilledPairs);
    if (bytes.size() != kSampleMemoryBytes || cleared + 2 > samples) {
        return false;
    }
    for (std::size_t i = 0; i < cleared; ++i) {
        if (SampleAt(bytes, i) != 0) {
            return false;
        }
    }
    for (std::size_t i = cleared; i + 1 < samples; ++i) {
        if (((SampleAt(bytes, i + 1) - SampleAt(bytes, i)) & 0xFFFF) != 1) {
            return false;
        }
    }
    return true;
}

// The previous capture of these tests: every byte 0xA5.
inline constexpr std::uint8_t kPreviousFill = 0xA5;

[[nodiscard]] inline bool IsPreviousCapture(std::span<const std::uint8_t> bytes) {
    for (const auto b : bytes) {
        if (b != kPreviousFill) {
            return false;
        }
    }
    return true;
}

} // namespace pulsara::test
