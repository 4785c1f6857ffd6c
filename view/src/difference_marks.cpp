#include "view/difference_marks.h"

#include <algorithm>
#include <cmath>

namespace pulsara {
namespace {

constexpr int kBarHeight = 3;

// Marks the pixel columns of `window` that hold a span.
void MarkSpans(std::vector<std::uint8_t>& columns, const std::vector<analysis::SampleSpan>& spans,
               const TimeWindow& window) {
    const double last = window.first + window.Span();
    auto it =
        std::lower_bound(spans.begin(), spans.end(), window.first,
                         [](const analysis::SampleSpan& s, double v) { return s.last + 1 < v; });
    while (it != spans.end() && it->first <= last) {
        const int x0 = std::max(0, static_cast<int>(std::floor(window.XOf(it->first))));
        // Zoomed out, many spans share a pixel: the ones that start in it are skipped,
        // the last of them giving the end.
        // The next span that starts in a later pixel: gallop, then halve, since it is
        // most often a few spans on.
        const double until = window.SampleAt(x0 + 1);
        auto low = it + 1;
        std::ptrdiff_t step = 1;
        while (spans.end() - low > step && (low + step)->first < until) {
            low += step;
            step *= 2;
        }
        const auto high = spans.end() - low > step ? low + step + 1 : spans.end();
        auto next = std::lower_bound(
            low, high, until, [](const analysis::SampleSpan& s, double v) { return s.first < v; });
        const auto& end = *(next - 1);
        const int x1 = std::min(
            window.width, std::max(x0 + 1, static_cast<int>(std::ceil(window.XOf(end.last + 1)))));
        std::fill(columns.begin() + x0, columns.begin() + std::max(x0, x1), std::uint8_t{1});
        it = next;
    }
}

// The marked columns as bars from y0 to y1, one rectangle a run; clears the marks.
void DrawColumns(Canvas& canvas, std::vector<std::uint8_t>& columns, int left, int y0, int y1) {
    const int width = static_cast<int>(columns.size());
    for (int x = 0; x < width;) {
        if (columns[static_cast<std::size_t>(x)] == 0) {
            ++x;
            continue;
        }
        const int start = x;
        while (x < width && columns[static_cast<std::size_t>(x)] != 0) {
            columns[static_cast<std::size_t>(x++)] = 0;
        }
        canvas.FillRect({left + start, y0, left + x, y1}, kDifferenceColour);
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
    const int channelRows = std::min(static_cast<int>(rows.size()),
                                     std::clamp(scene.capture->channels.rowCount, 0, kMaxRows));
    canvas.ClipTo({left, client.top, client.right, client.bottom});
    const TimeWindow whole = WholeCapture(layout.TraceWidth());
    const int overviewBottom = client.top + AnalysisLayout::kOverviewBottom;
    std::vector<std::uint8_t> overview(static_cast<std::size_t>(std::max(whole.width, 0)));
    std::vector<std::uint8_t> row(static_cast<std::size_t>(std::max(scene.window.width, 0)));
    for (int r = 0; r < channelRows; ++r) {
        const auto& spans = rows[static_cast<std::size_t>(r)].spans;
        if (spans.empty()) {
            continue;
        }
        MarkSpans(overview, spans, whole);
        const int slot = r - scene.firstRow;
        if (slot >= 0 && slot < layout.VisibleRows()) {
            const int top = layout.RowTop(slot);
            MarkSpans(row, spans, scene.window);
            DrawColumns(canvas, row, left, top, top + kBarHeight);
        }
    }
    DrawColumns(canvas, overview, left, overviewBottom - kBarHeight, overviewBottom);
    canvas.ClearClip();
}

} // namespace pulsara
