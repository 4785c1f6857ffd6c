#include "view/analysis_rows.h"
#include "view/analysis_scene.h"
#include "view/geometry.h"
#include "view/rows.h"
#include "view/ruler.h"
#include "view/time_scale.h"

#include <algorithm>
#include <cmath>
#include <span>

namespace pulsara {
namespace {

constexpr Rgb kUnfilledShade{228, 228, 228};
constexpr Rgb kOverviewBackground{244, 244, 244};
constexpr Rgb kOverviewRange{205, 222, 255};
constexpr Rgb kOverviewActivity{96, 96, 96};
constexpr Pen kTriggerPen{1, {0, 160, 0}};
constexpr Pen kSearchTickPen{1, {230, 120, 0}};
constexpr Rgb kSearchCurrent{255, 236, 170};
constexpr Pen kRangePen{1, {0, 0, 255}};
constexpr Pen kCursorAPen{1, {255, 120, 0}};
constexpr Pen kCursorBPen{1, {170, 0, 200}};
constexpr Pen kSeparatorPen{1, {200, 200, 200}};

int Pixel(double x) {
    return static_cast<int>(std::lround(x));
}

int ChannelRowCount(const AnalysisScene& scene) {
    return scene.capture == nullptr ? 0 : std::clamp(scene.capture->channels.rowCount, 0, kMaxRows);
}

void Text(Canvas& canvas, Point at, const std::string& text, Rgb background = kWhite) {
    canvas.FillRect({at.x, at.y, at.x + static_cast<int>(text.size()) * kCharWidth, at.y + 12},
                    background);
    canvas.DrawText(at, text);
}

void VerticalLine(Canvas& canvas, int x, int y0, int y1) {
    canvas.MoveTo({x, y0});
    canvas.LineTo({x, y1});
}

// Samples without captured data: the first 2 x unfilledPairs.
void ShadeUnfilled(Canvas& canvas, const CaptureSettings& settings, const TimeWindow& window,
                   int left, int top, int bottom) {
    const int unfilled = std::min(2 * static_cast<int>(settings.unfilledPairs), kSampleCount);
    if (unfilled <= 0) {
        return;
    }
    const int x0 = std::max(0, Pixel(window.XOf(0)));
    const int x1 = std::min(window.width, Pixel(window.XOf(unfilled)));
    if (x1 > x0) {
        canvas.FillRect({left + x0, top, left + x1, bottom}, kUnfilledShade);
    }
}

void DrawOverview(Canvas& canvas, const AnalysisScene& scene, const AnalysisLayout& layout) {
    const Rect& client = layout.client;
    const int left = client.left + AnalysisLayout::kTraceLeft;
    const int top = client.top + AnalysisLayout::kOverviewTop;
    const int bottom = client.top + AnalysisLayout::kOverviewBottom;
    const TimeWindow whole = WholeCapture(layout.TraceWidth());

    canvas.FillRect({left, top, client.right, bottom}, kOverviewBackground);
    const int r0 = std::max(0, Pixel(whole.XOf(scene.window.first)));
    const int r1 = std::min(
        whole.width, std::max(r0 + 1, Pixel(whole.XOf(scene.window.first + scene.window.Span()))));
    canvas.FillRect({left + r0, top, left + r1, bottom}, kOverviewRange);
    ShadeUnfilled(canvas, scene.capture->settings, whole, left, top + 1, bottom);

    // Each channel row as a thin band, dark where it changes: bursts stand out at a glance.
    const int rows = ChannelRowCount(scene);
    const int inner = bottom - top - 2;
    const int band = rows > 0 ? std::max(1, inner / rows) : inner;
    const std::vector<Segment> segments = Segments(*scene.changes, whole);
    for (int n = 0; n < rows && (n + 1) * band <= inner; ++n) {
        const std::uint32_t mask = RowMask(scene.capture->channels, n);
        const int y0 = top + 1 + n * band;
        const int y1 = y0 + std::max(1, band - (band > 2 ? 1 : 0));
        int runStart = -1;
        const auto flush = [&](int x) {
            if (runStart >= 0) {
                canvas.FillRect({left + runStart, y0, left + x, y1}, kOverviewActivity);
                runStart = -1;
            }
        };
        for (const Segment& segment : segments) {
            const bool active =
                ((segment.changes | scene.changes->ChangeAt(segment.first)) & mask) != 0;
            if (active && runStart < 0) {
                runStart = segment.x0;
            } else if (!active) {
                flush(segment.x0);
            }
        }
        flush(whole.width);
    }

    const Pen oldPen = canvas.SelectPen(kTriggerPen);
    if (TriggerSample(scene.capture->settings.triggerPosition)) {
        VerticalLine(canvas, left + Pixel(whole.XOf(TimeOrigin(scene.capture->settings))), top,
                     bottom);
    }
    canvas.SelectPen(kRangePen);
    canvas.MoveTo({left + r0, top});
    canvas.LineTo({left + r1 - 1, top});
    canvas.LineTo({left + r1 - 1, bottom - 1});
    canvas.LineTo({left + r0, bottom - 1});
    canvas.LineTo({left + r0, top});
    // Matches over the range box: a match in view must not hide under its edge. One tick
    // per pixel column however many matches fall in it.
    canvas.SelectPen(kSearchTickPen);
    int lastTick = -1;
    for (const SearchMark& mark : scene.searchMarks) {
        const int x = std::clamp(Pixel(whole.XOf(mark.start)), 0, whole.width - 1);
        if (x != lastTick) {
            VerticalLine(canvas, left + x, top, top + 7);
            lastTick = x;
        }
    }
    canvas.SelectPen(oldPen);
    Text(canvas, {client.left + 2, top + 6}, "overview");
}

void DrawTimeRuler(Canvas& canvas, const AnalysisScene& scene, const AnalysisLayout& layout) {
    const Rect& client = layout.client;
    const int left = client.left + AnalysisLayout::kTraceLeft;
    const auto& settings = scene.capture->settings;
    const int unfilled = 2 * static_cast<int>(settings.unfilledPairs);
    const Pen oldPen = canvas.SelectPen(kTickPen);
    for (const RulerTick& tick : RulerTicks(scene.window, settings)) {
        const int x = left + Pixel(scene.window.XOf(tick.sample));
        if (x >= client.right) {
            continue;
        }
        VerticalLine(canvas, x, client.top + AnalysisLayout::kRulerTextTop + 12, client.bottom);
        canvas.SetTextColour(tick.sample < unfilled ? kUnfilledLabelColour : kBlack);
        Text(canvas, {x + 2, client.top + AnalysisLayout::kRulerTextTop}, tick.label);
    }
    canvas.SetTextColour(kBlack);
    canvas.SelectPen(kSeparatorPen);
    canvas.MoveTo({client.left, client.top + AnalysisLayout::kRowsTop - 1});
    canvas.LineTo({client.right, client.top + AnalysisLayout::kRowsTop - 1});
    canvas.SelectPen(oldPen);
}

// A marker line through ruler and rows, with its letter in the ruler.
void DrawMarker(Canvas& canvas, const AnalysisLayout& layout, const TimeWindow& window,
                double sample, const Pen& pen, const std::string& letter) {
    const int x = Pixel(window.XOf(sample));
    if (x < 0 || x >= window.width) {
        return;
    }
    const Rect& client = layout.client;
    const int at = client.left + AnalysisLayout::kTraceLeft + x;
    const Pen oldPen = canvas.SelectPen(pen);
    VerticalLine(canvas, at, client.top + AnalysisLayout::kRulerTop, client.bottom);
    canvas.SetTextColour(pen.colour);
    Text(canvas, {at + 2, client.top + AnalysisLayout::kRulerTop}, letter);
    canvas.SetTextColour(kBlack);
    canvas.SelectPen(oldPen);
}

void DrawName(Canvas& canvas, const Rect& client, int rowTop, const std::string& name) {
    canvas.ClipTo({client.left, rowTop, client.left + AnalysisLayout::kTraceLeft - 2,
                   rowTop + AnalysisLayout::kRowHeight});
    Text(canvas, {client.left, rowTop + 4}, name);
    canvas.ClipTo(client);
}

} // namespace

int AnalysisLayout::VisibleRows() const {
    return std::max(0, (client.Height() - kRowsTop) / kRowHeight);
}

int TotalRows(const AnalysisScene& scene) {
    return ChannelRowCount(scene) + static_cast<int>(scene.decoderRows.size());
}

int ClampFirstRow(const AnalysisScene& scene, const AnalysisLayout& layout, int row) {
    return std::clamp(row, 0, std::max(0, TotalRows(scene) - layout.VisibleRows()));
}

std::uint32_t RowMask(const ChannelTable& table, int row) {
    if (row < 0 || row >= std::min(table.rowCount, kMaxRows)) {
        return 0;
    }
    const auto& r = table.rows[static_cast<std::size_t>(row)];
    std::uint32_t mask = 0;
    for (int j = 0; j < std::clamp(r.probeCount, 0, kMaxProbesPerRow); ++j) {
        const unsigned p = r.probes[static_cast<std::size_t>(j)];
        mask |= p <= 31 ? 1U << p : 0U;
    }
    return mask;
}

AnalysisHit HitTest(const AnalysisScene& scene, const AnalysisLayout& layout, Point point) {
    const Rect& c = layout.client;
    if (point.x < c.left || point.x >= c.right || point.y < c.top || point.y >= c.bottom) {
        return {};
    }
    const double x = point.x - c.left - AnalysisLayout::kTraceLeft;
    const int y = point.y - c.top;
    if (x < 0) {
        return {AnalysisArea::Names, -1, 0};
    }
    if (y < AnalysisLayout::kRulerTop) {
        return {AnalysisArea::Overview, -1, WholeCapture(layout.TraceWidth()).SampleAt(x)};
    }
    const double sample = scene.window.SampleAt(x);
    if (y < AnalysisLayout::kRowsTop) {
        return {AnalysisArea::Ruler, -1, sample};
    }
    const int row = scene.firstRow + (y - AnalysisLayout::kRowsTop) / AnalysisLayout::kRowHeight;
    return {AnalysisArea::Rows, row < TotalRows(scene) ? row : -1, sample};
}

void DrawAnalysisView(Canvas& canvas, const Rect& client, const AnalysisScene& given) {
    if (given.capture == nullptr || given.changes == nullptr) {
        return;
    }
    const AnalysisLayout layout{client};
    // The window is held to the client's width and to its limits, whatever the caller gave.
    AnalysisScene scene = given;
    scene.window = Resized(scene.window, layout.TraceWidth());
    const Font oldFont = canvas.SelectFont(kViewFont);
    const Pen oldPen = canvas.SelectPen(kTracePen);
    canvas.ClipTo(client);
    canvas.FillRect(client, kWhite);
    canvas.SetTextColour(kBlack);

    const int left = client.left + AnalysisLayout::kTraceLeft;
    const auto& capture = *scene.capture;
    ShadeUnfilled(canvas, capture.settings, scene.window, left,
                  client.top + AnalysisLayout::kRowsTop, client.bottom);
    if (scene.currentMark >= 0 &&
        static_cast<std::size_t>(scene.currentMark) < scene.searchMarks.size()) {
        const SearchMark& mark = scene.searchMarks[static_cast<std::size_t>(scene.currentMark)];
        const int x0 = std::max(-1, Pixel(scene.window.XOf(mark.start)) - 1);
        const int x1 = std::min(scene.window.width,
                                std::max(x0 + 3, Pixel(scene.window.XOf(mark.end + 1)) + 1));
        if (x1 > 0 && x0 < scene.window.width) {
            canvas.FillRect({left + std::max(x0, 0), client.top + AnalysisLayout::kRowsTop,
                             left + x1, client.bottom},
                            kSearchCurrent);
        }
    }
    DrawTimeRuler(canvas, scene, layout);
    if (TriggerSample(capture.settings.triggerPosition)) {
        DrawMarker(canvas, layout, scene.window, TimeOrigin(capture.settings), kTriggerPen, "T");
    }

    const std::vector<Segment> segments = Segments(*scene.changes, scene.window);
    const int channelRows = ChannelRowCount(scene);
    const int firstRow = ClampFirstRow(scene, layout, scene.firstRow);
    for (int slot = 0; slot < layout.VisibleRows(); ++slot) {
        const int n = firstRow + slot;
        if (n >= TotalRows(scene)) {
            break;
        }
        const int top = layout.RowTop(slot);
        if (n < channelRows) {
            const auto& row = capture.channels.rows[static_cast<std::size_t>(n)];
            DrawName(canvas, client, top, VisibleName(row));
            const auto count = static_cast<std::size_t>(std::clamp(row.probeCount, 0, 32));
            canvas.SelectPen(kTracePen);
            if (count == 1) {
                DrawZoomedTrace(canvas, segments, row.probes[0], left, layout.Baseline(slot));
            } else if (count > 1) {
                DrawZoomedBus(canvas, segments, std::span(row.probes).first(count), left,
                              client.right, layout.Baseline(slot));
            }
            continue;
        }
        const AnnotationRow& row = scene.decoderRows[static_cast<std::size_t>(n - channelRows)];
        DrawName(canvas, client, top, row.title);
        const Rect area{left, top, client.right, top + AnalysisLayout::kRowHeight};
        canvas.ClipTo(area);
        DrawAnnotationRow(canvas, row, scene.window, area);
        canvas.ClipTo(client);
    }

    if (scene.cursors.a) {
        DrawMarker(canvas, layout, scene.window, *scene.cursors.a, kCursorAPen, "A");
    }
    if (scene.cursors.b) {
        DrawMarker(canvas, layout, scene.window, *scene.cursors.b, kCursorBPen, "B");
    }
    DrawOverview(canvas, scene, layout);

    canvas.SelectPen(oldPen);
    canvas.SelectFont(oldFont);
    canvas.ClearClip();
}

} // namespace pulsara
