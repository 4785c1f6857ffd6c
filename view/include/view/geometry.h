#pragma once
// The pixel grid of the waveform view, shared by the drawing and the mouse: 64 columns of
// 8 pixels from x = 80, 13 row slots of 20 pixels, and which sample a column shows.
// H (two samples per unit) and V (rows) are the scroll positions, passed in by the caller.

#include "capture/capture.h"

#include <cstdint>

namespace pulsara {

inline constexpr int kColumnCount = 64;
inline constexpr int kColumnWidth = 8;
inline constexpr int kGridLeft = 80;
inline constexpr int kGridRight = kGridLeft + kColumnCount * kColumnWidth; // 592
inline constexpr int kSlotCount = 13;
inline constexpr int kSlotHeight = 20;
inline constexpr int kFirstBaseline = 48;
inline constexpr int kLevelHeight = 16; // high level / bus top above the baseline
inline constexpr int kRulerTextTop = 20;
inline constexpr int kTickTop = 30;
inline constexpr int kTickBottom = 300;
// Column 0 shows sample 16380 at H = 0.
inline constexpr int kSampleAtColumn0 = 16380;

// The drawing frame's client area as the window and the render command lay it out: the
// grid reaches x = 592 and y = 300, the rest is background.
inline constexpr int kViewClientWidth = 600;
inline constexpr int kViewClientHeight = 304;

[[nodiscard]] constexpr int ColumnLeft(int column) {
    return kGridLeft + kColumnWidth * column;
}

[[nodiscard]] constexpr int SlotBaseline(int slot) {
    return kFirstBaseline + kSlotHeight * slot;
}

// The sample shown in a column: column + 2H + 16380. Any column is accepted (clicks outside
// the grid give such columns); the result saturates at the 32-bit limits instead of
// overflowing. Callers keep it within 0..32767 before reading samples.
[[nodiscard]] std::int32_t ColumnToSample(std::int32_t column, std::int32_t h);

// Probe `probe` of the sample in `column`: 0 or 1. A probe above 31 and a sample outside
// the memory read as 0.
[[nodiscard]] int ProbeBit(const SampleMemory& memory, std::int32_t h, std::int32_t column,
                           int probe);

// The grid cell under a point of the frame's client area. Integer division truncates toward
// zero, so x = 73..79 is column 0 as well and y = 9..27 slot 0.
struct GridCell {
    std::int32_t column = 0;
    std::int32_t slot = 0;

    friend constexpr bool operator==(const GridCell&, const GridCell&) = default;
};

[[nodiscard]] constexpr GridCell ClickToCell(int x, int y) {
    return {(x - kGridLeft) / kColumnWidth, (y - (kFirstBaseline - kSlotHeight)) / kSlotHeight};
}

} // namespace pulsara
