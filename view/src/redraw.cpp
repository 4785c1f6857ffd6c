#include "view/redraw.h"

#include "view/geometry.h"
#include "view/rows.h"
#include "view/ruler.h"

#include <span>

namespace pulsara {

void RedrawView(Canvas& canvas, const Rect& client, const Capture& capture, std::int32_t h,
                std::int32_t v) {
    const Font oldFont = canvas.SelectFont(kViewFont);
    canvas.ClipTo(client);
    const Pen oldPen = canvas.SelectPen(kTracePen);
    canvas.FillRect(client, kWhite);
    DrawRuler(canvas, capture.settings, h);

    const auto& table = capture.channels;
    const std::int32_t rowCount = table.rowCount < kMaxRows ? table.rowCount : kMaxRows;
    for (int k = 0; k < kSlotCount; ++k) {
        const std::int64_t n = std::int64_t{v} + k;
        // Rows past the last defined one may hold an earlier, longer definition: not shown.
        if (n < 0 || n >= rowCount) {
            continue;
        }
        const auto& row = table.rows[static_cast<std::size_t>(n)];
        const int baseline = SlotBaseline(k);
        canvas.DrawText({0, baseline - 12}, VisibleName(row));
        if (row.probeCount == 1) {
            DrawTrace(canvas, capture.samples, h, row.probes[0], baseline);
        } else if (row.probeCount > 1) {
            const auto count = static_cast<std::size_t>(
                row.probeCount < kMaxProbesPerRow ? row.probeCount : kMaxProbesPerRow);
            DrawBus(canvas, capture.samples, h, std::span(row.probes).first(count), baseline);
        }
    }

    canvas.SelectPen(oldPen);
    canvas.SelectFont(oldFont);
    canvas.ClearClip();
}

} // namespace pulsara
