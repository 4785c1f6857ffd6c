#include "support/recording_canvas.h"
#include "view/geometry.h"
#include "view/rows.h"
#include "view/ruler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pulsara {
namespace {

constexpr Rgb kCyan{0, 255, 255};

TEST(Ruler, LabelsAndTicksEveryTenSamplesFromTheTrigger) {
    struct Case {
        CaptureSettings settings;
        std::int32_t h;
        int firstColumn;
        std::vector<std::string> texts;
        int cyanLabels = 0;
    };
    const std::vector<std::string> top = {"-200nS", "-100nS", "0nS", "100nS", "200nS", "300nS"};
    const std::vector<std::string> centred = {"-300nS", "-200nS", "-100nS", "0nS",
                                              "100nS",  "200nS",  "300nS"};
    // clang-format off
    const std::vector<Case> cases = {
        {{.triggerPosition = 0}, -8190, 4, top}, {{.triggerPosition = 1}, -17, 2, centred},
        {{.triggerPosition = 2}, 8158, 2, centred},
        {{.triggerPosition = 0}, 0, 4, {"163600nS", "163700nS", "163800nS", "163900nS", "164000nS", "164100nS"}},
        // Samples below 2 x unfilledPairs hold no data: their labels are cyan.
        {{.unfilledPairs = 20}, -8190, 4, top, 4}, {{.unfilledPairs = 16384}, -8190, 4, top, 6},
        // A tick on sample 2 x unfilledPairs (34) is the first sample with data.
        {{.unfilledPairs = 17}, -8190, 4, top, 3},
        // A rate or trigger position outside its table: no labels, no ticks.
        {{.rateIndex = 16}, -8190, 4, {}}, {{.triggerPosition = -1}, -8190, 4, {}}};
    // clang-format on
    for (const auto& c : cases) {
        RecordingCanvas canvas;
        canvas.SetTextColour({1, 2, 3});
        canvas.SelectPen(kBusPen);
        DrawRuler(canvas, c.settings, c.h);
        EXPECT_EQ(canvas.CurrentPen(), kBusPen);
        EXPECT_EQ(canvas.CurrentFont(), Font{});
        const auto texts = canvas.Texts();
        const auto lines = canvas.Lines();
        ASSERT_EQ(texts.size(), c.texts.size()) << "H " << c.h;
        ASSERT_EQ(lines.size(), c.texts.size());
        for (std::size_t n = 0; n < texts.size(); ++n) {
            const int x = ColumnLeft(c.firstColumn + 10 * static_cast<int>(n));
            EXPECT_EQ(texts[n].at, (Point{x, 20}));
            EXPECT_EQ(texts[n].bytes, c.texts[n]);
            EXPECT_EQ(texts[n].font, kViewFont);
            EXPECT_EQ(texts[n].colour, static_cast<int>(n) < c.cyanLabels ? kCyan : kBlack);
            EXPECT_EQ(lines[n].from, (Point{x, 30}));
            EXPECT_EQ(lines[n].to, (Point{x, 300}));
            EXPECT_EQ(lines[n].pen, (Pen{1, {128, 128, 128}}));
        }
        // Names and bus labels rely on black, whatever the last label was.
        EXPECT_EQ(canvas.TextColour(), kBlack);
    }
}

TEST(Ruler, UnitsFollowTheRate) {
    struct Case {
        std::int32_t rateIndex;
        std::vector<std::string> texts; // rel = -10, 0, 10
    };
    const std::vector<Case> cases = {
        {0, {"-100nS", "0nS", "100nS"}},        {4, {"-800nS", "0nS", "800nS"}},
        {5, {"-1.0uS", "0.0uS", "1.0uS"}},      {8, {"-2.6uS", "0.0uS", "2.6uS"}},
        {12, {"-100.0uS", "0.0uS", "100.0uS"}}, {13, {"-1mS", "0mS", "1mS"}},
        {14, {"-10mS", "0mS", "10mS"}},         {15, {"-0mS", "0mS", "0mS"}}};
    for (const auto& c : cases) {
        RecordingCanvas canvas;
        // CENTER at H = -17: columns 22, 32, 42 stand at rel -10, 0, 10.
        DrawRuler(canvas, {.rateIndex = c.rateIndex, .triggerPosition = 1}, -17);
        const auto texts = canvas.Texts();
        ASSERT_EQ(texts.size(), 7U);
        EXPECT_EQ((std::vector{texts[2].bytes, texts[3].bytes, texts[4].bytes}), c.texts);
    }
}

} // namespace
} // namespace pulsara
