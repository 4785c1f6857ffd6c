// The analysis window's drawing without a window: the change table against a plain walk,
// zoom and pan arithmetic, ruler steps, what a column shows at any zoom, bus boxes and
// cursor snapping.

#include "capture/samples.h"
#include "support/capture_builder.h"
#include "support/recording_canvas.h"
#include "view/analysis_rows.h"
#include "view/analysis_scene.h"
#include "view/change_table.h"
#include "view/cursors.h"
#include "view/rows.h"
#include "view/time_scale.h"
#include "view/time_window.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>

namespace pulsara {
namespace {

std::uint32_t WalkChanges(const Capture& c, int first, int end, std::uint32_t mask) {
    std::uint32_t changes = 0;
    for (int s = std::max(first, 1); s < std::min(end, kSampleCount); ++s) {
        changes |= SampleWord(c.samples, s) ^ SampleWord(c.samples, s - 1);
    }
    return changes & mask;
}

TEST(ChangeTable, AgreesWithAWalkOverTheSamples) {
    auto capture = std::make_unique<Capture>();
    std::mt19937 random(15);
    // Sparse changes, so that most blocks are quiet and the searches have to descend.
    std::uint32_t word = 0;
    for (int s = 0; s < kSampleCount; ++s) {
        if (random() % 97 == 0) {
            word ^= 1U << (random() % 32);
        }
        test::SetWord(*capture, s, word);
    }
    const ChangeTable table(capture->samples);
    for (int trial = 0; trial < 3000; ++trial) {
        int first = static_cast<int>(random() % (kSampleCount + 2)) - 1;
        int end = first + static_cast<int>(random() % (trial % 3 == 0 ? 40000 : 300));
        const std::uint32_t mask = trial % 2 == 0 ? ~0U : 1U << (random() % 32);
        ASSERT_EQ(table.ChangesIn(first, end), WalkChanges(*capture, first, end, ~0U))
            << first << ".." << end;
        std::optional<int> next;
        std::optional<int> previous;
        for (int s = std::max(first, 0); s < std::min(end, kSampleCount); ++s) {
            if (WalkChanges(*capture, s, s + 1, mask) != 0) {
                next = next.value_or(s);
                previous = s;
            }
        }
        ASSERT_EQ(table.NextChange(first, end, mask), next) << first << ".." << end;
        ASSERT_EQ(table.PreviousChange(first, end, mask), previous) << first << ".." << end;
    }
    EXPECT_EQ(table.Word(-1), 0U);
    EXPECT_EQ(table.Word(kSampleCount), 0U);
}

TEST(TimeWindow, ZoomKeepsTheSampleUnderThePointerWithinTheLimits) {
    struct Case {
        TimeWindow from;
        double factor;
        double x;
        bool anchored; // false: a limit was reached
    };
    const Case cases[] = {
        {{1000, 1, 800}, 2, 300, true},       {{1000, 1, 800}, 0.5, 10, true},
        {{1000, 8, 800}, 4, 400, false},      // beyond 16 px per sample
        {WholeCapture(800), 0.5, 400, false}, // beyond the whole capture
        {{100, 1, 800}, 0.25, 700, false},    // the start would go below sample 0
        {{20000, 0.1, 1000}, 3.7, 999, true},
    };
    for (const auto& c : cases) {
        const TimeWindow to = ZoomAround(ClampWindow(c.from), c.factor, c.x);
        EXPECT_GE(to.pixelsPerSample, MinPixelsPerSample(to.width) - 1e-12);
        EXPECT_LE(to.pixelsPerSample, kMaxPixelsPerSample);
        EXPECT_GE(to.first, 0);
        EXPECT_LE(to.first + to.Span(), kSampleCount + 1e-6);
        if (c.anchored) {
            EXPECT_NEAR(to.SampleAt(c.x), c.from.SampleAt(c.x), 1e-6);
        }
    }
    const TimeWindow whole = WholeCapture(1200);
    EXPECT_DOUBLE_EQ(whole.Span(), kSampleCount);
    EXPECT_EQ(PanBy(whole, 50), whole); // nothing to pan to
    const TimeWindow near = ShowSamples(1000, 100, 199);
    EXPECT_DOUBLE_EQ(near.pixelsPerSample, 10);
    EXPECT_DOUBLE_EQ(PanBy(near, 100).first, 90);
    EXPECT_DOUBLE_EQ(PanBy(near, 5000).first, 0);
    EXPECT_DOUBLE_EQ(PanBy(near, -1e9).first, kSampleCount - 100);
    EXPECT_DOUBLE_EQ(CentreOn(near, 16378).SampleAt(500), 16378);
}

TEST(TimeScale, TicksStandOnRoundStepsInTheMainWindowsUnits) {
    struct Case {
        std::int32_t rate;
        std::int32_t position;
        TimeWindow window;
        const char* zeroLabel; // at the trigger
        const char* nextLabel; // one step after it
    };
    const Case cases[] = {
        {0, 0, {0, 16, 1000}, "0nS", "100nS"}, // 90 px = 56 ns: the next round step
        {5, 0, {0, 16, 1000}, "0.0uS", "1.0uS"},     {5, 1, WholeCapture(1600), "0.0uS", "200.0uS"},
        {6, 1, {16300, 1, 1000}, "0.0uS", "20.0uS"}, {9, 0, {0, 16, 1000}, "0.0uS", "5.0uS"},
        {0, 2, {32700, 16, 1000}, "0nS", "100nS"},   {13, 0, {0, 4, 1000}, "0mS", "5mS"},
        {15, 0, {0, 1, 1000}, "0 smp", "100 smp"},
    };
    for (const auto& c : cases) {
        CaptureSettings settings;
        settings.rateIndex = c.rate;
        settings.triggerPosition = c.position;
        const auto ticks = RulerTicks(c.window, settings);
        ASSERT_GE(ticks.size(), 2U) << c.rate;
        const double step = ticks[1].sample - ticks[0].sample;
        EXPECT_GE(step * c.window.pixelsPerSample, 90 - 1e-9) << c.rate;
        const auto period = KnownPeriodNs(settings);
        const double stepUnits = step * period.value_or(1.0);
        EXPECT_NEAR(RoundStep(stepUnits), stepUnits, stepUnits * 1e-9) << c.rate;
        const auto zero = std::find_if(ticks.begin(), ticks.end(), [&](const RulerTick& t) {
            return std::fabs(t.sample - TimeOrigin(settings)) < 1e-9;
        });
        ASSERT_NE(zero, ticks.end()) << c.rate;
        EXPECT_EQ(zero->label, c.zeroLabel);
        ASSERT_NE(zero + 1, ticks.end());
        EXPECT_EQ((zero + 1)->label, c.nextLabel) << c.rate;
    }
}

// What one row shows over a window: red fills ("changed" columns) and the trace's pixels.
struct RowPicture {
    std::vector<Rect> busy;
    std::set<Point> line;
};

RowPicture DrawRow(const Capture& capture, const TimeWindow& window, int probe) {
    const ChangeTable table(capture.samples);
    RecordingCanvas canvas;
    canvas.SelectPen(kTracePen);
    DrawZoomedTrace(canvas, Segments(table, window), probe, 0, 40);
    RowPicture picture{{}, canvas.LinePixelsOf(kTracePen.colour)};
    for (const auto& op : canvas.Ops()) {
        if (const auto* fill = std::get_if<FillOp>(&op)) {
            picture.busy.push_back(fill->rect);
        }
    }
    return picture;
}

TEST(ZoomedRows, AColumnShowsSteadyLowSteadyHighOrChangedAndNoEdgeIsLost) {
    auto capture = std::make_unique<Capture>();
    test::SetHigh(*capture, 1, 0, kSampleCount - 1); // probe 1 always high
    for (int s = 0; s < kSampleCount; s += 2) {
        test::SetHigh(*capture, 2, s, s); // probe 2 toggles every sample
    }
    test::SetHigh(*capture, 3, 20001, 20001);            // probe 3: one glitch
    test::SetHigh(*capture, 4, 10000, kSampleCount - 1); // probe 4: one rising edge

    for (const TimeWindow window :
         {WholeCapture(800), WholeCapture(1601), ShowSamples(1000, 19000, 21999),
          ShowSamples(640, 20000, 20039)}) {
        SCOPED_TRACE(window.pixelsPerSample);
        const RowPicture low = DrawRow(*capture, window, 0);
        EXPECT_TRUE(low.busy.empty());
        EXPECT_TRUE(
            std::all_of(low.line.begin(), low.line.end(), [](Point p) { return p.y == 40; }));
        EXPECT_EQ(static_cast<int>(low.line.size()), window.width);

        const RowPicture high = DrawRow(*capture, window, 1);
        EXPECT_TRUE(high.busy.empty());
        EXPECT_TRUE(
            std::all_of(high.line.begin(), high.line.end(), [](Point p) { return p.y == 24; }));

        const RowPicture toggling = DrawRow(*capture, window, 2);
        if (window.pixelsPerSample < 1) {
            ASSERT_EQ(toggling.busy.size(), 1U); // one full-height block across
            EXPECT_EQ(toggling.busy[0], (Rect{0, 24, window.width, 41}));
        } else {
            EXPECT_TRUE(toggling.busy.empty()); // every edge drawn as a line
            EXPECT_EQ(std::count_if(toggling.line.begin(), toggling.line.end(),
                                    [](Point p) { return p.y == 32; }),
                      static_cast<long>(std::ceil(window.Span())) - 1);
        }

        // The glitch is at its place: a mark (or a one-sample pulse) where sample 20001 is.
        const RowPicture glitch = DrawRow(*capture, window, 3);
        const int x = static_cast<int>(std::floor(window.XOf(20001)));
        const bool marked =
            std::any_of(glitch.busy.begin(), glitch.busy.end(),
                        [&](const Rect& r) { return r.left <= x && x < r.right; }) ||
            glitch.line.contains({std::max(x, 0), 24}) || glitch.line.contains({x + 1, 24});
        EXPECT_EQ(marked, window.first <= 20001 && 20001 < window.first + window.Span());

        // One edge: a vertical line where it is, or the mark of the column that holds it.
        const RowPicture edge = DrawRow(*capture, window, 4);
        if (window.first < 10000 && 10000 < window.first + window.Span()) {
            const int e = static_cast<int>(std::lround(window.XOf(10000)));
            const int column = static_cast<int>(std::floor(window.XOf(10000)));
            const bool shown =
                edge.line.contains({e, 32}) ||
                (edge.busy.size() == 1 && edge.busy[0] == Rect{column, 24, column + 1, 41});
            EXPECT_TRUE(shown) << e;
        }
    }
}

TEST(ZoomedRows, BusesShowHexWhereTheBoxIsWideAndHatchWhereTheyChangeFasterThanPixels) {
    auto capture = std::make_unique<Capture>();
    for (int s = 0; s < kSampleCount; ++s) {
        test::SetWord(*capture, s,
                      static_cast<std::uint32_t>(s / 4)); // a counter, 4 samples a step
    }
    const ChangeTable table(capture->samples);
    const std::vector<std::uint8_t> probes = {0, 1, 2, 3, 4, 5, 6, 7};
    const auto draw = [&](const TimeWindow& window) {
        RecordingCanvas canvas;
        DrawZoomedBus(canvas, Segments(table, window), probes, 80, 80 + window.width, 40);
        return canvas;
    };

    // 16 px a sample: boxes of 64 px, each with its two-digit value.
    const RecordingCanvas near = draw(ShowSamples(640, 400, 439));
    std::vector<std::string> labels;
    for (const auto& text : near.Texts()) {
        labels.push_back(text.bytes);
    }
    EXPECT_EQ(labels, (std::vector<std::string>{"64", "65", "66", "67", "68", "69", "6A", "6B",
                                                "6C", "6D"}));
    EXPECT_EQ(near.Texts()[1].at, (Point{80 + 64 + 2, 26}));
    // A box of one sample (4 px) is too narrow for its label.
    EXPECT_TRUE(draw(ShowSamples(640, 0, 639)).Texts().empty());

    // Whole capture: every column changes, one hatched box across and no text.
    const RecordingCanvas far = draw(WholeCapture(800));
    EXPECT_TRUE(far.Texts().empty());
    int hatched = 0;
    for (const auto& op : far.Ops()) {
        if (const auto* fill = std::get_if<FillOp>(&op)) {
            hatched += fill->colour == kBusHatchColour;
        }
    }
    EXPECT_EQ(hatched, 1);
}

// Zoomed out, which samples a column holds decides where an edge shows. Column x of a
// window showing `span` samples from `first` in `width` pixels holds the samples from
// first + x * span / width (rounded down) to the next column's first, worked out here in
// whole numbers. An edge on a column's first sample is a line between two steady columns;
// only an edge after a column's first sample makes it "changed".
TEST(ZoomedRows, AColumnThatBeginsOnAnEdgeIsSteadyAndTheEdgeIsALineBetweenColumns) {
    struct Case {
        int width;
        int first;
        int span;   // samples across the width, more than the width
        int column; // the column whose first sample is the edge
    };
    const Case cases[] = {
        {800, 0, kSampleCount, 325},   // the whole capture: 40.96 samples a column
        {1000, 0, kSampleCount, 375},  // 32.768
        {1000, 19000, 3000, 347},      // 3
        {1200, 4000, 2800, 300},       // 2 1/3
        {700, 1000, 7000, 123},        // 10
        {101, 123, 9999, 40},          // 99, where the sample positions do not divide exactly
        {1600, 32768 - 3201, 3201, 0}, // the edge at the left edge of the window
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " px, " << c.span << " from " << c.first);
        const TimeWindow window = ShowSamples(c.width, c.first, c.first + c.span - 1);
        const auto columnStart = [&](int x) {
            return c.first + static_cast<int>(std::int64_t{x} * c.span / c.width);
        };
        const int edge = columnStart(c.column);
        auto capture = std::make_unique<Capture>();
        test::SetHigh(*capture, 0, edge, kSampleCount - 1);     // probe 0 rises on it
        test::SetHigh(*capture, 1, edge + 1, kSampleCount - 1); // probe 1 one sample later
        for (int s = 0; s < kSampleCount; ++s) {                // probes 8..15: 5A, then A5
            const std::uint32_t bus = s < edge ? 0x5AU : 0xA5U;
            test::SetWord(*capture, s, SampleWord(capture->samples, s) | bus << 8);
        }
        const ChangeTable table(capture->samples);
        const std::vector<Segment> segments = Segments(table, window);

        // Every column holds exactly its samples, and says what they did.
        ASSERT_EQ(static_cast<int>(segments.size()), c.width);
        for (int x = 0; x < c.width; ++x) {
            const Segment& s = segments[static_cast<std::size_t>(x)];
            const int first = columnStart(x);
            const int end = columnStart(x + 1);
            ASSERT_EQ(s.x0, x);
            ASSERT_EQ(s.x1, x + 1);
            ASSERT_EQ(s.first, first) << "column " << x;
            ASSERT_EQ(s.last, end - 1) << "column " << x;
            ASSERT_EQ(s.firstWord, SampleWord(capture->samples, first)) << "column " << x;
            ASSERT_EQ(s.lastWord, SampleWord(capture->samples, end - 1)) << "column " << x;
            ASSERT_EQ(s.changes, WalkChanges(*capture, first + 1, end, ~0U)) << "column " << x;
        }
        // The column that begins on the edge is steady at the new level, the one before
        // it steady at the old; probe 1's edge is inside the column.
        const Segment& on = segments[static_cast<std::size_t>(c.column)];
        EXPECT_EQ(on.changes, 0x2U);
        EXPECT_EQ(on.firstWord & 0xFF01U, 0xA501U);
        if (c.column > 0) {
            EXPECT_EQ(segments[static_cast<std::size_t>(c.column) - 1].lastWord, 0x5A00U);
        }

        // Drawn: no mark, one vertical line at the column's left edge.
        const RowPicture trace = DrawRow(*capture, window, 0);
        EXPECT_TRUE(trace.busy.empty());
        for (int y = 25; y < 40; ++y) {
            EXPECT_EQ(trace.line.contains({c.column, y}), c.column > 0) << y;
        }
        EXPECT_FALSE(trace.line.contains({c.column - 1, 32}));
        EXPECT_FALSE(trace.line.contains({c.column + 1, 32}));

        // The bus: one boundary line, at the same place, each label at its box's start.
        RecordingCanvas canvas;
        const std::vector<std::uint8_t> probes = {8, 9, 10, 11, 12, 13, 14, 15};
        DrawZoomedBus(canvas, segments, probes, 80, 80 + c.width, 40);
        std::vector<int> verticals;
        for (const LineOp& line : canvas.Lines()) {
            if (line.from.x == line.to.x) {
                verticals.push_back(line.from.x);
            }
        }
        EXPECT_EQ(verticals, c.column > 0 ? std::vector<int>{80 + c.column} : std::vector<int>{});
        std::vector<std::pair<std::string, Point>> labels;
        for (const TextOp& text : canvas.Texts()) {
            labels.emplace_back(text.bytes, text.at);
        }
        std::vector<std::pair<std::string, Point>> expected;
        if (c.column > 0) {
            expected.emplace_back("5A", Point{82, 26});
        }
        expected.emplace_back("A5", Point{80 + c.column + 2, 26});
        EXPECT_EQ(labels, expected);
        EXPECT_FALSE(std::any_of(canvas.Ops().begin(), canvas.Ops().end(), [](const CanvasOp& op) {
            const auto* fill = std::get_if<FillOp>(&op);
            return fill != nullptr && fill->colour == kBusHatchColour;
        }));
    }
}

TEST(Cursors, SnapToAnEdgeWithinFivePixelsOtherwiseStayUnderThePointer) {
    auto capture = std::make_unique<Capture>();
    test::SetHigh(*capture, 0, 1000, 1099); // edges at 1000 and 1100
    test::SetHigh(*capture, 5, 1003, 1003); // another probe's edges nearby
    const ChangeTable table(capture->samples);
    const TimeWindow window = ShowSamples(1000, 900, 1149); // 4 px a sample
    struct Case {
        double x;
        std::uint32_t mask;
        int expected;
    };
    const Case cases[] = {
        {400, 1, 1000},       // right on the edge
        {404.9, 1, 1000},     // 4.9 px after
        {395.5, 1, 1000},     // 4.5 px before
        {410, 1, 1003},       // too far: the boundary under the pointer
        {415, 1U << 5, 1004}, // the other probe: its falling edge is nearer
        {800, 1, 1100},       {600, 1, 1050},
        {400, 0, 1000}, // no probes: no snapping, the nearest boundary
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SnapToEdge(table, c.mask, window, c.x), c.expected) << c.x;
    }

    CaptureSettings settings;
    settings.rateIndex = 5;       // 100 ns
    settings.triggerPosition = 0; // trigger at 24
    EXPECT_EQ(CursorReadout({124, 224}, settings),
              "A 10.00 us (#124)   B 20.00 us (#224)   B-A 10.00 us (100 samples)   "
              "1/(B-A) 100.0 kHz");
    settings.rateIndex = 15;
    EXPECT_EQ(CursorReadout({24, std::nullopt}, settings), "A (#24)");
}

TEST(AnalysisView, MarksTriggerUnfilledSamplesViewedRangeAndFitsDecoderTexts) {
    auto capture = std::make_unique<Capture>();
    test::AddRow(*capture, "R0", {0});
    capture->settings.triggerPosition = 1; // CENTER: sample 16378
    capture->settings.unfilledPairs = 500; // samples 0..999 hold no data
    const ChangeTable table(capture->samples);
    const std::vector<AnnotationRow> decoders = {
        {"uart", {{1000, 1100, {"Data 41", "41", "D"}}, {1100, 1102, {"S"}}}, {}, false},
        {"spi", {}, "spi: needs channel clk", true}};
    const Rect client{0, 0, 880, 200};
    // 800 trace pixels over samples 0..1599: 0.5 px a sample.
    const AnalysisScene scene{capture.get(), &table,  ShowSamples(800, 0, 1599), 0,
                              {{100}, {}},   decoders};
    RecordingCanvas canvas;
    DrawAnalysisView(canvas, client, scene);

    const auto fills = [&](Rgb colour) {
        std::vector<Rect> rects;
        for (const auto& op : canvas.Ops()) {
            if (const auto* f = std::get_if<FillOp>(&op); f != nullptr && f->colour == colour) {
                rects.push_back(f->rect);
            }
        }
        return rects;
    };
    // Samples 0..999 shaded from the rows down: 500 pixels from x = 80.
    const auto shaded = fills({228, 228, 228});
    ASSERT_FALSE(shaded.empty());
    EXPECT_EQ(shaded.front(), (Rect{80, AnalysisLayout::kRowsTop, 580, 200}));
    // The viewed range in the overview: 1600 of 32768 samples over 800 pixels.
    const auto range = fills({205, 222, 255});
    ASSERT_EQ(range.size(), 1U);
    EXPECT_EQ(range[0].left, 80);
    EXPECT_EQ(range[0].right, 80 + 39);
    // The trigger is outside the window, cursor A at sample 100 is in it.
    const auto lines = canvas.Lines();
    const auto vertical = [&](Rgb colour, int x) {
        return std::any_of(lines.begin(), lines.end(), [&](const LineOp& l) {
            return l.pen.colour == colour && l.from.x == x && l.to.x == x &&
                   l.from.y == AnalysisLayout::kRulerTop;
        });
    };
    EXPECT_TRUE(std::none_of(lines.begin(), lines.end(), [](const LineOp& l) {
        return l.pen.colour == Rgb{0, 160, 0} && l.from.y == AnalysisLayout::kRulerTop;
    }));
    const int overviewTrigger = 80 + static_cast<int>(std::lround(16378 * 800 / 32768.0));
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const LineOp& l) {
        return l.pen.colour == Rgb{0, 160, 0} && l.from.x == overviewTrigger;
    }));
    EXPECT_TRUE(vertical({255, 120, 0}, 80 + 50));

    // Decoder rows: the longest text that fits a 50-pixel box, no text in a 1-pixel one,
    // and the error in its row.
    std::vector<std::string> texts;
    for (const auto& t : canvas.Texts()) {
        texts.push_back(t.bytes);
    }
    EXPECT_EQ(std::find(texts.begin(), texts.end(), "Data 41"), texts.end()); // 53 pixels
    EXPECT_NE(std::find(texts.begin(), texts.end(), "41"), texts.end());
    EXPECT_EQ(std::find(texts.begin(), texts.end(), "S"), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "spi: needs channel clk"), texts.end());

    // What the mouse is over.
    const AnalysisLayout layout{client};
    EXPECT_EQ(HitTest(scene, layout, {10, 70}).area, AnalysisArea::Names);
    EXPECT_EQ(HitTest(scene, layout, {480, 10}).area, AnalysisArea::Overview);
    EXPECT_NEAR(HitTest(scene, layout, {480, 10}).sample, 400 * 32768.0 / 800, 1e-9);
    EXPECT_EQ(HitTest(scene, layout, {480, AnalysisLayout::kRowsTop + 25}).row, 1);
    EXPECT_EQ(HitTest(scene, layout, {480, AnalysisLayout::kRowsTop + 65}).row, -1);
    EXPECT_NEAR(HitTest(scene, layout, {480, 60}).sample, 800, 1e-9);
}

} // namespace
} // namespace pulsara
