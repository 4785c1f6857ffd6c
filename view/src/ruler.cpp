#include "view/ruler.h"

#include "capture/labels.h"
#include "view/geometry.h"

#include <array>
#include <cstdio>

namespace pulsara {

std::optional<std::int32_t> TriggerSample(std::int32_t triggerPosition) {
    static constexpr std::array<std::int32_t, 3> kTriggerSamples = {24, 16378, 32728};
    if (triggerPosition < 0 ||
        triggerPosition >= static_cast<std::int32_t>(kTriggerSamples.size())) {
        return std::nullopt;
    }
    return kTriggerSamples[static_cast<std::size_t>(triggerPosition)];
}

std::optional<std::string> RulerLabel(std::int64_t rel, std::int32_t rateIndex) {
    if (rateIndex < 0 || rateIndex >= static_cast<std::int32_t>(samplePeriodNs.size())) {
        return std::nullopt;
    }
    const double ns = static_cast<double>(rel) *
                      static_cast<double>(samplePeriodNs[static_cast<std::size_t>(rateIndex)]);
    std::array<char, 64> text{};
    if (rateIndex >= 13) {
        std::snprintf(text.data(), text.size(), "%.0fmS", ns * 0.000001);
    } else if (rateIndex <= 4) {
        std::snprintf(text.data(), text.size(), "%.0fnS", ns);
    } else {
        std::snprintf(text.data(), text.size(), "%.1fuS", ns * 0.001);
    }
    return std::string(text.data());
}

void DrawRuler(Canvas& canvas, const CaptureSettings& settings, std::int32_t h) {
    const Pen oldPen = canvas.SelectPen(kTickPen);
    const Font oldFont = canvas.SelectFont(kViewFont);
    const auto trigger = TriggerSample(settings.triggerPosition);
    const bool rateKnown = RulerLabel(0, settings.rateIndex).has_value();
    if (trigger && rateKnown) {
        const std::int64_t unfilledSamples = 2 * std::int64_t{settings.unfilledPairs};
        for (int i = 0; i < kColumnCount; ++i) {
            const std::int64_t s = ColumnToSample(i, h);
            const std::int64_t rel = s - *trigger;
            if (rel % 10 != 0) {
                continue;
            }
            const int x = ColumnLeft(i);
            canvas.SetTextColour(s < unfilledSamples ? kUnfilledLabelColour : kBlack);
            canvas.DrawText({x, kRulerTextTop}, *RulerLabel(rel, settings.rateIndex));
            canvas.MoveTo({x, kTickTop});
            canvas.LineTo({x, kTickBottom});
        }
    }
    // Row names and bus labels rely on black being set here.
    canvas.SetTextColour(kBlack);
    canvas.SelectFont(oldFont);
    canvas.SelectPen(oldPen);
}

} // namespace pulsara
