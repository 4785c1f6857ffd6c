#pragma once
// Pulse, period, frequency and duty of one probe's trace, and edge statistics over a
// whole capture. Only captured samples count (FirstCapturedSample on); an edge at e means
// sample e differs from sample e-1, so the first captured sample is never an edge. A value
// that would need data beyond either end of the capture is absent rather than guessed.

#include "analysis/result.h"
#include "analysis/signal.h"
#include "capture/capture.h"

#include <optional>

namespace pulsara::analysis {

struct Pulse {
    std::optional<int> start;   // the last edge at or before the sample
    std::optional<int> end;     // the first edge after the sample
    std::optional<int> samples; // end - start
    std::optional<double> ns;   // absent for EXT
};

struct Period {
    std::optional<int> start;   // the pulse's start edge
    std::optional<int> end;     // the first edge after the pulse's end: same direction
    std::optional<int> samples; // end - start
    std::optional<double> ns;
    std::optional<double> hz;
    std::optional<double> duty; // high share of start..end, 0..1
};

struct PointMeasurement {
    int sample = 0;
    int level = 0;
    Pulse pulse;
    Period period;
};

// The level at `sample`, the pulse that holds it and the period that starts with that
// pulse. Fails for a sample outside the captured data.
[[nodiscard]] Result<PointMeasurement> MeasureAt(const Capture& capture, const Signal& signal,
                                                 int sample);

struct PulseRange {
    std::optional<int> minSamples;
    std::optional<int> maxSamples;
};

struct SignalMeasurement {
    int rising = 0;
    int falling = 0;
    PulseRange high; // complete high pulses: a rising edge to the next falling one
    PulseRange low;  // a falling edge to the next rising one
    // Over complete periods, rising edge to rising edge: (rising - 1) periods between the
    // first rising edge and the last. Absent with fewer than two rising edges; the
    // frequency is also absent for EXT.
    std::optional<double> meanPeriodSamples;
    std::optional<double> meanFrequencyHz;
};

[[nodiscard]] SignalMeasurement MeasureSignal(const Capture& capture, const Signal& signal);

} // namespace pulsara::analysis
