#include "capture/capture_files.h"
#include "capture/definition_text.h"
#include "capture/samples.h"
#include "cli/board_session.h"
#include "cli/commands.h"
#include "device/firmware_loader.h"
#include "device/libusb_driver.h"
#include "support/fake_driver.h"
#include "support/temp_dir.h"

#include <CLI/CLI.hpp>
#include <gtest/gtest.h>

#include <memory>
#include <sstream>

namespace pulsara {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::milliseconds;

class BoardCaptureTest : public ::testing::Test {
protected:
    test::TempDir dir;
    test::FakeDriver driver;
    test::FakeClock clock;
    test::FakeBoard board{driver, clock};
    std::ostringstream out, err;
    std::unique_ptr<Capture> capture = std::make_unique<Capture>();
    const Bytes image = Bytes(4096, 0xAA);

    int Run(std::deque<test::ScriptedRead> reads) {
        board.writes.clear();
        board.reads = std::move(reads);
        clock = {};
        err.str("");
        cli::BoardCaptureRequest request;
        request.output = dir.path() / "out.wfa";
        request.lockDirectory = dir.path();
        return cli::RunBoardCapture(driver, *capture, image, request, clock, out, err);
    }
};

TEST_F(BoardCaptureTest, CompletedCaptureIsSavedWithTheViewAtTheTrigger) {
    for (const auto& [position, h] :
         std::vector<std::pair<int, int>>{{0, -8190}, {1, -17}, {2, 8158}, {-1, 0}}) {
        SCOPED_TRACE(position);
        SetDefinitionText(DefaultDefinitionText(), *capture);
        capture->settings = {10, position, 1, 3};
        const Bytes memory(32768, 0x5A);
        ASSERT_EQ(Run({{true, {4}},
                       {true, {4}},
                       {true, {0x0C}},
                       {true, memory},
                       {true, memory},
                       {true, memory},
                       {true, memory},
                       {true, {1, 0}}}),
                  0)
            << err.str();
        const std::uint8_t reg0 = 0xA0 | static_cast<std::uint8_t>(position);
        EXPECT_EQ(board.writes, (std::vector<Bytes>{{0x07, 0x10},
                                                    {0x30, reg0},
                                                    {0x32, 0x4C},
                                                    {0x14},
                                                    {0x24},
                                                    {0x24},
                                                    {0x24},
                                                    {0x66, 0x00, 0x00, 0x08},
                                                    {0x70},
                                                    {0x10}}));
        EXPECT_EQ(clock.sleeps, (std::vector<milliseconds>{400ms, 400ms, 400ms}));
        auto loaded = std::make_unique<Capture>();
        ASSERT_TRUE(LoadCapture(*loaded, dir.path() / "out.wfa").ok);
        EXPECT_EQ(loaded->settings.savedScrollPos, h);
        EXPECT_EQ(SampleWord(loaded->samples, 1), 0U); // the unfilled pair
        EXPECT_EQ(SampleWord(loaded->samples, 2), 0x5A5A5A5AU);
    }
}

TEST_F(BoardCaptureTest, FailuresEndWithoutAFile) {
    const Bytes some(32768, 1);
    const test::ScriptedRead running{true, {4}};
    const test::ScriptedRead lost{false, {}};
    const std::string gone = "3 status queries in a row got no answer: the board stopped "
                             "answering or left the bus; nothing was saved";
    const std::string waiting = "the trigger has not been met after 3 s: still waiting for a "
                                "falling edge on PROBE03 (giving up after 60 s)";
    struct Case {
        std::deque<test::ScriptedRead> reads;
        std::string says;
        std::size_t polls; // status queries until the command gave up
    } cases[] = {
        {{{true, {8}}, {true, some}, lost, {true, {0, 0}}}, "nothing was saved", 1},
        {std::deque<test::ScriptedRead>(200, running), "within 60 s; the trigger", 150},
        // Gone from the start, or after answering: the third query in a row without an answer
        // ends it, and the trigger is not blamed.
        {{}, gone, 3},
        {{running, running, running}, gone, 6},
        // Two misses are a flaky cable, not a lost board: the wait goes on. (After a miss
        // the next poll first drains the reply pipe: one more read that finds nothing.)
        {{running, lost, lost, lost, lost, running, lost, lost, lost, lost, {true, {0x0C}}, lost},
         "reading it out of board instance 0 failed",
         7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        capture->settings = {10, 1, 1, 3};
        EXPECT_EQ(Run(c.reads), 1);
        const std::string text = err.str();
        EXPECT_NE(text.find(c.says), std::string::npos) << text;
        EXPECT_EQ(clock.sleeps.size(), c.polls);
        EXPECT_FALSE(std::filesystem::exists(dir.path() / "out.wfa"));
        // The trigger notice comes once, and only in a wait the board answered for 3 s.
        const auto notice = text.find(waiting);
        EXPECT_EQ(notice != std::string::npos, c.polls == 150) << text;
        if (notice != std::string::npos) {
            EXPECT_EQ(text.find(waiting, notice + 1), std::string::npos) << text;
        }
        EXPECT_EQ(text.find("trigger condition may") != std::string::npos, c.polls == 150);
    }
    driver.present = [](int) { return false; };
    EXPECT_EQ(Run({}), 1);
    EXPECT_EQ(err.str().rfind(std::string(kConnectFailureMessage) + "\n", 0), 0U);
    EXPECT_TRUE(board.writes.empty());
}

// The commands on this machine's real USB (skipped when a board is attached).
TEST(BoardCommands, WithoutABoardListAndCaptureSayWhatTheyFound) {
    if (LibusbDriver{}.CountInstances() > 0) {
        GTEST_SKIP() << "a board is attached";
    }
    test::TempDir dir;
    const auto output = (dir.path() / "c.wfa").string();
    const std::vector<std::tuple<std::vector<std::string>, int, std::string>> cases = {
        {{"list"}, 0, "no boards found"},
        {{"capture", "--board", "usb", "-o", output}, 1, std::string(kConnectFailureMessage)},
        {{"capture", "--board", "usb", "--instance", "3", "-o", output}, 1, "No board could"},
        // A blank simulated chip answers no string descriptors.
        {{"capture", "--board", "sim", "--sim-boot", "blank", "-o", output},
         1,
         std::string(kConnectFailureMessage)},
    };
    for (auto [args, exitCode, says] : cases) {
        std::ostringstream out, err;
        cli::CommandContext context{out, err};
        CLI::App app;
        cli::AddListCommand(app, context);
        cli::AddCaptureCommand(app, context);
        std::reverse(args.begin(), args.end());
        app.parse(args);
        EXPECT_EQ(context.exitCode, exitCode) << args.back();
        EXPECT_NE((out.str() + err.str()).find(says), std::string::npos) << err.str();
    }
    EXPECT_FALSE(std::filesystem::exists(output));
}

} // namespace
} // namespace pulsara
