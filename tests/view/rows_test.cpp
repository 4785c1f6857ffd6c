#include "view/geometry.h"
#include "view/recording_canvas.h"
#include "view/redraw.h"
#include "view/rows.h"
#include "view_test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <string>
#include <vector>

namespace pulsara {
namespace {

constexpr std::int32_t kH = -8190; // column i shows sample i
constexpr int kBaseline = 48;
constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kBlue{0, 0, 255};

std::set<Point> HorizontalPixels(int y, int fromX, int toX) {
    std::set<Point> pixels;
    for (int x = fromX; x < toX; ++x) {
        pixels.insert({x, y});
    }
    return pixels;
}

TEST(Trace, IsOneUnbrokenLineWithEdgesOnColumnBorders) {
    struct Case {
        int firstHigh; // columns [firstHigh, lastHigh] read high
        int lastHigh;
    };
    for (const auto c : {Case{0, 63}, Case{1, 63}, Case{10, 20}, Case{63, 63}, Case{-1, -1}}) {
        auto capture = test::EmptyCapture();
        if (c.firstHigh >= 0) {
            test::SetHigh(*capture, 5, c.firstHigh, c.lastHigh);
        }
        RecordingCanvas canvas;
        canvas.SelectPen(kTracePen);
        DrawTrace(canvas, capture->samples, kH, 5, kBaseline);

        // Consecutive pieces: the line never jumps.
        const auto lines = canvas.Lines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.front().from.x, 80);
        EXPECT_EQ(lines.back().to.x, 592);
        for (std::size_t n = 1; n < lines.size(); ++n) {
            EXPECT_EQ(lines[n].from, lines[n - 1].to);
        }

        std::set<Point> expected;
        for (int i = 0; i < kColumnCount; ++i) {
            const bool high = i >= c.firstHigh && i <= c.lastHigh;
            const int y = high ? kBaseline - 16 : kBaseline;
            const auto piece = HorizontalPixels(y, ColumnLeft(i), ColumnLeft(i + 1));
            expected.insert(piece.begin(), piece.end());
            const bool previousHigh = i > 0 && i - 1 >= c.firstHigh && i - 1 <= c.lastHigh;
            if (i > 0 && high != previousHigh) {
                // The edge runs up the column's left border, its end point left out.
                const int fromY = previousHigh ? kBaseline - 16 : kBaseline;
                for (const auto p : LinePixels({ColumnLeft(i), fromY}, {ColumnLeft(i), y})) {
                    expected.insert(p);
                }
            }
        }
        EXPECT_EQ(canvas.LinePixelsOf(kRed), expected)
            << "high " << c.firstHigh << ".." << c.lastHigh;
    }
}

TEST(Bus, ValueTakesTheListedProbesInOrder) {
    auto capture = test::EmptyCapture();
    test::SetHigh(*capture, 3, 0, 0);
    test::SetWord(*capture, 1, 0xFFFFFFFFU);
    const std::array<std::uint8_t, 2> threeThenZero = {3, 0};
    const std::array<std::uint8_t, 3> withHighProbe = {0, 40, 1};
    EXPECT_EQ(BusValue(capture->samples, kH, 0, threeThenZero), 1U);
    EXPECT_EQ(BusValue(capture->samples, kH, 1, withHighProbe), 0b101U); // probe 40 reads 0
    EXPECT_EQ(BusLabel(0x0A, 1), "A");
    EXPECT_EQ(BusLabel(0x05, 2), "05");
    EXPECT_EQ(BusLabel(0xFFFFFFFFU, 8), "FFFFFFFF");
    EXPECT_EQ(BusLabelWidth(2), 1);
    EXPECT_EQ(BusLabelWidth(5), 2);
    EXPECT_EQ(BusLabelWidth(32), 8);
}

TEST(Bus, LabelsRunsOfAtLeastTheLabelWidthAndDrawsEveryBorder) {
    struct Case {
        int probeCount;
        std::vector<int> runStarts; // the bus value changes at these columns
        std::vector<int> labelledRuns;
    };
    const std::vector<Case> cases = {
        {1, {}, {0}},                       // constant: one label, no border
        {4, {10, 11, 12}, {0, 10, 11, 12}}, // D = 1: even one-column runs
        {8, {20, 21}, {0, 21}},             // D = 2: the one-column run has none
        {12, {20, 22}, {0, 22}},            // D = 3: a two-column run has none
        {32, {60}, {0}},                    // D = 8: the last run is too short
    };
    for (const auto& c : cases) {
        auto capture = test::EmptyCapture();
        std::vector<std::uint8_t> probes;
        for (int p = 0; p < c.probeCount; ++p) {
            probes.push_back(static_cast<std::uint8_t>(p));
        }
        // Count up at each run start; 1 then 2 then 3 keeps adjacent runs different.
        std::uint32_t value = 0;
        for (int i = 0; i < kColumnCount; ++i) {
            for (const int start : c.runStarts) {
                value += start == i ? 1 : 0;
            }
            test::SetWord(*capture, i, value);
        }
        RecordingCanvas canvas;
        DrawBus(canvas, capture->samples, kH, probes, kBaseline);

        std::vector<int> labelled;
        for (const auto& text : canvas.Texts()) {
            EXPECT_EQ(text.at.y, kBaseline - 14);
            EXPECT_EQ(static_cast<int>(text.bytes.size()), BusLabelWidth(c.probeCount));
            labelled.push_back((text.at.x - 81) / 8);
        }
        EXPECT_EQ(labelled, c.labelledRuns) << c.probeCount << " probes";

        std::set<Point> expected = HorizontalPixels(kBaseline - 16, 80, 592);
        const auto bottom = HorizontalPixels(kBaseline, 81, 593); // drawn right to left
        expected.insert(bottom.begin(), bottom.end());
        for (const int start : c.runStarts) {
            for (int y = kBaseline - 16; y < kBaseline; ++y) {
                expected.insert({ColumnLeft(start), y});
            }
        }
        EXPECT_EQ(canvas.LinePixelsOf(kBlue), expected) << c.probeCount << " probes";
        EXPECT_EQ(canvas.CurrentPen(), (Pen{1, kBlack}));
    }
}

TEST(Bus, AllBitsSetReadsEightFs) {
    auto capture = test::EmptyCapture();
    for (int s = 0; s < 8; ++s) {
        test::SetWord(*capture, s, 0xFFFFFFFFU);
    }
    std::array<std::uint8_t, 32> probes{};
    for (std::size_t p = 0; p < probes.size(); ++p) {
        probes[p] = static_cast<std::uint8_t>(p);
    }
    RecordingCanvas canvas;
    DrawBus(canvas, capture->samples, kH, probes, kBaseline);
    ASSERT_FALSE(canvas.Texts().empty());
    EXPECT_EQ(canvas.Texts()[0].bytes, "FFFFFFFF");
    EXPECT_EQ(canvas.Texts()[0].at, (Point{81, kBaseline - 14}));
}

TEST(RedrawView, DrawsDefinedRowsOnlyAndRestoresTheCanvas) {
    auto capture = test::EmptyCapture();
    test::AddRow(*capture, "CLK\r\n", {0});
    test::AddRow(*capture, "EMPTY", {});
    test::AddRow(*capture, "BUS", {1, 2});
    // A row left by an earlier, longer definition: past rowCount, so not shown.
    capture->channels.rows[3].probeCount = 1;
    capture->channels.rows[3].name[0] = 'X';

    RecordingCanvas canvas;
    const Rect client{0, 0, 600, 304};
    RedrawView(canvas, client, *capture, kH, 0);

    const auto& ops = canvas.Ops();
    ASSERT_GE(ops.size(), 2U);
    EXPECT_EQ(std::get<ClipOp>(ops.front()).rect, client);
    EXPECT_EQ(std::get<FillOp>(ops[1]).colour, kWhite);
    EXPECT_FALSE(std::get<ClipOp>(ops.back()).rect.has_value());

    std::vector<std::pair<Point, std::string>> names;
    for (const auto& text : canvas.Texts()) {
        if (text.at.x == 0) {
            names.emplace_back(text.at, text.bytes);
            EXPECT_EQ(text.colour, kBlack);
            EXPECT_EQ(text.background, kWhite);
        }
    }
    const std::vector<std::pair<Point, std::string>> expected = {
        {{0, 36}, "CLK"}, {{0, 56}, "EMPTY"}, {{0, 76}, "BUS"}};
    EXPECT_EQ(names, expected);
    // The trace of slot 0, the bus of slot 2, nothing for the empty row or slot 3.
    for (const auto& line : canvas.Lines()) {
        if (line.pen == kTracePen) {
            EXPECT_TRUE(line.from.y == 48 || line.from.y == 32);
        } else if (line.pen == kBusPen) {
            EXPECT_TRUE(line.from.y >= 72 && line.from.y <= 88);
        }
    }
    EXPECT_EQ(canvas.CurrentPen(), (Pen{1, kBlack}));
    EXPECT_EQ(canvas.CurrentFont(), Font{});
    EXPECT_FALSE(canvas.Clip().has_value());
}

TEST(RedrawView, VerticalPositionPicksTheFirstRow) {
    auto capture = test::EmptyCapture();
    for (int n = 0; n < 20; ++n) {
        test::AddRow(*capture, "R" + std::to_string(n), {n});
    }
    RecordingCanvas canvas;
    RedrawView(canvas, {0, 0, 600, 304}, *capture, kH, 7);
    std::vector<std::string> names;
    for (const auto& text : canvas.Texts()) {
        if (text.at.x == 0) {
            names.push_back(text.bytes);
        }
    }
    ASSERT_EQ(names.size(), 13U);
    EXPECT_EQ(names.front(), "R7");
    EXPECT_EQ(names.back(), "R19");
}

} // namespace
} // namespace pulsara
