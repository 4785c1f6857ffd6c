#include "view/time_window.h"

#include <algorithm>

namespace pulsara {

double MinPixelsPerSample(int width) {
    return std::max(width, 1) / static_cast<double>(kSampleCount);
}

TimeWindow ClampWindow(TimeWindow window) {
    window.width = std::max(window.width, 1);
    window.pixelsPerSample =
        std::clamp(window.pixelsPerSample, MinPixelsPerSample(window.width), kMaxPixelsPerSample);
    const double lastFirst = std::max(0.0, kSampleCount - window.Span());
    window.first = std::clamp(window.first, 0.0, lastFirst);
    return window;
}

TimeWindow WholeCapture(int width) {
    return ClampWindow({0.0, MinPixelsPerSample(width), width});
}

TimeWindow ShowSamples(int width, double first, double last) {
    const double span = std::max(last - first + 1.0, 1.0);
    return ClampWindow({first, std::max(width, 1) / span, width});
}

TimeWindow ZoomAround(TimeWindow window, double factor, double x) {
    const double anchor = window.SampleAt(x);
    TimeWindow zoomed = ClampWindow({window.first, window.pixelsPerSample * factor, window.width});
    zoomed.first = anchor - x / zoomed.pixelsPerSample;
    return ClampWindow(zoomed);
}

TimeWindow PanBy(TimeWindow window, double dx) {
    window.first -= dx / window.pixelsPerSample;
    return ClampWindow(window);
}

TimeWindow CentreOn(TimeWindow window, double sample) {
    window.first = sample - window.Span() / 2.0;
    return ClampWindow(window);
}

TimeWindow Resized(TimeWindow window, int width) {
    window.width = width;
    return ClampWindow(window);
}

} // namespace pulsara
