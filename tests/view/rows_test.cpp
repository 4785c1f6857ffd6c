#include "support/capture_builder.h"
#include "support/recording_canvas.h"
#include "view/geometry.h"
#include "view/redraw.h"
#include "view/rows.h"
#include "view/ruler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <set>
#include <string>
#include <vector>

namespace pulsara {
namespace {

constexpr std::int32_t kH = -8190; // column i shows sample i
constexpr int kBaseline = 48;

void AddSpan(std::set<Point>& pixels, Point from, Point to) {
    for (const auto p : LinePixels(from, to)) {
        pixels.insert(p);
    }
}

TEST(Trace, IsOneUnbrokenLineWithEdgesOnColumnBorders) {
    for (const auto& [first, last] : {std::pair{0, 63}, {1, 63}, {10, 20}, {63, 63}, {-1, -1}}) {
        auto capture = std::make_unique<Capture>();
        if (first >= 0) {
            test::SetHigh(*capture, 5, first, last);
        }
        RecordingCanvas canvas;
        canvas.SelectPen(kTracePen);
        DrawTrace(canvas, capture->samples, kH, 5, kBaseline);

        const auto lines = canvas.Lines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.front().from.x, 80);
        EXPECT_EQ(lines.back().to.x, 592);
        for (std::size_t n = 1; n < lines.size(); ++n) {
            EXPECT_EQ(lines[n].from, lines[n - 1].to); // never jumps
        }
        std::set<Point> expected;
        int previousY = 0;
        for (int i = 0; i < kColumnCount; ++i) {
            const int y = i >= first && i <= last ? kBaseline - 16 : kBaseline;
            if (i > 0 && y != previousY) {
                AddSpan(expected, {ColumnLeft(i), previousY}, {ColumnLeft(i), y});
            }
            AddSpan(expected, {ColumnLeft(i), y}, {ColumnLeft(i + 1), y});
            previousY = y;
        }
        EXPECT_EQ(canvas.LinePixelsOf(kTracePen.colour), expected)
            << "high " << first << ".." << last;
    }
}

TEST(Bus, LabelsRunsOfAtLeastTheLabelWidthAndDrawsEveryBorder) {
    struct Case {
        std::vector<std::uint8_t> probes;
        std::uint32_t word;         // the sample in column 0
        std::vector<int> runStarts; // it counts up at these columns
        std::vector<int> labelledRuns;
        std::string firstLabel;
    };
    std::vector<std::uint8_t> all32(32);
    std::iota(all32.begin(), all32.end(), std::uint8_t{0});
    // clang-format off
    const std::vector<Case> cases = {
        {{0, 1, 2, 3}, 0x0A, {}, {0}, "A"},     // constant: one label, no border
        {{1, 0}, 0x01, {}, {0}, "2"},           // the first probe listed is bit 0
        {{0, 40}, 0x01, {}, {0}, "1"},          // probe 40 reads 0
        {all32, 0xFFFFFFFFU, {}, {0}, "FFFFFFFF"},
        {{0, 1, 2, 3}, 0, {10, 11, 12}, {0, 10, 11, 12}, "0"},                 // D = 1: even one-column runs
        {{0, 1, 2, 3, 4, 5, 6, 7}, 5, {20, 21}, {0, 21}, "05"},                // D = 2: not the one-column run
        {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 0, {20, 22}, {0, 22}, "000"}, // D = 3: nor the two-column one
        {all32, 0, {60}, {0}, "00000000"}};     // D = 8: the last run is too short
    // clang-format on
    for (const auto& c : cases) {
        auto capture = std::make_unique<Capture>();
        std::uint32_t value = c.word;
        for (int i = 0; i < kColumnCount; ++i) {
            value +=
                static_cast<std::uint32_t>(std::count(c.runStarts.begin(), c.runStarts.end(), i));
            test::SetWord(*capture, i, value);
        }
        RecordingCanvas canvas;
        DrawBus(canvas, capture->samples, kH, c.probes, kBaseline);

        std::vector<int> labelled;
        for (const auto& text : canvas.Texts()) {
            EXPECT_EQ(text.at.y, kBaseline - 14);
            labelled.push_back((text.at.x - 81) / 8);
        }
        EXPECT_EQ(labelled, c.labelledRuns) << c.probes.size() << " probes";
        ASSERT_FALSE(canvas.Texts().empty());
        EXPECT_EQ(canvas.Texts()[0].bytes, c.firstLabel);
        EXPECT_EQ(canvas.Texts()[0].at, (Point{81, kBaseline - 14}));

        // Top left to right, bottom right to left, no border at x = 80 or x = 592.
        std::set<Point> expected;
        AddSpan(expected, {80, kBaseline - 16}, {592, kBaseline - 16});
        AddSpan(expected, {592, kBaseline}, {80, kBaseline});
        for (const int start : c.runStarts) {
            AddSpan(expected, {ColumnLeft(start), kBaseline - 16}, {ColumnLeft(start), kBaseline});
        }
        EXPECT_EQ(canvas.LinePixelsOf(kBusPen.colour), expected) << c.probes.size() << " probes";
        EXPECT_EQ(canvas.CurrentPen(), (Pen{1, kBlack}));
    }
}

// The row names drawn, each with the baseline of its slot.
std::vector<std::pair<int, std::string>> Names(const RecordingCanvas& canvas) {
    std::vector<std::pair<int, std::string>> names;
    for (const auto& text : canvas.Texts()) {
        if (text.at.x == 0) {
            EXPECT_EQ(text.colour, kBlack);
            EXPECT_EQ(text.background, kWhite);
            names.emplace_back(text.at.y + 12, text.bytes);
        }
    }
    return names;
}

TEST(RedrawView, DrawsDefinedRowsOnlyAndRestoresTheCanvas) {
    auto capture = std::make_unique<Capture>();
    test::AddRow(*capture, "CLK\r\n", {0});
    test::AddRow(*capture, "EMPTY", {});
    test::AddRow(*capture, "BUS", {1, 2});
    // A row left by an earlier, longer definition: past rowCount, so not shown.
    capture->channels.rows[3].probeCount = 1;
    capture->channels.rows[3].name[0] = 'X';

    RecordingCanvas canvas;
    const Rect client{0, 0, 600, 304};
    RedrawView(canvas, client, *capture, kH, 0);
    EXPECT_EQ(std::get<ClipOp>(canvas.Ops().front()).rect, client);
    EXPECT_EQ(std::get<FillOp>(canvas.Ops()[1]).colour, kWhite);
    EXPECT_FALSE(std::get<ClipOp>(canvas.Ops().back()).rect.has_value());
    EXPECT_EQ(Names(canvas),
              (std::vector<std::pair<int, std::string>>{{48, "CLK"}, {68, "EMPTY"}, {88, "BUS"}}));
    // The trace of slot 0 and the bus of slot 2; nothing for the empty row or slot 3.
    for (const auto& line : canvas.Lines()) {
        if (line.pen != kTickPen) {
            EXPECT_TRUE(line.pen == kTracePen ? line.from.y <= 48
                                              : line.from.y >= 72 && line.from.y <= 88);
        }
    }
    EXPECT_EQ(canvas.CurrentPen(), (Pen{1, kBlack}));
    EXPECT_EQ(canvas.CurrentFont(), Font{});

    // V = 7 of 20 rows: slots 0..12 show rows 7..19.
    for (int n = 3; n < 20; ++n) {
        test::AddRow(*capture, "R" + std::to_string(n), {n});
    }
    canvas.Clear();
    RedrawView(canvas, client, *capture, kH, 7);
    const auto names = Names(canvas);
    ASSERT_EQ(names.size(), 13U);
    EXPECT_EQ(names.front(), (std::pair<int, std::string>{48, "R7"}));
    EXPECT_EQ(names.back(), (std::pair<int, std::string>{288, "R19"}));
}

} // namespace
} // namespace pulsara
