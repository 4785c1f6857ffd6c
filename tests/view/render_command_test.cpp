#include "cli/commands.h"
#include "view_test_support.h"

#include <CLI/CLI.hpp>
#include <gtest/gtest.h>

#include <QImage>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace pulsara {
namespace {

namespace fs = std::filesystem;

class RenderCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir =
            fs::temp_directory_path() /
            ("pulsara-render-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        // Probe 0 high from sample 16400 on; rows: CLK (probe 0) and 19 more.
        auto capture = test::EmptyCapture();
        test::SetHigh(*capture, 0, 16400, 32767);
        std::ofstream(dir / "a.wfa", std::ios::binary)
            .write(reinterpret_cast<const char*>(capture->samples.data()),
                   static_cast<std::streamsize>(capture->samples.size()));
        std::string text = "#SYSPARM\t0,1,0,0,0,99999\r\nCLK\t0\r\n";
        for (int n = 1; n < 20; ++n) {
            text += "R" + std::to_string(n) + "\t" + std::to_string(n) + "\r\n";
        }
        std::ofstream(dir / "a.wfd", std::ios::binary) << text;
    }
    void TearDown() override { fs::remove_all(dir); }

    int Run(std::vector<std::string> args) {
        CLI::App app;
        cli::CommandContext context{out, err};
        cli::AddRenderCommand(app, context);
        args.insert(args.begin(), "render");
        std::vector<const char*> argv = {"pulsara-cli"};
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

    fs::path dir;
    std::ostringstream out;
    std::ostringstream err;
};

TEST_F(RenderCommandTest, WritesTheViewAtTheLoadedPosition) {
    const auto png = dir / "view.png";
    ASSERT_EQ(Run({(dir / "a.wfa").string(), "-o", png.string()}), 0) << err.str();
    QImage image(QString::fromStdString(png.string()));
    ASSERT_EQ(image.size(), QSize(600, 304));
    // The saved position 99999 is held at 8158: every column shows a high sample.
    EXPECT_EQ(image.pixel(300, 32) | 0xFF000000U, 0xFFFF0000U);
    EXPECT_NE(err.str().find("H 8158"), std::string::npos) << err.str();
}

TEST_F(RenderCommandTest, HorizontalAndVerticalPositionsFromTheCommandLine) {
    const auto png = dir / "view.png";
    // H = -1: column 0 shows sample 16378, so probe 0 rises in column 22 (x = 256).
    ASSERT_EQ(Run({"--h", "-1", "--v", "50", (dir / "a.wfa").string(), "-o", png.string()}), 0)
        << err.str();
    EXPECT_NE(err.str().find("showing rows from 7"), std::string::npos) << err.str();
    ASSERT_EQ(Run({"--h", "-1", (dir / "a.wfa").string(), "-o", png.string()}), 0) << err.str();
    QImage image(QString::fromStdString(png.string()));
    EXPECT_EQ(image.pixel(250, 48) | 0xFF000000U, 0xFFFF0000U);
    EXPECT_EQ(image.pixel(260, 32) | 0xFF000000U, 0xFFFF0000U);
}

TEST_F(RenderCommandTest, FailuresNameTheFileAndExitNonZero) {
    EXPECT_NE(Run({(dir / "missing.wfa").string(), "-o", (dir / "x.png").string()}), 0);
    EXPECT_NE(err.str().find("missing.wfa"), std::string::npos) << err.str();
    err.str("");
    EXPECT_NE(Run({(dir / "a.wfa").string(), "-o", (dir / "no" / "x.png").string()}), 0);
    EXPECT_NE(err.str().find("x.png"), std::string::npos) << err.str();
    EXPECT_NE(Run({"--h", "9000", (dir / "a.wfa").string(), "-o", (dir / "x.png").string()}), 0);
    EXPECT_FALSE(fs::exists(dir / "x.png"));
}

} // namespace
} // namespace pulsara
