#include "analysis/measure.h"

#include "probe_edges.h"

#include <algorithm>
#include <bit>
#include <limits>

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

    // Indexed by the direction of the edge that ends a pulse: a falling edge (0) ends a high
    // pulse, a rising one (1) a low pulse. Edges alternate, so no branch on direction.
    std::array<int, 2> count{};
    std::array<int, 2> shortest{std::numeric_limits<int>::max(), std::numeric_limits<int>::max()};
    std::array<int, 2> longest{0, 0};
    int previous = -1;
    int firstRising = -1;
    int lastRising = -1;
    for (std::size_t w = 0; w < words.size(); ++w) {
        std::uint64_t word = words[w];
        while (word != 0) {
            const int e = static_cast<int>(w * 64 + static_cast<unsigned>(std::countr_zero(word)));
            word &= word - 1;
            const int rising = edges.Level(e);
            ++count[static_cast<std::size_t>(rising)];
            if (previous >= 0) {
                const int length = e - previous;
                shortest[static_cast<std::size_t>(rising)] =
                    std::min(shortest[static_cast<std::size_t>(rising)], length);
                longest[static_cast<std::size_t>(rising)] =
                    std::max(longest[static_cast<std::size_t>(rising)], length);
            }
            if (rising != 0) {
                lastRising = e;
                if (firstRising < 0) {
                    firstRising = e;
                }
            }
            previous = e;
        }
    }

    SignalMeasurement m;
    m.rising = count[1];
    m.falling = count[0];
    const auto range = [&](std::size_t i) {
        PulseRange r;
        if (longest[i] > 0) {
            r.minSamples = shortest[i];
            r.maxSamples = longest[i];
        }
        return r;
    };
    m.high = range(0);
    m.low = range(1);
    if (m.rising >= 2) {
        m.meanPeriodSamples = static_cast<double>(lastRising - firstRising) / (m.rising - 1);
        if (const auto periodNs = SamplePeriodNs(capture.settings)) {
            m.meanFrequencyHz = 1e9 / (*m.meanPeriodSamples * *periodNs);
        }
    }
    return m;
}

} // namespace pulsara::analysis
