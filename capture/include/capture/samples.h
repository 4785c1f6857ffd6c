#pragma once
// Bounds-safe reads of the sample memory: nothing outside the 32768 samples is touched.

#include "capture/capture.h"

#include <algorithm>

namespace pulsara {

// The 32-bit sample s, or 0 when s lies outside 0..32767.
[[nodiscard]] inline std::uint32_t SampleWord(const SampleMemory& memory, int s) {
    if (s < 0 || s >= kSampleCount) {
        return 0;
    }
    const auto i = static_cast<std::size_t>(s) * 4;
    return static_cast<std::uint32_t>(memory[i]) |
           (static_cast<std::uint32_t>(memory[i + 1]) << 8) |
           (static_cast<std::uint32_t>(memory[i + 2]) << 16) |
           (static_cast<std::uint32_t>(memory[i + 3]) << 24);
}

// Probe p of sample s as 0 or 1; a probe number above 31 or a sample outside the
// memory reads as 0.
[[nodiscard]] inline int SampleProbe(const SampleMemory& memory, int s, int probe) {
    if (probe < 0 || probe > 31) {
        return 0;
    }
    return static_cast<int>((SampleWord(memory, s) >> probe) & 1U);
}

// Clears the first `count` samples (clamped to the memory) to 0.
inline void ClearLeadingSamples(SampleMemory& memory, long count) {
    if (count <= 0) {
        return;
    }
    if (count > kSampleCount) {
        count = kSampleCount;
    }
    std::fill_n(memory.begin(), static_cast<std::size_t>(count) * 4, std::uint8_t{0});
}

} // namespace pulsara
