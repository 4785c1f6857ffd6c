#pragma once
// Where one capture differs from another: per row (or per signal) the number of samples
// that differ and the ranges they form. Only samples that hold captured data in both count,
// so the cleared unfilled pairs at the start of either memory never differ. The two are
// lined up at their trigger samples (a capture taken at TOP against one taken at CENTER
// still compares the same moments) or at sample 0.

#include "analysis/result.h"
#include "analysis/signal.h"
#include "capture/capture.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pulsara::analysis {

enum class Alignment { Trigger, Start };

// Samples first..last of the capture compared, both included.
struct SampleSpan {
    int first = 0;
    int last = 0;
    friend bool operator==(const SampleSpan&, const SampleSpan&) = default;
};

// How the two captures line up: sample s of the first is sample s + offset of the second;
// first..last are the samples of the first that hold data in both (none when last < first).
struct Overlap {
    int offset = 0;
    int first = 0;
    int last = -1;
    [[nodiscard]] bool empty() const { return last < first; }
    [[nodiscard]] int size() const { return empty() ? 0 : last - first + 1; }
};

// Fails when a capture to be aligned at its trigger has a trigger position outside the list.
[[nodiscard]] Result<Overlap> AlignCaptures(const CaptureSettings& a, const CaptureSettings& b,
                                            Alignment alignment);

// What to compare: a name for the report and the probes it covers (bit p: probe p).
struct CompareTarget {
    std::string name;
    std::uint32_t probes = 0;
};

// Every row that shows at least one probe, by its name, with all of its probes.
[[nodiscard]] std::vector<CompareTarget> RowTargets(const ChannelTable& channels,
                                                    const NameDecoder& decodeName = {});

// A row by its name (a bus as a whole), else whatever ResolveSignal takes (NAME[j], a probe
// number).
[[nodiscard]] Result<CompareTarget> ResolveTarget(const ChannelTable& channels,
                                                  std::string_view text,
                                                  const NameDecoder& decodeName = {});

struct TargetDifference {
    CompareTarget target;
    int samples = 0;               // samples where any of the target's probes differ
    std::vector<SampleSpan> spans; // in the first capture's indices, in order
};

struct Comparison {
    Overlap overlap;
    std::vector<TargetDifference> targets; // in the order asked for
    [[nodiscard]] bool differs() const;
};

// Bit p of word s: probe p differs at sample first + s of the overlap.
[[nodiscard]] std::vector<std::uint32_t>
DifferenceWords(const SampleMemory& a, const SampleMemory& b, const Overlap& overlap);

[[nodiscard]] Comparison CompareOver(const SampleMemory& a, const SampleMemory& b,
                                     const Overlap& overlap,
                                     std::span<const CompareTarget> targets);

// AlignCaptures, then CompareOver.
[[nodiscard]] Result<Comparison> CompareCaptures(const Capture& a, const Capture& b,
                                                 std::span<const CompareTarget> targets,
                                                 Alignment alignment);

// The start of the first span of any target that begins after `after`; with `wrap`, the
// first span of all when none does. Nothing when nothing differs.
[[nodiscard]] std::optional<int> NextDifference(const Comparison& comparison, int after,
                                                bool wrap = false);

} // namespace pulsara::analysis
