#pragma once
// One probe's captured samples as bits, and its edges as a bit set, 64 samples a word, so
// a scan skips quiet stretches a word at a time.

#include "capture/capture.h"

#include <array>
#include <cstdint>
#include <optional>

namespace pulsara::analysis::detail {

inline constexpr int kWords = kSampleCount / 64;

class ProbeEdges {
public:
    // Only samples from `first` on hold data: an edge at e needs e - 1 >= first.
    ProbeEdges(const SampleMemory& memory, int probe, int first);

    [[nodiscard]] int Level(int s) const {
        return static_cast<int>((levels_[Word(s)] >> Bit(s)) & 1U);
    }
    // The last edge at or before s, and the first edge after s.
    [[nodiscard]] std::optional<int> EdgeAtOrBefore(int s) const;
    [[nodiscard]] std::optional<int> EdgeAfter(int s) const;

    [[nodiscard]] const std::array<std::uint64_t, kWords>& Words() const { return edges_; }
    [[nodiscard]] const std::array<std::uint64_t, kWords>& LevelWords() const { return levels_; }

private:
    static std::size_t Word(int s) { return static_cast<std::size_t>(s) / 64; }
    static unsigned Bit(int s) { return static_cast<unsigned>(s) % 64; }

    std::array<std::uint64_t, kWords> levels_{};
    std::array<std::uint64_t, kWords> edges_{};
};

} // namespace pulsara::analysis::detail
