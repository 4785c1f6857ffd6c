#include "support/capture_builder.h"
#include "view/geometry.h"
#include "view/scroll.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace pulsara {
namespace {

TEST(Geometry, ColumnsAndClicks) {
    EXPECT_EQ(ColumnToSample(63, 8158), 32759);
    constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
    EXPECT_EQ(ColumnToSample(0, kMax), kMax); // saturates instead of overflowing
    struct Click {
        int x, y;
        GridCell cell;
    };
    // Truncation toward zero: x = 73..79 is column 0, y = 9..27 slot 0.
    // clang-format off
    const std::vector<Click> clicks = {{75, 47, {0, 0}}, {73, 9, {0, 0}}, {72, 48, {-1, 1}},
                                       {591, 287, {63, 12}}, {87, 8, {0, -1}}};
    // clang-format on
    for (const auto& c : clicks) {
        EXPECT_EQ(ClickToCell(c.x, c.y), c.cell) << c.x << "," << c.y;
    }
}

TEST(Scroll, CodesMoveAndClampThePosition) {
    struct Case {
        bool horizontal;
        int code;
        std::int32_t current, thumb, position;
        bool changed;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {true, kScrollPageForward, 8150, 0, 8158, true}, {true, kScrollPageForward, 8158, 0, 8158, false},
        {true, kScrollPageBack, 0, 0, -10, true},        {true, kScrollThumbTrack, 0, -4000, -4000, true},
        {true, kScrollToMinimum, 3, 0, -8190, true},     {true, 42, 3, 100, 3, false},
        {false, kScrollPageForward, 4, 0, 5, true},      {false, kScrollToMaximum, 0, 0, 19, true}};
    // clang-format on
    for (const auto& c : cases) {
        const auto move = c.horizontal ? HorizontalScroll(c.code, c.current, c.thumb)
                                       : VerticalScroll(c.code, c.current, c.thumb, {0, 19});
        EXPECT_EQ(move.position, c.position) << "code " << c.code << " at " << c.current;
        EXPECT_EQ(move.changed, c.changed) << "code " << c.code << " at " << c.current;
    }
    EXPECT_EQ(VerticalScrollRange(32), (ScrollRange{0, 19}));
    EXPECT_EQ(VerticalScrollRange(13), (ScrollRange{0, 0})); // nothing to scroll
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
        test::SetHigh(*capture, 1, 0, 0);    // and between samples 0 and 1
        test::SetHigh(*capture, 6, 1000, 1000);
    }
    std::unique_ptr<Capture> capture = std::make_unique<Capture>();
};

TEST_F(FindEdgeTest, ReturnsTheDistanceToTheNearestChange) {
    struct Case {
        std::int32_t h, v, column, slot;
        int step;
        std::int32_t expected;
    };
    const std::vector<Case> cases = {
        {-8190, 0, 30, 0, +1, 5},  {-8190, 0, 40, 0, -1, -6}, {-8190, 0, 40, 0, +1, 61},
        {-8190, 0, 10, 1, +1, 16}, {-8190, 0, 26, 1, +1, 1},  {-8190, 1, 9, 1, +1, 991},
        {-8190, 0, 20, 1, -1, -20}, // back to the change between samples 0 and 1
        {-8190, 0, 10, 0, -1, 0},  {8158, 0, 63, 0, +1, 0},  // constant to either end
        {-8190, 0, 10, 3, +1, 0},  {-8190, 0, 10, 4, +1, 0}, // no probes; probe 40 reads 0
        {-8190, 0, 10, 5, +1, 0},  {-8190, 0, 10, -1, +1, 0}, {-8190, 60, 10, 12, +1, 0}, // no row
        {-8190, 0, -1, 0, +1, 0},  {8158, 0, 72, 0, -1, 0}, // samples -1 and 32768
        {-8190, 0, 30, 0, 0, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(FindEdge(*capture, c.h, c.v, c.column, c.slot, c.step), c.expected)
            << "column " << c.column << " slot " << c.slot << " v " << c.v << " step " << c.step;
    }
}

TEST_F(FindEdgeTest, MouseJumpPutsTheChangeBesideThePointer) {
    // x = 323, y = 40 is column 30 of slot 0; at this H it shows sample 50.
    const std::int32_t h = -8180;
    EXPECT_EQ(JumpToEdge(*capture, h, 0, 323, 40, +1), h + 51 / 2 + 1); // to 101
    EXPECT_EQ(JumpToEdge(*capture, h, 0, 323, 40, -1), h - 16 / 2 - 1); // back to 34
    EXPECT_EQ(EdgeJumpPosition(0, 5, +1), 3);
    EXPECT_EQ(EdgeJumpPosition(0, -5, -1), -3);
    EXPECT_EQ(EdgeJumpPosition(-8190, 0, -1), -8190);
    EXPECT_EQ(EdgeJumpPosition(8158, 0, +1), 8158);
    // x = 72 is column -1: at H = -8190 there is no sample there, so only the step moves.
    EXPECT_EQ(JumpToEdge(*capture, -8190, 0, 72, 40, +1), -8189);
}

} // namespace
} // namespace pulsara
