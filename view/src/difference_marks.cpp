#include "view/difference_marks.h"

#include <algorithm>
#include <cmath>

namespace pulsara {
namespace {

constexpr int kBarHeight = 3;

// Spans in pixel columns of `window`, merged where they touch, as FillRects from y0 to y1.
void MarkSpans(Canvas& canvas, const std::vector<analysis::SampleSpan>& spans,
               const TimeWindow& window, int left, int y0, int y1) {
    const double last = window.first + window.Span();
    auto it = std::lower_bound(spans.begin(), spans.end(), window.first,
                               [](const analysis::SampleSpan& s, double v) { return s.last + 1 < v; });
    int runStart = -1;
    int runEnd = -1;
    for (; it != spans.end() && it->first <= last; ++it) {
        const int x0 = std::max(0, static_cast<int>(std::floor(window.XOf(it->first))));
        const int x1 = std::min(window.width,
                                std::max(x0 + 1, static_cast<int>(std::ceil(window.XOf(it->last + 1)))));
        if (x0 <= runEnd) {
            runEnd = std::max(runEnd, x1);
            continue;
        }
        if (runStart >= 0) {
            canvas.FillRect({left + runStart, y0, left + runEnd, y1}, kDifferenceColour);
        }
        runStart = x0;
        runEnd = x1;
    }
    if (runStart >= 0) {
        canvas.FillRect({left + runStart, y0, left + runEnd, y1}, kDifferenceColour);
    }
}

} // namespace

void DrawDifferenceMarks(Canvas& canvas, const Rect& client, const AnalysisScene& scene,
                         std::span<const analysis::TargetDifference> rows) {
    if (scene.capture == nullptr) {
        return;
    }
    const AnalysisLayout layout{client};
    const int left = client.left + AnalysisLayout::kTraceLeft;
    const int channelRows =
        std::min(static_cast<int>(rows.size()), std::clamp(scene.capture->channels.rowCount, 0, kMaxRows));
    canvas.ClipTo({left, client.top, client.right, client.bottom});
    const TimeWindow whole = WholeCapture(layout.TraceWidth());
    const int overviewBottom = client.top + AnalysisLayout::kOverviewBottom;
    for (int r = 0; r < channelRows; ++r) {
        const auto& spans = rows[static_cast<std::size_t>(r)].spans;
        if (spans.empty()) {
            continue;
        }
        MarkSpans(canvas, spans, whole, left, overviewBottom - kBarHeight, overviewBottom);
        const int slot = r - scene.firstRow;
        if (slot >= 0 && slot < layout.VisibleRows()) {
            const int top = layout.RowTop(slot);
            MarkSpans(canvas, spans, scene.window, left, top, top + kBarHeight);
        }
    }
    canvas.ClearClip();
}

} // namespace pulsara
