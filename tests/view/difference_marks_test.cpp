// Difference marks against the ranges they stand for: every differing sample under a red
// column, no red column without one, at every zoom (however many spans share a pixel).

#include "support/recording_canvas.h"
#include "view/difference_marks.h"

#include <gtest/gtest.h>

#include <random>
#include <variant>

namespace pulsara {
namespace {

TEST(DifferenceMarks, ColumnsCoverExactlyTheDifferingPixels) {
    auto capture = std::make_unique<Capture>();
    capture->channels.rowCount = 1;
    capture->channels.rows[0].probeCount = 1;
    const ChangeTable changes(capture->samples);
    const Rect client{0, 0, 80 + 1000, 200};
    const int width = client.Width() - AnalysisLayout::kTraceLeft;

    // Sparse single samples, a dense stretch of one-sample spans, a long run, the last sample.
    std::vector<analysis::SampleSpan> spans = {{0, 0}, {100, 100}, {5000, 5200}};
    for (int s = 10000; s < 12000; s += 2) {
        spans.push_back({s, s});
    }
    std::mt19937 random(5);
    for (int s = 20000; s < 30000; s += 3 + static_cast<int>(random() % 40)) {
        spans.push_back({s, s + static_cast<int>(random() % 3)});
    }
    spans.push_back({32767, 32767});
    std::vector<bool> differs(kSampleCount);
    for (const auto& span : spans) {
        for (int s = span.first; s <= span.last; ++s) {
            differs[static_cast<std::size_t>(s)] = true;
        }
    }
    const analysis::TargetDifference row{{"R", 1}, 0, spans};

    const TimeWindow windows[] = {WholeCapture(width), ShowSamples(width, 9900, 10300),
                                  ShowSamples(width, 32700, 32767), ShowSamples(width, 0, 40)};
    for (const auto& window : windows) {
        SCOPED_TRACE(window.pixelsPerSample);
        const AnalysisScene scene{capture.get(), &changes, window, 0, {}, {}};
        RecordingCanvas canvas;
        DrawDifferenceMarks(canvas, client, scene, {&row, 1});
        std::vector<bool> red(static_cast<std::size_t>(width));
        const int top = AnalysisLayout{client}.RowTop(0);
        for (const auto& op : canvas.Ops()) {
            const auto* fill = std::get_if<FillOp>(&op);
            if (fill == nullptr || fill->rect.top != top) {
                continue;
            }
            EXPECT_EQ(fill->colour, kDifferenceColour);
            for (int x = fill->rect.left; x < fill->rect.right; ++x) {
                ASSERT_GE(x - AnalysisLayout::kTraceLeft, 0);
                ASSERT_LT(x - AnalysisLayout::kTraceLeft, width);
                red[static_cast<std::size_t>(x - AnalysisLayout::kTraceLeft)] = true;
            }
        }
        for (int x = 0; x < width; ++x) {
            // The samples this column shows, at least the one under its left edge.
            const int from = std::max(0, static_cast<int>(std::floor(window.SampleAt(x))));
            const int to =
                std::min(kSampleCount - 1,
                         std::max(from, static_cast<int>(std::ceil(window.SampleAt(x + 1))) - 1));
            bool any = false;
            for (int s = from; s <= to; ++s) {
                any = any || differs[static_cast<std::size_t>(s)];
            }
            EXPECT_EQ(red[static_cast<std::size_t>(x)], any)
                << "column " << x << ", samples " << from << ".." << to;
        }
    }
}

} // namespace
} // namespace pulsara
