#pragma once
// Which probes change where, at every power-of-two block size, so the zoomable view can
// tell for any stretch of samples whether a probe stayed put or moved without walking the
// samples themselves. Built once per capture (a few hundred microseconds).

#include "capture/capture.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace pulsara {

class ChangeTable {
public:
    static constexpr int kLevels = 16; // blocks of 1, 2, 4, ... 32768 samples

    ChangeTable();
    explicit ChangeTable(const SampleMemory& memory);

    // Sample s as a 32-bit word; 0 outside the memory.
    [[nodiscard]] std::uint32_t Word(int s) const {
        return s >= 0 && s < kSampleCount ? words_[static_cast<std::size_t>(s)] : 0U;
    }
    // Bit p set when probe p differs between sample s - 1 and s. Sample 0 never changes.
    [[nodiscard]] std::uint32_t ChangeAt(int s) const;
    // The probes that change at some sample s with first <= s < end (clamped to the memory).
    [[nodiscard]] std::uint32_t ChangesIn(int first, int end) const;
    // The first sample s in first..end-1 where a probe of `mask` changes.
    [[nodiscard]] std::optional<int> NextChange(int first, int end, std::uint32_t mask) const;
    // The last sample s in first..end-1 where a probe of `mask` changes.
    [[nodiscard]] std::optional<int> PreviousChange(int first, int end, std::uint32_t mask) const;

private:
    [[nodiscard]] std::uint32_t Block(int level, int index) const {
        return blocks_[offsets_[static_cast<std::size_t>(level)] + static_cast<std::size_t>(index)];
    }

    std::vector<std::uint32_t> words_;
    // Level k holds kSampleCount >> k blocks: the OR of the changes of its 2^k samples.
    std::vector<std::uint32_t> blocks_;
    std::array<std::size_t, kLevels> offsets_{};
};

} // namespace pulsara
