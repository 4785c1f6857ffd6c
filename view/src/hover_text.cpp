#include "view/hover_text.h"

#include "view/time_scale.h"

#include <cstdio>

namespace pulsara {
namespace {

std::string Span(const std::optional<int>& samples, const std::optional<double>& ns) {
    if (!samples) {
        return "?";
    }
    const std::string count = std::to_string(*samples);
    return ns ? FormatDuration(*ns) + " (" + count + ")" : count + " samples";
}

} // namespace

std::string MeasurementText(const std::string& name, const analysis::PointMeasurement& m) {
    std::string text = name + " #" + std::to_string(m.sample) + (m.level != 0 ? " high" : " low");
    text += "   pulse " + Span(m.pulse.samples, m.pulse.ns);
    text += "   period " + Span(m.period.samples, m.period.ns);
    if (m.period.hz) {
        text += "   " + FormatFrequency(*m.period.hz);
    }
    if (m.period.duty) {
        char duty[32];
        std::snprintf(duty, sizeof duty, "   duty %.1f %%", *m.period.duty * 100.0);
        text += duty;
    } else {
        text += "   duty ?";
    }
    return text;
}

} // namespace pulsara
