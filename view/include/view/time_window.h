#pragma once
// Which stretch of the capture the analysis view shows, and how the zoom and pan keys and
// the mouse move it. Positions are fractional samples; x counts pixels from the left edge
// of the trace area. From 16 pixels per sample to the whole capture in the width.

#include "capture/capture.h"

namespace pulsara {

inline constexpr double kMaxPixelsPerSample = 16.0;

struct TimeWindow {
    double first = 0;           // the sample at x = 0
    double pixelsPerSample = 1; // kMaxPixelsPerSample down to the whole capture in `width`
    int width = 1;              // pixels of the trace area

    [[nodiscard]] double SampleAt(double x) const { return first + x / pixelsPerSample; }
    [[nodiscard]] double XOf(double sample) const { return (sample - first) * pixelsPerSample; }
    [[nodiscard]] double Span() const { return width / pixelsPerSample; }
    friend constexpr bool operator==(const TimeWindow&, const TimeWindow&) = default;
};

// The zoom at which the whole capture just fills `width` pixels.
[[nodiscard]] double MinPixelsPerSample(int width);

// The zoom kept within its limits and the window within the capture; a window wider than
// the capture starts at sample 0.
[[nodiscard]] TimeWindow ClampWindow(TimeWindow window);

[[nodiscard]] TimeWindow WholeCapture(int width);

// Samples first..last (inclusive) across the width, within the limits.
[[nodiscard]] TimeWindow ShowSamples(int width, double first, double last);

// Zoom by `factor` (above 1 closer) keeping the sample under x where it is, as far as the
// limits allow.
[[nodiscard]] TimeWindow ZoomAround(TimeWindow window, double factor, double x);

// Moves the content by dx pixels (a drag to the right shows earlier samples).
[[nodiscard]] TimeWindow PanBy(TimeWindow window, double dx);

// The sample in the middle of the width.
[[nodiscard]] TimeWindow CentreOn(TimeWindow window, double sample);

// A new width (the window was resized): same first sample, same zoom where possible.
[[nodiscard]] TimeWindow Resized(TimeWindow window, int width);

} // namespace pulsara
