#include "view/geometry.h"
#include "view/recording_canvas.h"
#include "view/ruler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pulsara {
namespace {

constexpr Rgb kCyan{0, 255, 255};

struct Label {
    int x;
    std::string text;
    Rgb colour;
    friend bool operator==(const Label&, const Label&) = default;
};

std::vector<Label> RulerLabels(const CaptureSettings& settings, std::int32_t h,
                               RecordingCanvas& canvas) {
    DrawRuler(canvas, settings, h);
    std::vector<Label> labels;
    for (const auto& text : canvas.Texts()) {
        EXPECT_EQ(text.at.y, 20);
        EXPECT_EQ(text.font, kViewFont);
        labels.push_back({text.at.x, text.bytes, text.colour});
    }
    return labels;
}

TEST(Ruler, LabelsStandEveryTenSamplesFromTheTrigger) {
    struct Case {
        std::int32_t triggerPosition;
        std::int32_t h;
        std::vector<int> columns;
        std::vector<std::string> texts;
    };
    const std::vector<Case> cases = {
        {0, -8190, {4, 14, 24, 34, 44, 54}, {"-200nS", "-100nS", "0nS", "100nS", "200nS", "300nS"}},
        {1,
         -17,
         {2, 12, 22, 32, 42, 52, 62},
         {"-300nS", "-200nS", "-100nS", "0nS", "100nS", "200nS", "300nS"}},
        {2,
         8158,
         {2, 12, 22, 32, 42, 52, 62},
         {"-300nS", "-200nS", "-100nS", "0nS", "100nS", "200nS", "300nS"}},
        // The start-up position: column 0 shows sample 16380.
        {0,
         0,
         {4, 14, 24, 34, 44, 54},
         {"163600nS", "163700nS", "163800nS", "163900nS", "164000nS", "164100nS"}},
    };
    for (const auto& c : cases) {
        RecordingCanvas canvas;
        const auto labels = RulerLabels({.triggerPosition = c.triggerPosition}, c.h, canvas);
        ASSERT_EQ(labels.size(), c.columns.size()) << "trigger position " << c.triggerPosition;
        for (std::size_t n = 0; n < labels.size(); ++n) {
            EXPECT_EQ(labels[n], (Label{ColumnLeft(c.columns[n]), c.texts[n], kBlack}));
        }
        // Each label has its tick, drawn after it, from y = 30 to y = 300.
        const auto lines = canvas.Lines();
        ASSERT_EQ(lines.size(), labels.size());
        for (std::size_t n = 0; n < lines.size(); ++n) {
            EXPECT_EQ(lines[n].from, (Point{labels[n].x, 30}));
            EXPECT_EQ(lines[n].to, (Point{labels[n].x, 300}));
            EXPECT_EQ(lines[n].pen, (Pen{1, {128, 128, 128}}));
        }
    }
}

TEST(Ruler, UnitsFollowTheRate) {
    struct Case {
        std::int32_t rateIndex;
        std::string before; // rel = -10
        std::string zero;
        std::string after; // rel = 10
    };
    const std::vector<Case> cases = {
        {0, "-100nS", "0nS", "100nS"},        {4, "-800nS", "0nS", "800nS"},
        {5, "-1.0uS", "0.0uS", "1.0uS"},      {8, "-2.6uS", "0.0uS", "2.6uS"},
        {12, "-100.0uS", "0.0uS", "100.0uS"}, {13, "-1mS", "0mS", "1mS"},
        {14, "-10mS", "0mS", "10mS"},         {15, "-0mS", "0mS", "0mS"},
    };
    for (const auto& c : cases) {
        RecordingCanvas canvas;
        // CENTER at H = -17: columns 22, 32, 42 stand at rel -10, 0, 10.
        const auto labels =
            RulerLabels({.rateIndex = c.rateIndex, .triggerPosition = 1}, -17, canvas);
        ASSERT_EQ(labels.size(), 7U);
        EXPECT_EQ(labels[2].text, c.before) << "rate " << c.rateIndex;
        EXPECT_EQ(labels[3].text, c.zero) << "rate " << c.rateIndex;
        EXPECT_EQ(labels[4].text, c.after) << "rate " << c.rateIndex;
    }
}

TEST(Ruler, LabelsOverUnfilledSamplesAreCyan) {
    struct Case {
        std::uint16_t unfilledPairs;
        std::vector<Rgb> colours; // columns 4, 14, ... 54 at TOP, H = -8190
    };
    const std::vector<Case> cases = {
        {0, {kBlack, kBlack, kBlack, kBlack, kBlack, kBlack}},
        {20, {kCyan, kCyan, kCyan, kCyan, kBlack, kBlack}},
        {16384, {kCyan, kCyan, kCyan, kCyan, kCyan, kCyan}},
        {65535, {kCyan, kCyan, kCyan, kCyan, kCyan, kCyan}},
    };
    for (const auto& c : cases) {
        RecordingCanvas canvas;
        canvas.SetTextColour({1, 2, 3});
        const auto labels = RulerLabels({.unfilledPairs = c.unfilledPairs}, -8190, canvas);
        ASSERT_EQ(labels.size(), c.colours.size());
        for (std::size_t n = 0; n < labels.size(); ++n) {
            EXPECT_EQ(labels[n].colour, c.colours[n])
                << "unfilled " << c.unfilledPairs << " label " << n;
        }
        EXPECT_EQ(canvas.TextColour(), kBlack);
    }
}

TEST(Ruler, IndexOutsideItsTableDrawsNothingAndRestoresTheCanvas) {
    const std::vector<CaptureSettings> cases = {
        {.rateIndex = 16}, {.rateIndex = -1}, {.triggerPosition = 3}, {.triggerPosition = -1}};
    for (const auto& settings : cases) {
        RecordingCanvas canvas;
        const Pen pen{3, {9, 9, 9}};
        const Font font{"Other", 20, 700};
        canvas.SelectPen(pen);
        canvas.SelectFont(font);
        canvas.SetTextColour({1, 2, 3});
        DrawRuler(canvas, settings, -8190);
        EXPECT_TRUE(canvas.Ops().empty());
        EXPECT_EQ(canvas.CurrentPen(), pen);
        EXPECT_EQ(canvas.CurrentFont(), font);
        EXPECT_EQ(canvas.TextColour(), kBlack);
    }
}

} // namespace
} // namespace pulsara
