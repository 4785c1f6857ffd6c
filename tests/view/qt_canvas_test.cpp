#include "view/geometry.h"
#include "view/qt_canvas.h"
#include "view/redraw.h"
#include "view_test_support.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <functional>
#include <memory>

namespace pulsara {
namespace {

class QtCanvasTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "view_qt_tests";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QGuiApplication>(argc, argv);
    }
    static void TearDownTestSuite() { app.reset(); }

    // Paints on a green image, so untouched pixels are easy to tell.
    static QImage Paint(const std::function<void(Canvas&)>& draw, int width = 600,
                        int height = 304) {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(kGreen);
        QPainter painter(&image);
        {
            QtCanvas canvas(painter);
            draw(canvas);
        }
        painter.end();
        return image;
    }

    static inline std::unique_ptr<QGuiApplication> app;
    static constexpr QRgb kGreen = 0xFF00FF00U;
};

QRgb At(const QImage& image, int x, int y) {
    return image.pixel(x, y) | 0xFF000000U;
}

TEST_F(QtCanvasTest, LinesStopOnePixelShortOfTheirEnd) {
    const QImage image = Paint(
        [](Canvas& c) {
            c.SelectPen({1, {255, 0, 0}});
            c.MoveTo({10, 5});
            c.LineTo({20, 5}); // right
            c.MoveTo({20, 8});
            c.LineTo({10, 8}); // left
            c.MoveTo({30, 10});
            c.LineTo({30, 20}); // down
            c.MoveTo({40, 10});
            c.LineTo({43, 13}); // diagonal
        },
        64, 32);
    const QRgb red = 0xFFFF0000U;
    for (int x = 10; x < 20; ++x) {
        EXPECT_EQ(At(image, x, 5), red) << x;
        EXPECT_EQ(At(image, x + 1, 8), red) << x;
    }
    EXPECT_EQ(At(image, 20, 5), kGreen);
    EXPECT_EQ(At(image, 10, 8), kGreen);
    EXPECT_EQ(At(image, 30, 10), red);
    EXPECT_EQ(At(image, 30, 19), red);
    EXPECT_EQ(At(image, 30, 20), kGreen);
    EXPECT_EQ(At(image, 42, 12), red);
    EXPECT_EQ(At(image, 43, 13), kGreen);
    EXPECT_EQ(At(image, 31, 15), kGreen); // one pixel wide
}

TEST_F(QtCanvasTest, TextSitsInAnOpaqueTwelvePixelCell) {
    const QImage image = Paint(
        [](Canvas& c) {
            c.FillRect({0, 0, 1, 1}, kWhite); // makes white the text background
            c.SelectFont(kViewFont);
            c.DrawText({10, 10}, "HH");
            c.ClipTo({0, 0, 64, 40});
            c.DrawText({50, 30}, "HH"); // cut at the clip
        },
        64, 48);
    int black = 0;
    for (int y = 10; y < 22; ++y) {
        for (int x = 10; x < 18; ++x) {
            EXPECT_NE(At(image, x, y), kGreen) << x << "," << y;
            black += At(image, x, y) == 0xFF000000U ? 1 : 0;
        }
    }
    EXPECT_GT(black, 6);
    for (int x = 10; x < 18; ++x) {
        EXPECT_EQ(At(image, x, 9), kGreen);
        EXPECT_EQ(At(image, x, 22), kGreen);
    }
    EXPECT_NE(At(image, 50, 39), kGreen);
    EXPECT_EQ(At(image, 50, 40), kGreen);
}

TEST_F(QtCanvasTest, NamesAreShiftJis) {
    EXPECT_EQ(DecodeShiftJis("\x83\x65\x83\x58\x83\x67"), QString::fromUtf8("テスト"));
    EXPECT_EQ(DecodeShiftJis("\xB1"), QString::fromUtf8("ｱ"));
    EXPECT_EQ(DecodeShiftJis("AB\x83"), QString::fromUtf8("AB\uFFFD")); // cut-off lead byte
    EXPECT_EQ(DecodeShiftJis("CLK"), QStringLiteral("CLK"));
}

TEST_F(QtCanvasTest, RenderedViewHasTracesBusesAndTicksWhereTheyBelong) {
    auto capture = test::EmptyCapture();
    test::AddRow(*capture, "T", {0});       // slot 0, baseline 48
    test::AddRow(*capture, "B", {1, 2, 3}); // slot 1, baseline 68
    test::SetHigh(*capture, 0, 10, 19);     // columns 10..19 high at H = -8190
    test::SetHigh(*capture, 1, 30, 63);     // the bus changes at column 30
    const QImage image = Paint([&capture](Canvas& c) {
        RedrawView(c, {0, 0, 600, 304}, *capture, -8190, 0);
    });
    const QRgb red = 0xFFFF0000U;
    const QRgb blue = 0xFF0000FFU;
    const QRgb grey = 0xFF808080U;
    const QRgb white = 0xFFFFFFFFU;
    EXPECT_EQ(At(image, 85, 48), red);  // low
    EXPECT_EQ(At(image, 165, 32), red); // high, column 10
    EXPECT_EQ(At(image, 165, 48), white);
    EXPECT_EQ(At(image, 160, 40), red); // rising edge on column 10's border
    EXPECT_EQ(At(image, 240, 40), red); // falling edge on column 20's border
    EXPECT_EQ(At(image, 591, 48), red);
    EXPECT_EQ(At(image, 592, 48), white); // the end point is not drawn
    EXPECT_EQ(At(image, 80, 52), blue);   // bus top
    EXPECT_EQ(At(image, 81, 68), blue);   // bus bottom
    EXPECT_EQ(At(image, 592, 68), blue);
    EXPECT_EQ(At(image, 80, 60), white);   // open at the left edge
    EXPECT_EQ(At(image, 320, 60), blue);   // border of the run at column 30
    EXPECT_EQ(At(image, 112, 200), grey);  // tick of the -200nS label, column 4
    EXPECT_EQ(At(image, 112, 300), white); // ticks end above y = 300
    EXPECT_EQ(At(image, 595, 302), white); // background past the grid
}

} // namespace
} // namespace pulsara
