#include "probe_edges.h"

#include <bit>

namespace pulsara::analysis::detail {

ProbeEdges::ProbeEdges(const SampleMemory& memory, int probe, int first) {
    if (probe < 0 || probe > 31 || first >= kSampleCount) {
        return; // a probe the board does not have reads 0 and has no edges
    }
    const std::size_t byte = static_cast<std::size_t>(probe) / 8;
    const unsigned shift = static_cast<unsigned>(probe) % 8;
    for (std::size_t w = 0; w < kWords; ++w) {
        std::uint64_t word = 0;
        const std::uint8_t* sample = memory.data() + w * 64 * 4 + byte;
        for (unsigned b = 0; b < 64; ++b) {
            word |= static_cast<std::uint64_t>((sample[b * 4] >> shift) & 1U) << b;
        }
        levels_[w] = word;
    }
    std::uint64_t carry = 0;
    for (std::size_t w = 0; w < kWords; ++w) {
        edges_[w] = levels_[w] ^ ((levels_[w] << 1) | carry);
        carry = levels_[w] >> 63;
    }
    // Sample 0 has no predecessor; below `first` there is no data, and `first` itself only
    // starts the data.
    for (int s = 0; s <= first && s < kSampleCount; s += 64) {
        const int upTo = first - s; // clear bits 0..upTo of this word
        edges_[Word(s)] &= upTo >= 63 ? 0 : ~((std::uint64_t{2} << upTo) - 1);
    }
}

std::optional<int> ProbeEdges::EdgeAtOrBefore(int s) const {
    if (s < 0) {
        return std::nullopt;
    }
    std::size_t w = Word(s);
    const unsigned b = Bit(s);
    std::uint64_t word = edges_[w] & (b == 63 ? ~std::uint64_t{0} : (std::uint64_t{2} << b) - 1);
    while (word == 0) {
        if (w == 0) {
            return std::nullopt;
        }
        word = edges_[--w];
    }
    return static_cast<int>(w * 64 + 63 - static_cast<unsigned>(std::countl_zero(word)));
}

std::optional<int> ProbeEdges::EdgeAfter(int s) const {
    if (s + 1 >= kSampleCount) {
        return std::nullopt;
    }
    const int next = s + 1;
    std::size_t w = Word(next);
    std::uint64_t word = edges_[w] & (~std::uint64_t{0} << Bit(next));
    while (word == 0) {
        if (++w == kWords) {
            return std::nullopt;
        }
        word = edges_[w];
    }
    return static_cast<int>(w * 64 + static_cast<unsigned>(std::countr_zero(word)));
}

} // namespace pulsara::analysis::detail
