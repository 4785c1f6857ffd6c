#include "cli/commands.h"
#include "support/capture_builder.h"
#include "support/temp_dir.h"

#include <CLI/CLI.hpp>
#include <gtest/gtest.h>

#include <QImage>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace pulsara {
namespace {

namespace fs = std::filesystem;

class RenderCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        png = dir / "view.png";
        // Probe 0 high from sample 16400 on; 20 rows; the saved position beyond the range.
        auto capture = std::make_unique<Capture>();
        test::SetHigh(*capture, 0, 16400, 32767);
        std::ofstream(dir / "a.wfa", std::ios::binary)
            .write(reinterpret_cast<const char*>(capture->samples.data()),
                   static_cast<std::streamsize>(capture->samples.size()));
        std::string text = "#SYSPARM\t0,1,0,0,0,99999\r\n";
        for (int n = 0; n < 20; ++n) {
            text += "R" + std::to_string(n) + "\t" + std::to_string(n) + "\r\n";
        }
        std::ofstream(dir / "a.wfd", std::ios::binary) << text;
    }
    int Run(std::vector<std::string> args) {
        CLI::App app;
        cli::CommandContext context{out, err};
        cli::AddRenderCommand(app, context);
        std::vector<const char*> argv = {"pulsara-cli", "render"};
        for (const auto& a : args) {
            argv.push_back(a.c_str());
        }
        try {
            app.parse(static_cast<int>(argv.size()), argv.data());
        } catch (const CLI::ParseError& e) {
            return app.exit(e, out, err);
        }
        return context.exitCode;
    }
    QRgb PixelAt(int x, int y) const {
        return QImage(QString::fromStdString(png.string())).pixel(x, y) | 0xFF000000U;
    }

    const test::TempDir temp;
    const fs::path dir = temp.path();
    fs::path png;
    std::ostringstream out, err;
};

TEST_F(RenderCommandTest, WritesTheViewAtTheRequestedPositionsOrNamesWhatFailed) {
    // The saved position 99999 is held at 8158: every column shows a high sample.
    ASSERT_EQ(Run({(dir / "a.wfa").string(), "-o", png.string()}), 0) << err.str();
    EXPECT_EQ(QImage(QString::fromStdString(png.string())).size(), QSize(600, 304));
    EXPECT_EQ(PixelAt(300, 32), 0xFFFF0000U);
    // H = -1: column 0 shows sample 16378, so probe 0 rises in column 22 (x = 256).
    ASSERT_EQ(Run({"--h", "-1", (dir / "a.wfa").string(), "-o", png.string()}), 0) << err.str();
    EXPECT_EQ(PixelAt(250, 48), 0xFFFF0000U);
    EXPECT_EQ(PixelAt(260, 32), 0xFFFF0000U);
    // V beyond the last full page is held at rowCount - 13.
    ASSERT_EQ(Run({"--v", "50", (dir / "a.wfa").string(), "-o", png.string()}), 0) << err.str();
    EXPECT_NE(err.str().find("showing rows from 7"), std::string::npos) << err.str();

    EXPECT_NE(Run({(dir / "missing.wfa").string(), "-o", png.string()}), 0);
    EXPECT_NE(err.str().find("missing.wfa"), std::string::npos) << err.str();
    EXPECT_NE(Run({"--h", "9000", (dir / "a.wfa").string(), "-o", (dir / "z.png").string()}), 0);
    EXPECT_FALSE(fs::exists(dir / "z.png"));
}

TEST_F(RenderCommandTest, AnalysisDrawsTheZoomableViewOfTheChosenSamples) {
    const std::string capture = (dir / "a.wfa").string();
    ASSERT_EQ(Run({"--analysis", capture, "-o", png.string()}), 0) << err.str();
    EXPECT_EQ(QImage(QString::fromStdString(png.string())).size(), QSize(1200, 600));
    // 20 samples over 320 pixels: probe 0 (row R0, baseline 72) rises at sample 16400, x 240.
    ASSERT_EQ(Run({"--analysis", "--width", "400", "--height", "300", "--from", "16390", "--to",
                   "16409", capture, "-o", png.string()}),
              0)
        << err.str();
    EXPECT_EQ(PixelAt(200, 72), 0xFFFF0000U);
    EXPECT_EQ(PixelAt(240, 64), 0xFFFF0000U);
    EXPECT_EQ(PixelAt(300, 56), 0xFFFF0000U);
    EXPECT_EQ(PixelAt(300, 72), 0xFFFFFFFFU);

    // Requests that cannot be drawn write nothing.
    const fs::path none = dir / "none.png";
    EXPECT_NE(Run({"--analysis", "--from", "500", "--to", "100", capture, "-o", none.string()}), 0);
    EXPECT_NE(err.str().find("--from 500 lies after --to 100"), std::string::npos) << err.str();
    EXPECT_NE(Run({"--analysis", "-P", "nosuchdecoder", capture, "-o", none.string()}), 0);
    EXPECT_NE(Run({"--width", "400", capture, "-o", none.string()}), 0); // needs --analysis
    EXPECT_FALSE(fs::exists(none));
}

} // namespace
} // namespace pulsara
