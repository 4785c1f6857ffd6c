#include "capture/capture_files.h"
#include "capture/definition_text.h"
#include "capture/samples.h"
#include "cli/board_session.h"
#include "cli/commands.h"
#include "device/firmware_loader.h"
#include "device/libusb_driver.h"
#include "fake_driver.h"
#include "temp_dir.h"

#include <CLI/CLI.hpp>
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>

namespace pulsara {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

class BoardCaptureTest : public ::testing::Test {
protected:
    test::TempDir dir;
    test::FakeDriver driver;
    test::ScriptedBoard board{driver};
    test::FakeClock clock;
    std::ostringstream out;
    std::ostringstream err;
    std::unique_ptr<Capture> capture = std::make_unique<Capture>();
    const Bytes image = Bytes(4096, 0xAA);

    cli::BoardCaptureRequest Request() {
        cli::BoardCaptureRequest request;
        request.output = dir.path() / "out.wfa";
        request.lockDirectory = dir.path();
        return request;
    }

    // Two polls that find the capture running, then a completed read-out.
    void ScriptCapture(std::uint8_t fill) {
        board.reads = {{true, {0x04}}, {true, {0x04}}, {true, {0x0C}}};
        for (int i = 0; i < 4; ++i) {
            board.reads.push_back({true, Bytes(32768, fill)});
        }
        board.reads.push_back({true, {0x01, 0x00}});
    }
};

TEST_F(BoardCaptureTest, CompletedCaptureIsSavedWithTheViewAtTheTrigger) {
    struct Case {
        std::int32_t position;
        std::int32_t h;
    };
    for (const auto& c : std::vector<Case>{{0, -8190}, {1, -17}, {2, 8158}, {-1, 0}}) {
        SCOPED_TRACE(c.position);
        board.writes.clear();
        clock.sleeps.clear();
        SetDefinitionText(DefaultDefinitionText(), *capture);
        capture->settings = {10, c.position, 1, 3};
        ScriptCapture(0x5A);
        ASSERT_EQ(cli::RunBoardCapture(driver, *capture, image, Request(), clock, out, err), 0)
            << err.str();
        const std::vector<Bytes> expected = {
            {0x07, 0x10}, {0x30, static_cast<std::uint8_t>(0xA0 | (c.position & 0xFF))},
            {0x32, 0x4C}, {0x14},
            {0x24},       {0x24},
            {0x24},       {0x66, 0x00, 0x00, 0x08},
            {0x70},       {0x10}};
        EXPECT_EQ(board.writes, expected);
        EXPECT_EQ(clock.sleeps, (std::vector<std::chrono::milliseconds>{400ms, 400ms, 400ms}));

        auto loaded = std::make_unique<Capture>();
        const auto load = LoadCapture(*loaded, dir.path() / "out.wfa");
        ASSERT_TRUE(load.ok) << load.error;
        EXPECT_EQ(loaded->settings.savedScrollPos, c.h);
        EXPECT_EQ(loaded->settings.unfilledPairs, 1);
        EXPECT_EQ(SampleWord(loaded->samples, 1), 0U); // cleared pair
        EXPECT_EQ(SampleWord(loaded->samples, 2), 0x5A5A5A5AU);
    }
}

TEST_F(BoardCaptureTest, FailuresEndWithoutAFile) {
    struct Case {
        const char* name;
        std::deque<test::ScriptedRead> reads;
        const char* says;
    };
    std::deque<test::ScriptedRead> shortReadOut = {
        {true, {0x08}}, {true, Bytes(32768, 1)}, {false, {}}, {true, {0, 0}}};
    const std::vector<Case> cases = {
        {"read-out fails", shortReadOut, "nothing was saved"},
        {"never completes", std::deque<test::ScriptedRead>(200, {true, {0x04}}),
         "no capture completed within 60 s; the trigger"},
        {"status never answered", {}, "answered none of the 150 status queries"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        err.str("");
        clock.now = 0ms;
        board.reads = c.reads;
        EXPECT_EQ(cli::RunBoardCapture(driver, *capture, image, Request(), clock, out, err), 1);
        EXPECT_NE(err.str().find(c.says), std::string::npos) << err.str();
        EXPECT_FALSE(std::filesystem::exists(dir.path() / "out.wfa"));
    }
    EXPECT_EQ(clock.now, 60000ms);
}

TEST_F(BoardCaptureTest, NoBoardGivesTheConnectFailureText) {
    driver.present = [](int) { return false; };
    EXPECT_EQ(cli::RunBoardCapture(driver, *capture, image, Request(), clock, out, err), 1);
    EXPECT_EQ(err.str().rfind(std::string(kConnectFailureMessage) + "\n", 0), 0U);
    EXPECT_NE(err.str().find("No board could be opened"), std::string::npos);
    EXPECT_TRUE(board.writes.empty());
}

// The commands themselves, on this machine's real USB (skipped when a board is attached).
struct CommandRun {
    int exitCode;
    std::string out;
    std::string err;
};

CommandRun RunCli(std::vector<std::string> args) {
    std::ostringstream out;
    std::ostringstream err;
    cli::CommandContext context{out, err};
    CLI::App app;
    cli::AddListCommand(app, context);
    cli::AddCaptureCommand(app, context);
    std::reverse(args.begin(), args.end());
    try {
        app.parse(args);
    } catch (const CLI::ParseError& e) {
        return {app.exit(e, out, err), out.str(), err.str()};
    }
    return {context.exitCode, out.str(), err.str()};
}

TEST(BoardCommands, WithoutABoardListAndCaptureSayWhatTheyFound) {
    if (LibusbDriver{}.CountInstances() > 0) {
        GTEST_SKIP() << "a board is attached";
    }
    test::TempDir dir;
    const auto output = (dir.path() / "c.wfa").string();
    struct Case {
        std::vector<std::string> args;
        bool success;
        std::string says;
    };
    const std::vector<Case> cases = {
        {{"list"}, true, "no boards found"},
        {{"capture", "--board", "usb", "-o", output}, false, std::string(kConnectFailureMessage)},
        {{"capture", "--board", "usb", "--instance", "3", "-o", output},
         false,
         "No board could be opened"},
        {{"capture", "--board", "sim", "-o", output}, false, "not available"},
        {{"capture", "--board", "usb", "--rate", "3MHz", "-o", output}, false, "3MHz"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 2 ? c.args[2] : ""));
        const auto run = RunCli(c.args);
        EXPECT_EQ(run.exitCode == 0, c.success);
        EXPECT_NE((run.out + run.err).find(c.says), std::string::npos) << run.out << run.err;
    }
    EXPECT_FALSE(std::filesystem::exists(output));
}

} // namespace
} // namespace pulsara
