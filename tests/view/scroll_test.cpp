#include "view/geometry.h"
#include "view/scroll.h"
#include "view_test_support.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace pulsara {
namespace {

TEST(Geometry, ColumnToSampleAndClickCells) {
    EXPECT_EQ(ColumnToSample(0, -8190), 0);
    EXPECT_EQ(ColumnToSample(63, 8158), 32759);
    EXPECT_EQ(ColumnToSample(0, 0), 16380);
    EXPECT_EQ(ColumnToSample(-1, -8190), -1);
    // Out-of-range inputs saturate instead of overflowing.
    EXPECT_EQ(ColumnToSample(0, std::numeric_limits<std::int32_t>::max()),
              std::numeric_limits<std::int32_t>::max());

    struct Click {
        int x, y;
        GridCell cell;
    };
    const std::vector<Click> clicks = {
        {80, 28, {0, 0}},     {75, 47, {0, 0}},     {73, 9, {0, 0}},  {72, 48, {-1, 1}},
        {591, 287, {63, 12}}, {592, 308, {64, 14}}, {87, 8, {0, -1}}, {88, 67, {1, 1}},
    };
    for (const auto& c : clicks) {
        EXPECT_EQ(ClickToCell(c.x, c.y), c.cell) << c.x << "," << c.y;
    }
}

TEST(Geometry, ProbeBitReadsTheColumnsSample) {
    auto capture = test::EmptyCapture();
    test::SetWord(*capture, 16385, 0x80000001U);
    EXPECT_EQ(ProbeBit(capture->samples, 0, 5, 0), 1);
    EXPECT_EQ(ProbeBit(capture->samples, 0, 5, 31), 1);
    EXPECT_EQ(ProbeBit(capture->samples, 0, 5, 1), 0);
    EXPECT_EQ(ProbeBit(capture->samples, 0, 4, 0), 0);
    EXPECT_EQ(ProbeBit(capture->samples, 0, 5, 32), 0);
}

TEST(Scroll, CodesMoveAndClampThePosition) {
    struct Case {
        bool horizontal;
        int code;
        std::int32_t current;
        std::int32_t thumb;
        ScrollMove expected;
    };
    const ScrollRange rows{0, 19};
    const std::vector<Case> cases = {
        {true, kScrollPageForward, 8150, 0, {8158, true}},
        {true, kScrollPageForward, 8158, 0, {8158, false}},
        {true, kScrollPageBack, 0, 0, {-10, true}},
        {true, kScrollLineBack, -8190, 0, {-8190, false}},
        {true, kScrollLineForward, 5, 0, {6, true}},
        {true, kScrollThumbTrack, 0, -4000, {-4000, true}},
        {true, kScrollThumbPosition, 0, 9000, {8158, true}},
        {true, kScrollToMinimum, 3, 0, {-8190, true}},
        {true, kScrollToMaximum, 3, 0, {8158, true}},
        {true, kScrollEnd, 3, 100, {3, false}},
        {true, 42, 3, 100, {3, false}},
        {false, kScrollPageForward, 4, 0, {5, true}}, // a page is one row
        {false, kScrollPageBack, 4, 0, {3, true}},
        {false, kScrollLineForward, 19, 0, {19, false}},
        {false, kScrollToMaximum, 0, 0, {19, true}},
        {false, kScrollThumbTrack, 4, -3, {0, true}},
    };
    for (const auto& c : cases) {
        const auto move = c.horizontal ? HorizontalScroll(c.code, c.current, c.thumb)
                                       : VerticalScroll(c.code, c.current, c.thumb, rows);
        EXPECT_EQ(move.position, c.expected.position) << "code " << c.code << " at " << c.current;
        EXPECT_EQ(move.changed, c.expected.changed) << "code " << c.code << " at " << c.current;
    }
    // Thirteen rows or fewer: nothing to scroll.
    EXPECT_EQ(VerticalScrollRange(13), (ScrollRange{0, 0}));
    EXPECT_EQ(VerticalScrollRange(32), (ScrollRange{0, 19}));
    EXPECT_FALSE(VerticalScroll(kScrollLineForward, 0, 0, VerticalScrollRange(5)).changed);
}

class FindEdgeTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::AddRow(*capture, "TRACE", {4});
        test::AddRow(*capture, "BUS", {1, 2});
        test::AddRow(*capture, "TWICE", {6, 6});
        test::AddRow(*capture, "NONE", {});
        test::AddRow(*capture, "HIGH", {40});
        test::SetHigh(*capture, 4, 35, 100); // TRACE changes at samples 35 and 101
        test::SetHigh(*capture, 2, 26, 26);  // BUS changes at 26 and 27
        test::SetHigh(*capture, 6, 1000, 1000);
    }
    std::unique_ptr<Capture> capture = test::EmptyCapture();
};

TEST_F(FindEdgeTest, ReturnsTheDistanceToTheNearestChange) {
    struct Case {
        std::int32_t h, v, column, slot;
        int step;
        std::int32_t expected;
    };
    const std::vector<Case> cases = {
        {-8190, 0, 30, 0, +1, 5},                              // sample 30, TRACE rises at 35
        {-8190, 0, 40, 0, -1, -6},                             // sample 40 back to 34
        {-8190, 0, 40, 0, +1, 61},                             // sample 40 on to 101
        {-8190, 0, 10, 1, +1, 16},                             // BUS at 26
        {-8190, 0, 26, 1, +1, 1},   {-8190, 1, 9, 1, +1, 991}, // V = 1: slot 1 is TWICE
        {-8190, 0, 10, 0, -1, 0},                              // constant down to sample 0
        {8158, 0, 63, 0, +1, 0},                               // constant up to sample 32767
        {-8190, 0, 10, 3, +1, 0},                              // no probes
        {-8190, 0, 10, 4, +1, 0},                              // probe 40 reads 0 everywhere
        {-8190, 0, 10, 5, +1, 0},                              // past rowCount
        {-8190, 0, 10, -1, +1, 0},                             // above the first row
        {-8190, 60, 10, 12, +1, 0},                            // past the table
        {-8190, 0, -1, 0, +1, 0},                              // sample -1 does not exist
        {8158, 0, 72, 0, -1, 0},                               // sample 32768 does not exist
        {-8190, 0, 30, 0, 0, 0},                               // no direction
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindEdge(*capture, c.h, c.v, c.column, c.slot, c.step), c.expected)
            << "column " << c.column << " slot " << c.slot << " step " << c.step;
    }
}

TEST_F(FindEdgeTest, MouseJumpPutsTheChangeBesideThePointer) {
    // Column 30 of slot 0 is x = 320..327, y = 28..47; at H = -8190 it shows sample 30.
    const std::int32_t h = -8190 + 10; // column 30 shows sample 50, TRACE falls at 101
    EXPECT_EQ(FindEdge(*capture, h, 0, 30, 0, +1), 51);
    EXPECT_EQ(JumpToEdge(*capture, h, 0, 323, 40, +1), h + 25 + 1);
    EXPECT_EQ(JumpToEdge(*capture, h, 0, 323, 40, -1), h - 8 - 1); // back to 34: d = -16
    // d = 5 to the right, d = -4 and -5 to the left, and nothing found either way.
    EXPECT_EQ(EdgeJumpPosition(0, 5, +1), 3);
    EXPECT_EQ(EdgeJumpPosition(0, -4, -1), -3);
    EXPECT_EQ(EdgeJumpPosition(0, -5, -1), -3);
    EXPECT_EQ(EdgeJumpPosition(0, 0, +1), 1);
    EXPECT_EQ(EdgeJumpPosition(-8190, 0, -1), -8190);
    EXPECT_EQ(EdgeJumpPosition(8158, 0, +1), 8158);
    // x = 72 is column -1: at H = -8190 there is no sample to start from.
    EXPECT_EQ(JumpToEdge(*capture, -8190, 0, 72, 40, +1), -8189);
}

} // namespace
} // namespace pulsara
