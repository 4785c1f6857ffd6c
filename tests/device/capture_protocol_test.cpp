#include "device/capture_protocol.h"
#include "fake_driver.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

namespace pulsara {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::ScriptedRead;

class CaptureProtocolTest : public ::testing::Test {
protected:
    test::TempDir locks;
    test::FakeDriver driver;
    test::ScriptedBoard board{driver};
    std::ostringstream out;
    DeviceLink link{driver, out, locks.path()};
    std::unique_ptr<Capture> capture = std::make_unique<Capture>();

    void SetUp() override { ASSERT_EQ(OpenDevice(0, link), 0); }

    // The replies of a completed capture: status, the memory (as `memoryChunks`), count.
    void ScriptCompletion(std::vector<ScriptedRead> memoryChunks, Bytes count) {
        board.reads.push_back({true, {0x0C}});
        for (auto& chunk : memoryChunks) {
            board.reads.push_back(std::move(chunk));
        }
        board.reads.push_back({true, std::move(count)});
    }
};

TEST_F(CaptureProtocolTest, SettingsArePackedIntoTheRegisterWrites) {
    struct Case {
        CaptureSettings settings;
        std::uint8_t reg0;
        std::uint8_t reg2;
    };
    const std::vector<Case> cases = {
        {{0, 0, 0, 0}, 0x00, 0x00},   {{10, 1, 1, 3}, 0xA1, 0x4C}, // 1MHz, CENTER, falling, PROBE03
        {{15, 2, 3, 15}, 0xF2, 0xFC},                              // the highest listed entries
        {{3, -1, 0, 0}, 0xFF, 0x00}, // a combo without selection spills into the rate
        {{0, 0, 0, 16}, 0x00, 0x40}, // an out-of-range probe spills into the condition
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.reg0));
        board.writes.clear();
        EXPECT_TRUE(StartCapture(link, c.settings));
        EXPECT_EQ(board.writes, (std::vector<Bytes>{{0x30, c.reg0}, {0x32, c.reg2}, {0x14}}));
    }
    board.writes.clear();
    EXPECT_TRUE(SendStartupCommand(link));
    EXPECT_TRUE(SendParameter(link, 0x100, 0x1A5)); // selector 0x100 counts as 0
    EXPECT_TRUE(SendParameter(link, 7, 0x42));
    EXPECT_EQ(board.writes, (std::vector<Bytes>{{0x07, 0x10}, {0x30, 0xA5}, {0x32, 0x42}}));
    for (const auto& call : driver.IoCalls()) {
        EXPECT_EQ(call.input, (Bytes{0, 0, 0, 0})); // all on pipe 0
    }
}

TEST_F(CaptureProtocolTest, PollWhileRunningQueriesOneStatusByte) {
    struct Case {
        ScriptedRead status;
        PollResult result;
    };
    const std::vector<Case> cases = {
        {{true, {0x04}}, PollResult::NotComplete},
        {{true, {0xF7}}, PollResult::NotComplete}, // only bit 3 counts
        {{false, {}}, PollResult::StatusFailed},
        {{true, {}}, PollResult::StatusFailed}, // nothing arrived
    };
    for (const auto& c : cases) {
        board.writes.clear();
        board.readLengths.clear();
        board.reads = {c.status};
        EXPECT_EQ(PollCapture(link, *capture), c.result);
        EXPECT_EQ(board.writes, (std::vector<Bytes>{{0x24}}));
        EXPECT_EQ(board.readLengths, (std::vector<std::size_t>{1}));
    }
}

TEST_F(CaptureProtocolTest, CompletedPollReadsOutClearsUnfilledPairsAndIdles) {
    struct Case {
        Bytes count;
        std::size_t clearedBytes;
    };
    const std::vector<Case> cases = {
        {{0x00, 0x00}, 0},
        {{0x03, 0x00}, 24},
        {{0x00, 0x40}, kSampleMemoryBytes}, // 16384: all samples
        {{0xFF, 0xFF}, kSampleMemoryBytes}, // more: all, and nothing beyond
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.clearedBytes);
        board.writes.clear();
        board.readLengths.clear();
        capture->samples.fill(0x77);
        const Bytes chunk(32768, 0xE1);
        ScriptCompletion({{true, chunk}, {true, chunk}, {true, chunk}, {true, chunk}}, c.count);
        ASSERT_EQ(PollCapture(link, *capture), PollResult::Complete);
        EXPECT_EQ(board.writes,
                  (std::vector<Bytes>{{0x24}, {0x66, 0x00, 0x00, 0x08}, {0x70}, {0x10}}));
        EXPECT_EQ(board.readLengths, (std::vector<std::size_t>{1, 32768, 32768, 32768, 32768, 2}));
        EXPECT_EQ(capture->settings.unfilledPairs, c.count[0] | (c.count[1] << 8));
        const auto firstKept = std::find_if(capture->samples.begin(), capture->samples.end(),
                                            [](std::uint8_t b) { return b != 0; });
        EXPECT_EQ(static_cast<std::size_t>(firstKept - capture->samples.begin()), c.clearedBytes);
        EXPECT_TRUE(std::all_of(firstKept, capture->samples.end(),
                                [](std::uint8_t b) { return b == 0xE1; }));
    }
}

TEST_F(CaptureProtocolTest, FailedOrShortReadOutIsReportedAndLeavesNoOldSamples) {
    struct Case {
        const char* name;
        std::vector<ScriptedRead> memory;
        ScriptedRead count;
        std::size_t receivedBytes; // leading bytes that hold new data
    };
    const Bytes full(32768, 0xE1);
    const std::vector<Case> cases = {
        {"third chunk fails", {{true, full}, {true, full}, {false, {}}}, {true, {0, 0}}, 65536},
        {"second chunk short",
         {{true, full}, {true, Bytes(100, 0xE1)}, {true, full}, {true, full}},
         {true, {0, 0}},
         32768},
        {"count read fails",
         {{true, full}, {true, full}, {true, full}, {true, full}},
         {false, {}},
         kSampleMemoryBytes},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        board.writes.clear();
        board.reads.clear();
        capture->samples.fill(0x77);
        capture->settings.unfilledPairs = 0;
        board.reads.push_back({true, {0x08}});
        for (const auto& r : c.memory) {
            board.reads.push_back(r);
        }
        board.reads.push_back(c.count);
        EXPECT_EQ(PollCapture(link, *capture), PollResult::ReadOutFailed);
        // The board is still told to report the count and to go idle.
        EXPECT_EQ(board.writes,
                  (std::vector<Bytes>{{0x24}, {0x66, 0x00, 0x00, 0x08}, {0x70}, {0x10}}));
        EXPECT_EQ(std::count(capture->samples.begin(), capture->samples.end(), 0x77), 0);
        EXPECT_TRUE(std::all_of(capture->samples.begin(),
                                capture->samples.begin() + static_cast<long>(c.receivedBytes),
                                [](std::uint8_t b) { return b == 0xE1; }));
    }
}

} // namespace
} // namespace pulsara
