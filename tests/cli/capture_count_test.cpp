// capture --count on the simulated board: separate captures, each under its own name with
// its own companion, and where a series stops when the board fails.

#include "capture/capture_files.h"
#include "capture/samples.h"
#include "cli/capture_series.h"
#include "cli/commands.h"
#include "support/temp_dir.h"

#include <CLI/CLI.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <unistd.h>

namespace pulsara::cli {
namespace {

namespace fs = std::filesystem;

TEST(CaptureSeries, NumberedNamesKeepTheirOwnCompanions) {
    const std::pair<const char*, const char*> cases[] = {
        {"run.wfa", "run-3.wfa"},
        {"/tmp/x.y/a.b.wfa", "/tmp/x.y/a-3.b.wfa"},
        {"plain", "plain-3"},
    };
    for (const auto& [given, numbered] : cases) {
        EXPECT_EQ(SeriesPath(given, 3), fs::path(numbered));
        EXPECT_EQ(CompanionPath(SeriesPath(given, 3)).filename().string().substr(0, 1 + 2),
                  fs::path(numbered).filename().string().substr(0, 3));
    }
    EXPECT_NE(CompanionPath(SeriesPath("a.b.wfa", 1)), CompanionPath(SeriesPath("a.b.wfa", 2)));
}

TEST(CaptureSeries, CountCapturesOneAfterAnotherOnTheSimulatedBoard) {
    const test::TempDir temp;
    const fs::path& dir = temp.path();
    // Claims of their own: other tests on this machine use the simulated board too.
    ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    const auto run = [&](std::vector<std::string> args) {
        std::ostringstream out, err;
        CommandContext context{out, err};
        CLI::App app;
        AddCaptureCommand(app, context);
        std::reverse(args.begin(), args.end());
        app.parse(args);
        return std::pair{context.exitCode, err.str()};
    };
    const std::string output = (dir / "run.wfa").string();
    const auto [status, err] =
        run({"capture", "--board", "sim", "--sim-boot", "current", "--sim-speed", "0", "--rate",
             "10MHz", "--probe", "PROBE01", "--condition", "rising", "--timeout", "10", "--count",
             "3", "-o", output});
    ASSERT_EQ(status, 0) << err;
    EXPECT_FALSE(fs::exists(output));
    std::vector<std::uint32_t> firstWords;
    for (int k = 1; k <= 3; ++k) {
        SCOPED_TRACE(k);
        const fs::path path = dir / ("run-" + std::to_string(k) + ".wfa");
        EXPECT_NE(err.find("capture " + std::to_string(k) + " of 3 (" + path.string() + ")"),
                  std::string::npos)
            << err;
        EXPECT_TRUE(fs::exists(CompanionPath(path)));
        auto capture = std::make_unique<Capture>();
        const auto load = LoadCapture(*capture, path);
        ASSERT_TRUE(load.ok) << load.error;
        EXPECT_EQ(capture->settings.rateIndex, 5);
        // The board's counter from the trigger (TOP: sample 24) on: 100 ns apart, ten counts.
        for (int s = 25; s < kSampleCount; ++s) {
            ASSERT_EQ((SampleWord(capture->samples, s) - SampleWord(capture->samples, s - 1)) &
                          0xFFFFU,
                      10U)
                << s;
        }
        firstWords.push_back(SampleWord(capture->samples, kSampleCount - 1) & 0xFFFFU);
    }
    EXPECT_NE(err.find("3 captures written"), std::string::npos) << err;
    // Three captures, not one saved three times.
    std::sort(firstWords.begin(), firstWords.end());
    EXPECT_EQ(std::unique(firstWords.begin(), firstWords.end()), firstWords.end());

    // A board that cannot connect: the first capture fails and nothing is written.
    const std::string other = (dir / "bad.wfa").string();
    const auto [failed, says] = run({"capture", "--board", "sim", "--sim-boot", "blank",
                                     "--sim-speed", "0", "--count", "2", "-o", other});
    EXPECT_EQ(failed, 1);
    EXPECT_NE(says.find("capture 1 of 2 failed; nothing was written"), std::string::npos) << says;
    EXPECT_FALSE(fs::exists(dir / "bad-1.wfa"));
    fs::remove_all(dir);
}

} // namespace
} // namespace pulsara::cli
