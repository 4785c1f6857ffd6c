#include "device/capture_protocol.h"
#include "support/fake_driver.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

namespace pulsara {
namespace {

using test::Bytes;
using test::ScriptedRead;

const std::vector<Bytes> kReadOutWrites = {{0x24}, {0x66, 0x00, 0x00, 0x08}, {0x70}, {0x10}};

class CaptureProtocolTest : public ::testing::Test, protected test::LinkedBoard {
protected:
    std::unique_ptr<Capture> capture = std::make_unique<Capture>();

    void SetUp() override { ASSERT_EQ(OpenDevice(0, link), 0); }

    PollResult Poll(std::deque<ScriptedRead> reads) {
        board.writes.clear();
        board.readLengths.clear();
        board.reads = std::move(reads);
        capture->samples.fill(0x77);
        return PollCapture(link, *capture);
    }
};

TEST_F(CaptureProtocolTest, SettingsArePackedIntoTheRegisterWritesWithoutMasking) {
    struct Case {
        CaptureSettings settings;
        std::uint8_t reg0, reg2;
    };
    const std::vector<Case> cases = {
        {{0, 0, 0, 0}, 0x00, 0x00},   {{10, 1, 1, 3}, 0xA1, 0x4C}, // 1MHz CENTER falling PROBE03
        {{15, 2, 3, 15}, 0xF2, 0xFC}, {{3, -1, 0, 0}, 0xFF, 0x00}, // no position selected
        {{0, 0, 0, 16}, 0x00, 0x40},                               // probe spills over
    };
    for (const auto& c : cases) {
        board.writes.clear();
        EXPECT_TRUE(StartCapture(link, c.settings));
        EXPECT_EQ(board.writes, (std::vector<Bytes>{{0x30, c.reg0}, {0x32, c.reg2}, {0x14}}));
    }
    board.writes.clear();
    EXPECT_TRUE(SendStartupCommand(link));
    EXPECT_TRUE(SendParameter(link, 0x100, 0x1A5)); // selector 0x100 counts as 0
    EXPECT_EQ(board.writes, (std::vector<Bytes>{{0x07, 0x10}, {0x30, 0xA5}}));
    for (const auto& call : driver.IoCalls()) {
        EXPECT_EQ(call.input, (Bytes{0, 0, 0, 0})); // every command goes to pipe 0
    }
}

TEST_F(CaptureProtocolTest, PollWhileRunningQueriesOneStatusByte) {
    const std::vector<std::pair<ScriptedRead, PollResult>> cases = {
        {{true, {0x04}}, PollResult::NotComplete},
        {{true, {0xF7}}, PollResult::NotComplete}, // only bit 3 counts
        {{false, {}}, PollResult::StatusFailed},
        {{true, {}}, PollResult::StatusFailed}, // nothing arrived
    };
    for (const auto& [status, result] : cases) {
        EXPECT_EQ(Poll({status}), result);
        EXPECT_EQ(board.writes, std::vector<Bytes>{{0x24}});
        EXPECT_EQ(board.readLengths, std::vector<std::size_t>{1});
    }
}

TEST_F(CaptureProtocolTest, CompletedPollReadsOutClearsUnfilledPairsAndIdles) {
    const Bytes chunk(32768, 0xE1);
    const std::vector<std::pair<Bytes, std::size_t>> cases = {
        {{0x00, 0x00}, 0},
        {{0x03, 0x00}, 24},
        {{0x00, 0x40}, kSampleMemoryBytes}, // 16384: every sample
        {{0xFF, 0xFF}, kSampleMemoryBytes}, // more: every sample, nothing beyond
    };
    for (const auto& [count, cleared] : cases) {
        SCOPED_TRACE(cleared);
        ASSERT_EQ(Poll({{true, {0x0C}},
                        {true, chunk},
                        {true, chunk},
                        {true, chunk},
                        {true, chunk},
                        {true, count}}),
                  PollResult::Complete);
        EXPECT_EQ(board.writes, kReadOutWrites);
        EXPECT_EQ(board.readLengths, (std::vector<std::size_t>{1, 32768, 32768, 32768, 32768, 2}));
        EXPECT_EQ(capture->settings.unfilledPairs, count[0] | (count[1] << 8));
        const auto kept = std::find_if(capture->samples.begin(), capture->samples.end(),
                                       [](std::uint8_t b) { return b != 0; });
        EXPECT_EQ(static_cast<std::size_t>(kept - capture->samples.begin()), cleared);
        EXPECT_TRUE(std::all_of(kept, capture->samples.end(), [](auto b) { return b == 0xE1; }));
    }
}

TEST_F(CaptureProtocolTest, FailedOrShortReadOutIsReportedAndLeavesNoOldSamples) {
    const Bytes full(32768, 0xE1);
    const std::vector<std::pair<std::deque<ScriptedRead>, std::size_t>> cases = {
        // third chunk fails; second chunk short; the count read fails
        {{{true, {8}}, {true, full}, {true, full}, {false, {}}, {true, {0, 0}}}, 65536},
        {{{true, {8}},
          {true, full},
          {true, Bytes(100, 0xE1)},
          {true, full},
          {true, full},
          {true, {0, 0}}},
         32768},
        {{{true, {8}}, {true, full}, {true, full}, {true, full}, {true, full}, {false, {}}},
         kSampleMemoryBytes},
    };
    for (const auto& [reads, received] : cases) {
        SCOPED_TRACE(received);
        capture->settings.unfilledPairs = 0;
        EXPECT_EQ(Poll(reads), PollResult::ReadOutFailed);
        EXPECT_EQ(board.writes, kReadOutWrites); // still asks for the count and goes idle
        EXPECT_EQ(std::count(capture->samples.begin(), capture->samples.end(), 0x77), 0);
        EXPECT_TRUE(std::all_of(capture->samples.begin(),
                                capture->samples.begin() + static_cast<long>(received),
                                [](std::uint8_t b) { return b == 0xE1; }));
    }
}

} // namespace
} // namespace pulsara
