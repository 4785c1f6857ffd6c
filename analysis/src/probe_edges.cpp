#include "probe_edges.h"

#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pulsara::analysis::detail {
namespace {

// Bit `probe` of 64 consecutive 32-bit samples, sample i in bit i.
std::uint64_t Gather64(const std::uint8_t* samples, int probe) {
    const std::size_t byte = static_cast<std::size_t>(probe) / 8;
    const unsigned shift = static_cast<unsigned>(probe) % 8;
#if defined(__SSE2__)
    // Sixteen bytes hold four samples: move the probe's bit to the top of every byte and
    // take the tops as a mask; of each four mask bits, the probe's byte gives one.
    std::uint64_t word = 0;
    const auto up = _mm_cvtsi32_si128(static_cast<int>(7 - shift));
    const auto tops = [&](unsigned i) {
        const auto v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + i * 16));
        return static_cast<std::uint64_t>(
            static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_sll_epi16(v, up))));
    };
    for (unsigned i = 0; i < 16; i += 4) {
        std::uint64_t m = tops(i) | tops(i + 1) << 16 | tops(i + 2) << 32 | tops(i + 3) << 48;
        m = (m >> byte) & 0x1111111111111111U; // sixteen samples, one bit in four
        m = (m | (m >> 3)) & 0x0303030303030303U;
        m = (m | (m >> 6)) & 0x000F000F000F000FU;
        m = (m | (m >> 12)) & 0x000000FF000000FFU;
        m = (m | (m >> 24)) & 0xFFFFU;
        word |= m << (i * 4);
    }
    return word;
#else
    std::uint64_t word = 0;
    for (unsigned b = 0; b < 64; ++b) {
        word |= static_cast<std::uint64_t>((samples[b * 4 + byte] >> shift) & 1U) << b;
    }
    return word;
#endif
}

} // namespace

ProbeEdges::ProbeEdges(const SampleMemory& memory, int probe, int first) {
    if (probe < 0 || probe > 31 || first >= kSampleCount) {
        return; // a probe the board does not have reads 0 and has no edges
    }
    for (std::size_t w = 0; w < kWords; ++w) {
        levels_[w] = Gather64(memory.data() + w * 64 * 4, probe);
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
