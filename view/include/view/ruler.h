#pragma once
// The time ruler across the top of the view: a label and a tick every 10 samples, counted
// from the trigger sample.

#include "capture/capture.h"
#include "view/canvas.h"

#include <cstdint>
#include <optional>
#include <string>

namespace pulsara {

inline constexpr Pen kTickPen{1, {128, 128, 128}};
inline constexpr Rgb kUnfilledLabelColour{0, 255, 255};

// The sample at which the ruler reads zero: 24, 16378 or 32728 for TOP, CENTER, LAST;
// nothing for a position outside that table.
[[nodiscard]] std::optional<std::int32_t> TriggerSample(std::int32_t triggerPosition);

// The label `rel` samples after the trigger: nS for the five fastest rates, uS with one
// decimal down to 100KHz, mS from 10KHz on (EXT included). Nothing for a rate outside
// the table.
[[nodiscard]] std::optional<std::string> RulerLabel(std::int64_t rel, std::int32_t rateIndex);

// Draws labels and ticks for horizontal position h. A trigger position or rate outside its
// table draws neither. Leaves pen and font as it found them and the text colour black.
void DrawRuler(Canvas& canvas, const CaptureSettings& settings, std::int32_t h);

} // namespace pulsara
