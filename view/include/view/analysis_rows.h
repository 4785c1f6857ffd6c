#pragma once
// The rows of the analysis view at any zoom. The view is cut into segments: one per sample
// when a sample is a pixel or wider, one per pixel column when a column holds several
// samples. A segment knows its first and last word and which probes change inside it, so
// a trace is steady low, steady high or "changed" (a full-height mark) in every column,
// and no edge is ever dropped however far out the zoom is.

#include "view/analysis_scene.h"
#include "view/canvas.h"
#include "view/change_table.h"
#include "view/time_window.h"

#include <cstdint>
#include <span>
#include <vector>

namespace pulsara {

inline constexpr Rgb kBusHatchColour{200, 200, 255};
inline constexpr Pen kAnnotationPen{1, {0, 110, 110}};
inline constexpr Rgb kAnnotationFill{215, 245, 240};
inline constexpr Rgb kErrorText{200, 0, 0};
// Pixels per character of the view font, for deciding whether a text fits a box.
inline constexpr int kCharWidth = 7;

struct Segment {
    int x0 = 0; // pixels x0..x1-1 from the trace area's left edge
    int x1 = 0;
    int first = 0; // samples first..last
    int last = 0;
    std::uint32_t firstWord = 0;
    std::uint32_t lastWord = 0;
    std::uint32_t changes = 0; // probes that change inside (after `first`, up to `last`)
};

[[nodiscard]] std::vector<Segment> Segments(const ChangeTable& changes, const TimeWindow& window);

// `left` is the x of the trace area, `baseline` the low level; high is 16 pixels above.
void DrawZoomedTrace(Canvas& canvas, std::span<const Segment> segments, int probe, int left,
                     int baseline);
void DrawZoomedBus(Canvas& canvas, std::span<const Segment> segments,
                   std::span<const std::uint8_t> probes, int left, int right, int baseline);
void DrawAnnotationRow(Canvas& canvas, const AnnotationRow& row, const TimeWindow& window,
                       const Rect& area);

// The longest of the texts that fits `width` pixels, or nothing.
[[nodiscard]] const std::string* FittingText(const std::vector<std::string>& texts, int width);

} // namespace pulsara
