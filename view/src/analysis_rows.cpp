#include "view/analysis_rows.h"

#include "view/geometry.h"
#include "view/rows.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace pulsara {
namespace {

int Pixel(double x) {
    return static_cast<int>(std::lround(x));
}

std::uint32_t BusValueOf(std::uint32_t word, std::span<const std::uint8_t> probes) {
    std::uint32_t value = 0;
    for (std::size_t j = 0; j < probes.size() && j < 32; ++j) {
        if (probes[j] <= 31) {
            value |= ((word >> probes[j]) & 1U) << j;
        }
    }
    return value;
}

void HorizontalLine(Canvas& canvas, int x0, int x1, int y) {
    if (x1 > x0) {
        canvas.MoveTo({x0, y});
        canvas.LineTo({x1, y});
    }
}

void VerticalLine(Canvas& canvas, int x, int y0, int y1) {
    canvas.MoveTo({x, y0});
    canvas.LineTo({x, y1});
}

} // namespace

std::vector<Segment> Segments(const ChangeTable& changes, const TimeWindow& window) {
    std::vector<Segment> segments;
    if (window.pixelsPerSample >= 1.0) {
        const int first = std::max(0, static_cast<int>(std::floor(window.first)));
        const int end =
            std::min(kSampleCount, static_cast<int>(std::ceil(window.first + window.Span())));
        segments.reserve(static_cast<std::size_t>(std::max(0, end - first)));
        for (int s = first; s < end; ++s) {
            const int x0 = std::max(0, Pixel(window.XOf(s)));
            const int x1 = std::min(window.width, Pixel(window.XOf(s + 1)));
            if (x1 > x0) {
                const std::uint32_t word = changes.Word(s);
                segments.push_back({x0, x1, s, s, word, word, 0U});
            }
        }
        return segments;
    }
    segments.reserve(static_cast<std::size_t>(window.width));
    // The epsilon keeps a boundary that lands exactly on a sample from rounding down.
    const auto boundary = [&](int x) {
        return static_cast<int>(std::floor(window.SampleAt(x) + 1e-9));
    };
    int a = std::max(0, boundary(0));
    for (int x = 0; x < window.width && a < kSampleCount; ++x) {
        const int b = std::clamp(boundary(x + 1), a + 1, kSampleCount);
        segments.push_back({x, x + 1, a, b - 1, changes.Word(a), changes.Word(b - 1),
                            changes.ChangesIn(a + 1, b)});
        a = b;
    }
    return segments;
}

void DrawZoomedTrace(Canvas& canvas, std::span<const Segment> segments, int probe, int left,
                     int baseline) {
    if (probe < 0 || probe > 31 || segments.empty()) {
        return;
    }
    const std::uint32_t bit = 1U << probe;
    const int high = baseline - kLevelHeight;
    const auto levelY = [&](std::uint32_t word) { return (word & bit) != 0 ? high : baseline; };
    int runStart = -1; // a steady stretch not yet drawn
    int runY = baseline;
    int busyStart = -1; // a stretch of "changed" columns not yet drawn
    const auto flushRun = [&](int x) {
        if (runStart >= 0) {
            HorizontalLine(canvas, left + runStart, left + x, runY);
            runStart = -1;
        }
    };
    const auto flushBusy = [&](int x) {
        if (busyStart >= 0) {
            // FillRect leaves its colour as the text background; texts set their own.
            canvas.FillRect({left + busyStart, high, left + x, baseline + 1}, kTracePen.colour);
            busyStart = -1;
        }
    };
    for (const Segment& segment : segments) {
        if ((segment.changes & bit) != 0) {
            flushRun(segment.x0);
            if (busyStart < 0) {
                busyStart = segment.x0;
            }
            continue;
        }
        flushBusy(segment.x0);
        const int y = levelY(segment.firstWord);
        if (runStart >= 0 && y != runY) {
            flushRun(segment.x0);
            VerticalLine(canvas, left + segment.x0, runY, y);
        }
        if (runStart < 0) {
            runStart = segment.x0;
            runY = y;
        }
    }
    flushRun(segments.back().x1);
    flushBusy(segments.back().x1);
}

void DrawZoomedBus(Canvas& canvas, std::span<const Segment> segments,
                   std::span<const std::uint8_t> probes, int left, int right, int baseline) {
    probes = probes.first(std::min<std::size_t>(probes.size(), kMaxProbesPerRow));
    if (probes.empty() || segments.empty()) {
        return;
    }
    std::uint32_t mask = 0;
    for (const auto p : probes) {
        mask |= p <= 31 ? 1U << p : 0U;
    }
    const int top = baseline - kLevelHeight;
    const int digits = BusLabelWidth(static_cast<int>(probes.size()));
    const Pen oldPen = canvas.SelectPen(kBusPen);

    const auto drawBox = [&](int x0, int x1, bool busy, std::uint32_t value) {
        const int l = left + x0;
        const int r = std::min(left + x1, right);
        HorizontalLine(canvas, l, r, top);
        HorizontalLine(canvas, l, r, baseline);
        if (x0 > 0) {
            VerticalLine(canvas, l, top, baseline + 1);
        }
        if (busy) {
            // Changing faster than the pixels: a tinted box with a stripe every 4 pixels.
            canvas.FillRect({l + 1, top + 1, r, baseline}, kBusHatchColour);
            for (int x = l + 4 - (l % 4); x < r; x += 4) {
                VerticalLine(canvas, x, top + 1, baseline);
            }
            return;
        }
        if (r - l >= digits * kCharWidth + 4) {
            const std::string label = BusLabel(value, digits);
            canvas.FillRect({l + 2, top + 2, l + 2 + digits * kCharWidth, top + 14}, kWhite);
            canvas.DrawText({l + 2, top + 2}, label);
        }
    };

    int boxStart = segments.front().x0;
    bool boxBusy = (segments.front().changes & mask) != 0;
    std::uint32_t boxValue = BusValueOf(segments.front().firstWord, probes);
    for (const Segment& segment : segments.subspan(1)) {
        const bool busy = (segment.changes & mask) != 0;
        const std::uint32_t value = busy ? 0U : BusValueOf(segment.firstWord, probes);
        if (busy != boxBusy || (!busy && value != boxValue)) {
            drawBox(boxStart, segment.x0, boxBusy, boxValue);
            boxStart = segment.x0;
            boxBusy = busy;
            boxValue = value;
        }
    }
    drawBox(boxStart, segments.back().x1, boxBusy, boxValue);
    canvas.SelectPen(oldPen);
}

const std::string* FittingText(const std::vector<std::string>& texts, int width) {
    const std::string* best = nullptr;
    for (const auto& text : texts) {
        const auto needed = static_cast<int>(text.size()) * kCharWidth + 4;
        if (!text.empty() && needed <= width && (best == nullptr || text.size() > best->size())) {
            best = &text;
        }
    }
    return best;
}

void DrawAnnotationRow(Canvas& canvas, const AnnotationRow& row, const TimeWindow& window,
                       const Rect& area) {
    const int top = area.top + 1;
    const int bottom = area.bottom - 2;
    if (!row.message.empty()) {
        canvas.FillRect({area.left, top, area.right, bottom}, kWhite);
        canvas.SetTextColour(row.error ? kErrorText : kBlack);
        canvas.DrawText({area.left + 2, top + 2}, row.message);
        canvas.SetTextColour(kBlack);
        return;
    }
    const Pen oldPen = canvas.SelectPen(kAnnotationPen);
    // Boxes are in order of their first sample: start at the first that can be visible.
    const double firstVisible = window.first;
    const double endVisible = window.first + window.Span();
    auto it = std::lower_bound(row.boxes.begin(), row.boxes.end(), firstVisible,
                               [](const AnnotationBox& box, double s) { return box.first < s; });
    while (it != row.boxes.begin() && std::prev(it)->end > firstVisible) {
        --it; // a box that began before the window and reaches into it
    }
    int denseStart = -1; // boxes narrower than a few pixels, drawn as one solid stretch
    int denseEnd = -1;
    const auto flushDense = [&] {
        if (denseStart >= 0) {
            canvas.FillRect({denseStart, top, denseEnd, bottom + 1}, kAnnotationPen.colour);
            denseStart = -1;
        }
    };
    for (; it != row.boxes.end() && it->first < endVisible; ++it) {
        if (it->end <= firstVisible) {
            continue;
        }
        const int x0 = std::max(area.left, area.left + Pixel(window.XOf(it->first)));
        const int x1 =
            std::min(area.right, std::max(x0 + 1, area.left + Pixel(window.XOf(it->end))));
        if (x1 - x0 < 4) {
            if (denseStart >= 0 && x0 > denseEnd) {
                flushDense();
            }
            if (denseStart < 0) {
                denseStart = x0;
            }
            denseEnd = std::max(denseEnd, x1);
            continue;
        }
        flushDense();
        canvas.FillRect({x0 + 1, top + 1, x1 - 1, bottom}, kAnnotationFill);
        HorizontalLine(canvas, x0, x1, top);
        HorizontalLine(canvas, x0, x1, bottom);
        VerticalLine(canvas, x0, top, bottom + 1);
        VerticalLine(canvas, x1 - 1, top, bottom + 1);
        if (const std::string* text = FittingText(it->texts, x1 - x0)) {
            const int width = static_cast<int>(text->size()) * kCharWidth;
            const int x = x0 + std::max(2, (x1 - x0 - width) / 2);
            canvas.ClipTo({x0 + 1, top + 1, x1 - 1, bottom});
            canvas.DrawText({x, top + 2}, *text);
            canvas.ClipTo(area);
        }
    }
    flushDense();
    canvas.SelectPen(oldPen);
}

} // namespace pulsara
