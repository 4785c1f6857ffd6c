#include "analysis/measure.h"

#include "probe_edges.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <memory>

namespace pulsara::analysis {
namespace {

std::optional<double> Ns(const std::optional<double>& periodNs, const std::optional<int>& samples) {
    if (!periodNs || !samples) {
        return std::nullopt;
    }
    return *periodNs * *samples;
}

std::optional<int> Between(const std::optional<int>& a, const std::optional<int>& b) {
    if (!a || !b) {
        return std::nullopt;
    }
    return *b - *a;
}

} // namespace

Result<PointMeasurement> MeasureAt(const Capture& capture, const Signal& signal, int sample) {
    const int first = FirstCapturedSample(capture.settings);
    if (first >= kSampleCount) {
        return Result<PointMeasurement>::Fail(
            "the capture holds no data: all its sample pairs were unfilled");
    }
    if (sample < first || sample >= kSampleCount) {
        return Result<PointMeasurement>::Fail(
            "sample " + std::to_string(sample) + " holds no captured data; choose one from " +
            std::to_string(first) + " to " + std::to_string(kSampleCount - 1) +
            (first > 0 ? " (the " + std::to_string(first) + " before were not filled)" : ""));
    }
    const detail::ProbeEdges edges(capture.samples, signal.probe, first);
    const auto periodNs = SamplePeriodNs(capture.settings);

    PointMeasurement m;
    m.sample = sample;
    m.level = edges.Level(sample);
    m.pulse.start = edges.EdgeAtOrBefore(sample);
    m.pulse.end = edges.EdgeAfter(sample);
    m.pulse.samples = Between(m.pulse.start, m.pulse.end);
    m.pulse.ns = Ns(periodNs, m.pulse.samples);

    m.period.start = m.pulse.start;
    if (m.pulse.end) {
        m.period.end = edges.EdgeAfter(*m.pulse.end);
    }
    m.period.samples = Between(m.period.start, m.period.end);
    m.period.ns = Ns(periodNs, m.period.samples);
    if (m.period.ns) {
        m.period.hz = 1e9 / *m.period.ns;
    }
    if (m.period.samples) {
        const int pulse = *m.pulse.samples;
        const int high = m.level == 1 ? pulse : *m.period.samples - pulse;
        m.period.duty = static_cast<double>(high) / *m.period.samples;
    }
    return m;
}

SignalMeasurement MeasureSignal(const Capture& capture, const Signal& signal) {
    const int first = FirstCapturedSample(capture.settings);
    const detail::ProbeEdges edges(capture.samples, signal.probe, first);
    const auto& words = edges.Words();

    // All edges first, then the pulses between them: the two loops are short and have no
    // branch that depends on the data.
    const auto at = std::make_unique_for_overwrite<int[]>(static_cast<std::size_t>(kSampleCount));
    std::size_t count = 0;
    for (std::size_t w = 0; w < words.size(); ++w) {
        const auto base = static_cast<int>(w * 64);
        for (std::uint64_t word = words[w]; word != 0; word &= word - 1) {
            at[count++] = base + std::countr_zero(word);
        }
    }
    SignalMeasurement m;
    if (count == 0) {
        return m;
    }
    // Edges alternate in direction: edges 0, 2, 4, ... go the way of the first one.
    const int firstRises = edges.Level(at[0]);
    const auto evens = static_cast<int>((count + 1) / 2);
    const auto odds = static_cast<int>(count / 2);
    m.rising = firstRises != 0 ? evens : odds;
    m.falling = static_cast<int>(count) - m.rising;

    // The pulse that ends at edge k (k >= 1) is high when edge k falls.
    const auto range = [&](std::size_t firstEnd) {
        PulseRange r;
        if (firstEnd >= count) {
            return r;
        }
        int shortest = std::numeric_limits<int>::max();
        int longest = 0;
        for (std::size_t k = firstEnd; k < count; k += 2) {
            const int length = at[k] - at[k - 1];
            shortest = std::min(shortest, length);
            longest = std::max(longest, length);
        }
        r.minSamples = shortest;
        r.maxSamples = longest;
        return r;
    };
    // With a rising first edge the odd edges fall: they end the high pulses.
    m.high = range(firstRises != 0 ? 1 : 2);
    m.low = range(firstRises != 0 ? 2 : 1);
    if (m.rising >= 2) {
        const std::size_t firstRising = firstRises != 0 ? 0 : 1;
        const std::size_t lastRising = firstRising + 2 * static_cast<std::size_t>(m.rising - 1);
        m.meanPeriodSamples =
            static_cast<double>(at[lastRising] - at[firstRising]) / (m.rising - 1);
        if (const auto periodNs = SamplePeriodNs(capture.settings)) {
            m.meanFrequencyHz = 1e9 / (*m.meanPeriodSamples * *periodNs);
        }
    }
    return m;
}

} // namespace pulsara::analysis
