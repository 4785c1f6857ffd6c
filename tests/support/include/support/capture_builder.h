#pragma once
// Building the capture states the view tests need.

#include "capture/capture.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string_view>

namespace pulsara::test {

inline void SetWord(Capture& capture, int sample, std::uint32_t word) {
    for (std::size_t b = 0; b < 4; ++b) {
        capture.samples[static_cast<std::size_t>(sample) * 4 + b] =
            static_cast<std::uint8_t>(word >> (8 * b));
    }
}

// Sets probe high on samples first..last.
inline void SetHigh(Capture& capture, int probe, int first, int last) {
    for (int s = first; s <= last; ++s) {
        capture.samples[static_cast<std::size_t>(s) * 4 + static_cast<std::size_t>(probe / 8)] |=
            static_cast<std::uint8_t>(1U << (probe % 8));
    }
}

inline void AddRow(Capture& capture, std::string_view name, std::initializer_list<int> probes) {
    auto& row = capture.channels.rows[static_cast<std::size_t>(capture.channels.rowCount++)];
    row = ChannelRow{};
    std::memcpy(row.name.data(), name.data(), std::min<std::size_t>(name.size(), kMaxNameLength));
    for (const int p : probes) {
        row.probes[static_cast<std::size_t>(row.probeCount++)] = static_cast<std::uint8_t>(p);
    }
}

} // namespace pulsara::test
