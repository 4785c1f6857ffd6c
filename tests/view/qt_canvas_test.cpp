#include "support/capture_builder.h"
#include "view/qt_canvas.h"
#include "view/redraw.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <functional>
#include <memory>

namespace pulsara {
namespace {

constexpr QRgb kGreen = 0xFF00FF00U;
constexpr QRgb kRed = 0xFFFF0000U;
constexpr QRgb kBlue = 0xFF0000FFU;
constexpr QRgb kGrey = 0xFF808080U;
constexpr QRgb kWhiteRgb = 0xFFFFFFFFU;

class QtCanvasTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "view_qt_tests";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QGuiApplication>(argc, argv);
    }
    static void TearDownTestSuite() { app.reset(); }

    // Paints on green, so untouched pixels are easy to tell.
    void Paint(const std::function<void(Canvas&)>& draw) {
        image = QImage(600, 304, QImage::Format_RGB32);
        image.fill(kGreen);
        QPainter painter(&image);
        QtCanvas canvas(painter);
        draw(canvas);
    }
    QRgb At(int x, int y) const { return image.pixel(x, y) | 0xFF000000U; }

    static inline std::unique_ptr<QGuiApplication> app;
    QImage image;
};

TEST_F(QtCanvasTest, TextIsShiftJisInAnOpaqueTwelvePixelCell) {
    Paint([](Canvas& c) {
        c.FillRect({0, 0, 1, 1}, kWhite); // makes white the text background
        c.SelectFont(kViewFont);
        c.DrawText({10, 10}, "HH");
        c.ClipTo({0, 0, 64, 40});
        c.DrawText({50, 30}, "HH"); // cut at the clip
    });
    int black = 0;
    for (int y = 10; y < 22; ++y) {
        for (int x = 10; x < 18; ++x) {
            EXPECT_NE(At(x, y), kGreen) << x << "," << y;
            black += At(x, y) == 0xFF000000U ? 1 : 0;
        }
    }
    EXPECT_GT(black, 6);
    EXPECT_EQ(At(12, 9), kGreen);
    EXPECT_EQ(At(12, 22), kGreen);
    EXPECT_NE(At(50, 39), kGreen);
    EXPECT_EQ(At(50, 40), kGreen);

    EXPECT_EQ(DecodeShiftJis("\x83\x65\x83\x58\x83\x67"), QString::fromUtf8("テスト"));
    EXPECT_EQ(DecodeShiftJis("\xB1"
                             "A"),
              QString::fromUtf8("ｱA"));
    EXPECT_EQ(DecodeShiftJis("AB\x83"), QString::fromUtf8("AB\uFFFD")); // cut-off lead byte
}

TEST_F(QtCanvasTest, RenderedViewHasTracesBusesAndTicksWhereTheyBelong) {
    auto capture = std::make_unique<Capture>();
    test::AddRow(*capture, "T", {0});       // slot 0, baseline 48
    test::AddRow(*capture, "B", {1, 2, 3}); // slot 1, baseline 68
    test::SetHigh(*capture, 0, 10, 19);     // columns 10..19 high at H = -8190
    test::SetHigh(*capture, 1, 30, 63);     // the bus changes at column 30
    Paint([&capture](Canvas& c) { RedrawView(c, {0, 0, 600, 304}, *capture, -8190, 0); });
    struct Pixel {
        int x, y;
        QRgb colour;
    };
    for (const auto& p : {Pixel{85, 48, kRed},
                          {165, 32, kRed},
                          {165, 48, kWhiteRgb}, // levels
                          {160, 40, kRed},
                          {240, 40, kRed}, // edges on column borders
                          {591, 48, kRed},
                          {592, 48, kWhiteRgb}, // end point left out
                          {80, 52, kBlue},
                          {81, 68, kBlue},
                          {592, 68, kBlue}, // bus box
                          {80, 60, kWhiteRgb},
                          {320, 60, kBlue}, // open left end, run border
                          {112, 200, kGrey},
                          {112, 300, kWhiteRgb}, // tick of column 4
                          {595, 302, kWhiteRgb}}) {
        EXPECT_EQ(At(p.x, p.y), p.colour) << p.x << "," << p.y;
    }
}

} // namespace
} // namespace pulsara
