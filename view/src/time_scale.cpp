#include "view/time_scale.h"

#include "capture/labels.h"
#include "view/ruler.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace pulsara {
namespace {

struct RulerUnit {
    const char* suffix;
    double nsPerUnit;
    int decimals; // as the main window's ruler writes them
};

RulerUnit UnitOf(std::int32_t rateIndex) {
    if (rateIndex <= 4) {
        return {"nS", 1.0, 0};
    }
    if (rateIndex <= 12) {
        return {"uS", 1e3, 1};
    }
    return {"mS", 1e6, 0};
}

// Decimals that show every multiple of `step` exactly.
int DecimalsFor(double step) {
    int decimals = 0;
    while (decimals < 6 && std::fabs(step * std::pow(10.0, decimals) -
                                     std::round(step * std::pow(10.0, decimals))) > 1e-6) {
        ++decimals;
    }
    return decimals;
}

std::string Printf(const char* format, double value, int decimals, const char* suffix) {
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), format, decimals, value, suffix);
    return text.data();
}

std::string Scaled(double value, const std::array<const char*, 4>& units,
                   const std::array<double, 4>& scales) {
    std::size_t i = 0;
    while (i + 1 < units.size() && std::fabs(value) >= scales[i + 1]) {
        ++i;
    }
    const double shown = value / scales[i];
    const double magnitude = std::fabs(shown);
    const int decimals = magnitude >= 100 ? 1 : (magnitude >= 10 ? 2 : 3);
    return Printf("%.*f %s", shown, decimals, units[i]);
}

} // namespace

std::optional<double> KnownPeriodNs(const CaptureSettings& settings) {
    // EXT (index 15) counts as 1 ns in the tables, but its real period is unknown.
    if (settings.rateIndex < 0 || settings.rateIndex >= 15) {
        return std::nullopt;
    }
    return samplePeriodNs[static_cast<std::size_t>(settings.rateIndex)];
}

int TimeOrigin(const CaptureSettings& settings) {
    return TriggerSample(settings.triggerPosition).value_or(0);
}

double RoundStep(double least) {
    if (!(least > 0)) {
        return 1.0;
    }
    const double base = std::pow(10.0, std::floor(std::log10(least)));
    for (const double m : {1.0, 2.0, 5.0, 10.0}) {
        if (m * base >= least * (1 - 1e-9)) {
            return m * base;
        }
    }
    return 10.0 * base;
}

std::vector<RulerTick> RulerTicks(const TimeWindow& window, const CaptureSettings& settings,
                                  int minSpacing) {
    const auto period = KnownPeriodNs(settings);
    const double leastSamples = std::max(minSpacing, 1) / window.pixelsPerSample;
    double stepSamples = 0;
    double stepUnits = 0;
    RulerUnit unit{" smp", 1.0, 0};
    if (period) {
        unit = UnitOf(settings.rateIndex);
        const double stepNs = RoundStep(leastSamples * *period);
        stepSamples = stepNs / *period;
        stepUnits = stepNs / unit.nsPerUnit;
    } else {
        stepSamples = std::max(1.0, RoundStep(leastSamples));
        stepUnits = stepSamples;
    }
    const int decimals = std::max(unit.decimals, DecimalsFor(stepUnits));
    const int origin = TimeOrigin(settings);
    const auto kFirst = static_cast<long>(std::ceil((window.first - origin) / stepSamples));
    const auto kLast =
        static_cast<long>(std::floor((window.first + window.Span() - origin) / stepSamples));
    std::vector<RulerTick> ticks;
    for (long k = kFirst; k <= kLast; ++k) {
        const double value = static_cast<double>(k) * stepUnits;
        ticks.push_back({origin + static_cast<double>(k) * stepSamples,
                         Printf("%.*f%s", k == 0 ? 0.0 : value, decimals, unit.suffix)});
    }
    return ticks;
}

std::string FormatDuration(double ns) {
    return Scaled(ns, {"ns", "us", "ms", "s"}, {1.0, 1e3, 1e6, 1e9});
}

std::string FormatFrequency(double hz) {
    return Scaled(hz, {"Hz", "kHz", "MHz", "GHz"}, {1.0, 1e3, 1e6, 1e9});
}

} // namespace pulsara
