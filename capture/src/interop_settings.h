#pragma once
// How the capture's settings meet the interop formats' time units and sample rates.

#include "capture/labels.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

namespace pulsara::detail {

inline constexpr int kExtRateIndex = 15;

// The sample the trigger stands at for each trigger position (TOP, CENTER, LAST), as the
// ruler marks it, and the scroll position that shows it after a capture.
inline constexpr std::array<std::int32_t, 3> kTriggerSamples = {24, 16378, 32728};
inline constexpr std::array<std::int32_t, 3> kTriggerScrollPos = {-8190, -17, 8158};

[[nodiscard]] inline std::optional<std::int32_t> TriggerSampleOf(std::int32_t triggerPosition) {
    if (triggerPosition < 0 ||
        triggerPosition >= static_cast<std::int32_t>(kTriggerSamples.size())) {
        return std::nullopt;
    }
    return kTriggerSamples[static_cast<std::size_t>(triggerPosition)];
}

// The sample period of a rate in whole nanoseconds (every entry is whole); EXT gives 1.
[[nodiscard]] inline std::optional<std::int64_t> PeriodNs(std::int32_t rateIndex) {
    if (rateIndex < 0 || rateIndex >= static_cast<std::int32_t>(samplePeriodNs.size())) {
        return std::nullopt;
    }
    return std::llround(samplePeriodNs[static_cast<std::size_t>(rateIndex)]);
}

// The rate of a real clock, in whole hertz as sigrok stores it (16.6MHz is 16666667 Hz).
[[nodiscard]] inline std::optional<std::uint64_t> SampleRateHz(std::int32_t rateIndex) {
    if (rateIndex == kExtRateIndex) {
        return std::nullopt;
    }
    const auto period = PeriodNs(rateIndex);
    if (!period) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(std::llround(1e9 / static_cast<double>(*period)));
}

// The rate whose period is exactly periodFs femtoseconds, else EXT.
[[nodiscard]] inline std::int32_t RateIndexForPeriodFs(std::uint64_t periodFs) {
    for (std::int32_t i = 0; i < kExtRateIndex; ++i) {
        if (static_cast<std::uint64_t>(*PeriodNs(i)) * 1000000U == periodFs) {
            return i;
        }
    }
    return kExtRateIndex;
}

// The rate sigrok's whole-hertz sample rate stands for, else EXT.
[[nodiscard]] inline std::int32_t RateIndexForHz(std::uint64_t hz) {
    for (std::int32_t i = 0; i < kExtRateIndex; ++i) {
        if (*SampleRateHz(i) == hz) {
            return i;
        }
    }
    return kExtRateIndex;
}

} // namespace pulsara::detail
