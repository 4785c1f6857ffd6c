#pragma once
// The rows of the view: a one-probe row as a logic trace, any other as a bus box chain with
// hexadecimal labels.

#include "capture/capture.h"
#include "view/canvas.h"

#include <cstdint>
#include <span>
#include <string>

namespace pulsara {

inline constexpr Pen kTracePen{1, {255, 0, 0}};
inline constexpr Pen kBusPen{1, {0, 0, 255}};

// Draws probe `probe` as one unbroken line from x = 80 to x = 592 with the current pen:
// low on the baseline, high 16 pixels above it, edges on column borders.
void DrawTrace(Canvas& canvas, const SampleMemory& memory, std::int32_t h, int probe, int baseline);

// The bus value shown in a column: probes[j] gives bit j. Probes above 31 read as 0.
[[nodiscard]] std::uint32_t BusValue(const SampleMemory& memory, std::int32_t h,
                                     std::int32_t column, std::span<const std::uint8_t> probes);

// Hex digits of a bus label: (count + 3) / 4.
[[nodiscard]] constexpr int BusLabelWidth(int probeCount) {
    return (probeCount + 3) / 4;
}

// The last `digits` characters of the value in "%8.8X" form.
[[nodiscard]] std::string BusLabel(std::uint32_t value, int digits);

// Draws a bus of the given probes (at most 32 are used; none draws nothing): a label on every
// run of equal values at least as long as the label, and the box outline, open at x = 80
// and x = 592. Leaves pen and font as it found them.
void DrawBus(Canvas& canvas, const SampleMemory& memory, std::int32_t h,
             std::span<const std::uint8_t> probes, int baseline);

// The name bytes of a row as drawn: up to its NUL, without control characters (a name can
// end with its line's CR LF).
[[nodiscard]] std::string VisibleName(const ChannelRow& row);

} // namespace pulsara
