#include "analysis/compare.h"

#include "capture/samples.h"

#include <algorithm>
#include <array>
#include <bit>

namespace pulsara::analysis {
namespace {

// Where the capture logic puts the trigger sample for TOP, CENTER and LAST.

std::uint32_t ProbeMask(const ChannelRow& row) {
    std::uint32_t mask = 0;
    const int count = std::clamp(row.probeCount, 0, kMaxProbesPerRow);
    for (int j = 0; j < count; ++j) {
        const int probe = row.probes[static_cast<std::size_t>(j)];
        if (probe <= 31) {
            mask |= 1U << probe;
        }
    }
    return mask;
}

} // namespace

Result<Overlap> AlignCaptures(const CaptureSettings& a, const CaptureSettings& b,
                              Alignment alignment) {
    Overlap overlap;
    if (alignment == Alignment::Trigger) {
        const auto ta = TriggerSample(a);
        const auto tb = TriggerSample(b);
        if (!ta || !tb) {
            return Result<Overlap>::Fail(
                std::string("the ") + (!ta ? "first" : "second") + " capture's trigger position (" +
                std::to_string(!ta ? a.triggerPosition : b.triggerPosition) +
                ") is none of TOP, CENTER and LAST, so there is no trigger to align at; "
                "align at the start instead");
        }
        overlap.offset = *tb - *ta;
    }
    // s in a and s + offset in b must both be captured samples.
    overlap.first = std::max(FirstCapturedSample(a), FirstCapturedSample(b) - overlap.offset);
    overlap.last = std::min(kSampleCount - 1, kSampleCount - 1 - overlap.offset);
    return overlap;
}

std::vector<CompareTarget> RowTargets(const ChannelTable& channels, const NameDecoder& decodeName) {
    std::vector<CompareTarget> targets;
    const int rows = std::clamp(channels.rowCount, 0, kMaxRows);
    for (int r = 0; r < rows; ++r) {
        const auto& row = channels.rows[static_cast<std::size_t>(r)];
        if (const auto mask = ProbeMask(row); mask != 0) {
            targets.push_back({RowName(row, decodeName), mask});
        }
    }
    return targets;
}

Result<CompareTarget> ResolveTarget(const ChannelTable& channels, std::string_view text,
                                    const NameDecoder& decodeName) {
    const int rows = std::clamp(channels.rowCount, 0, kMaxRows);
    for (int r = 0; r < rows; ++r) {
        const auto& row = channels.rows[static_cast<std::size_t>(r)];
        if (row.probeCount > 1 && (RowName(row) == text || RowName(row, decodeName) == text)) {
            return CompareTarget{std::string(text), ProbeMask(row)};
        }
    }
    auto signal = ResolveSignal(channels, text, decodeName);
    if (!signal) {
        return Result<CompareTarget>::Fail(signal.error());
    }
    return CompareTarget{signal->name, 1U << signal->probe};
}

bool Comparison::differs() const {
    return std::any_of(targets.begin(), targets.end(),
                       [](const TargetDifference& t) { return t.samples > 0; });
}

std::vector<std::uint32_t> DifferenceWords(const SampleMemory& a, const SampleMemory& b,
                                           const Overlap& overlap) {
    std::vector<std::uint32_t> words(static_cast<std::size_t>(overlap.size()));
    for (int s = overlap.first; s <= overlap.last; ++s) {
        words[static_cast<std::size_t>(s - overlap.first)] =
            SampleWord(a, s) ^ SampleWord(b, s + overlap.offset);
    }
    return words;
}

Comparison CompareOver(const SampleMemory& a, const SampleMemory& b, const Overlap& overlap,
                       std::span<const CompareTarget> targets) {
    const auto words = DifferenceWords(a, b, overlap);
    // One bit plane per probe (bit i: differs at overlap sample i), so that a row is the OR
    // of its probes' planes and its spans come from word-wide edge masks: two random
    // captures differ in thousands of short spans a row, which a sample-by-sample walk
    // pays for in branches.
    const std::size_t planeWords = (words.size() + 63) / 64;
    std::array<std::vector<std::uint64_t>, 32> planes;
    std::uint32_t any = 0;
    for (std::size_t i = 0; i < words.size(); ++i) {
        for (std::uint32_t x = words[i]; x != 0; x &= x - 1) {
            auto& plane = planes[static_cast<std::size_t>(std::countr_zero(x))];
            if (plane.empty()) {
                plane.resize(planeWords);
            }
            plane[i / 64] |= std::uint64_t{1} << (i % 64);
        }
        any |= words[i];
    }
    Comparison comparison{overlap, {}};
    comparison.targets.reserve(targets.size());
    std::vector<std::uint64_t> row(planeWords);
    for (const auto& target : targets) {
        TargetDifference result{target, 0, {}};
        const std::uint32_t mask = target.probes & any;
        if (mask != 0) {
            std::fill(row.begin(), row.end(), 0);
            for (std::uint32_t m = mask; m != 0; m &= m - 1) {
                const auto& plane = planes[static_cast<std::size_t>(std::countr_zero(m))];
                for (std::size_t w = 0; w < planeWords; ++w) {
                    row[w] |= plane[w];
                }
            }
            // A span starts where a set bit follows a clear one and ends where one precedes
            // a clear one; starts and ends come in pairs, in order.
            std::uint64_t carry = 0;
            for (std::size_t w = 0; w < planeWords; ++w) {
                const std::uint64_t bits = row[w];
                result.samples += std::popcount(bits);
                for (std::uint64_t starts = bits & ~((bits << 1) | carry); starts != 0;
                     starts &= starts - 1) {
                    const int s =
                        overlap.first + static_cast<int>(w * 64) + std::countr_zero(starts);
                    result.spans.push_back({s, s});
                }
                carry = bits >> 63;
            }
            std::size_t k = 0;
            for (std::size_t w = 0; w < planeWords; ++w) {
                const std::uint64_t bits = row[w];
                const std::uint64_t next = w + 1 < planeWords ? (row[w + 1] & 1U) << 63 : 0;
                for (std::uint64_t ends = bits & ~((bits >> 1) | next); ends != 0;
                     ends &= ends - 1) {
                    result.spans[k++].last =
                        overlap.first + static_cast<int>(w * 64) + std::countr_zero(ends);
                }
            }
        }
        comparison.targets.push_back(std::move(result));
    }
    return comparison;
}

Result<Comparison> CompareCaptures(const Capture& a, const Capture& b,
                                   std::span<const CompareTarget> targets, Alignment alignment) {
    const auto overlap = AlignCaptures(a.settings, b.settings, alignment);
    if (!overlap) {
        return Result<Comparison>::Fail(overlap.error());
    }
    return CompareOver(a.samples, b.samples, *overlap, targets);
}

std::optional<int> NextDifference(const Comparison& comparison, int after, bool wrap) {
    std::optional<int> next;
    std::optional<int> first;
    for (const auto& target : comparison.targets) {
        const auto& spans = target.spans;
        if (spans.empty()) {
            continue;
        }
        first = std::min(first.value_or(spans.front().first), spans.front().first);
        const auto it =
            std::upper_bound(spans.begin(), spans.end(), after,
                             [](int value, const SampleSpan& span) { return value < span.first; });
        if (it != spans.end()) {
            next = std::min(next.value_or(it->first), it->first);
        }
    }
    return next ? next : (wrap ? first : std::nullopt);
}

} // namespace pulsara::analysis
