#pragma once
// Time on the analysis view's ruler and in its readouts: ticks on round steps at every
// zoom, labelled in the main window's units (nS, uS, mS by rate), and plain durations and
// frequencies for the cursor readout. The external clock has no known period: its ruler
// counts samples.

#include "capture/capture.h"
#include "view/time_window.h"

#include <optional>
#include <string>
#include <vector>

namespace pulsara {

struct RulerTick {
    double sample = 0; // where the tick stands: a sample boundary, possibly fractional
    std::string label;
};

// The nanoseconds of one sample, or nothing for EXT (and a rate outside the table).
[[nodiscard]] std::optional<double> KnownPeriodNs(const CaptureSettings& settings);

// The sample at which time reads zero: the trigger sample, or 0 for a trigger position
// outside the table.
[[nodiscard]] int TimeOrigin(const CaptureSettings& settings);

// The smallest of 1, 2, 5 x 10^k at or above `least`.
[[nodiscard]] double RoundStep(double least);

// Ticks at least `minSpacing` pixels apart over the window, counted from the time origin.
[[nodiscard]] std::vector<RulerTick>
RulerTicks(const TimeWindow& window, const CaptureSettings& settings, int minSpacing = 90);

// "1.235 us", "-20 ns", "3.000 s": four significant digits in the best unit.
[[nodiscard]] std::string FormatDuration(double ns);
// "454.5 kHz".
[[nodiscard]] std::string FormatFrequency(double hz);

} // namespace pulsara
