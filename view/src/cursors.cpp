#include "view/cursors.h"

#include "view/time_scale.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

namespace pulsara {

int SnapToEdge(const ChangeTable& changes, std::uint32_t mask, const TimeWindow& window, double x) {
    const auto nearest = static_cast<int>(std::lround(window.SampleAt(x)));
    const int pointer = std::clamp(nearest, 0, kSampleCount);
    // Edges sit on sample boundaries: an edge at e is the change from e - 1 to e.
    const int reachFirst = static_cast<int>(std::floor(window.SampleAt(x - kSnapPixels)));
    const int reachLast = static_cast<int>(std::ceil(window.SampleAt(x + kSnapPixels)));
    std::optional<int> best;
    double bestDistance = 0;
    const auto consider = [&](std::optional<int> edge) {
        if (!edge) {
            return;
        }
        const double distance = std::fabs(window.XOf(*edge) - x);
        if (distance <= kSnapPixels && (!best || distance < bestDistance)) {
            best = edge;
            bestDistance = distance;
        }
    };
    const double here = window.SampleAt(x);
    const int split = static_cast<int>(std::floor(here)) + 1;
    consider(changes.NextChange(split, reachLast + 1, mask));
    consider(changes.PreviousChange(reachFirst, split, mask));
    return best.value_or(pointer);
}

namespace {

std::string Position(int sample, const CaptureSettings& settings) {
    const int rel = sample - TimeOrigin(settings);
    const auto period = KnownPeriodNs(settings);
    std::string text = period ? FormatDuration(rel * *period) + " " : std::string{};
    return text + "(#" + std::to_string(sample) + ")";
}

} // namespace

std::string CursorReadout(const CursorPair& cursors, const CaptureSettings& settings) {
    std::string text;
    if (cursors.a) {
        text += "A " + Position(*cursors.a, settings);
    }
    if (cursors.b) {
        text += (text.empty() ? "" : "   ") + std::string("B ") + Position(*cursors.b, settings);
    }
    if (cursors.a && cursors.b) {
        const int delta = *cursors.b - *cursors.a;
        const auto period = KnownPeriodNs(settings);
        text += "   B-A ";
        if (period) {
            text += FormatDuration(delta * *period) + " ";
        }
        text += "(" + std::to_string(delta) + " samples)";
        if (delta != 0) {
            text += "   1/(B-A) ";
            text += period ? FormatFrequency(1e9 / (delta * *period))
                           : std::to_string(1.0 / delta) + " per sample";
        }
    }
    return text;
}

} // namespace pulsara
