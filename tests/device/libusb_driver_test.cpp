// LibusbDriver against simulated boards through the libusb stand-in: the real-board path
// byte for byte, and the errors real cables produce.

#include "device/capture_cycle.h"
#include "device/firmware_loader.h"
#include "device/libusb_driver.h"
#include "firmware/image.h"
#include "libusb.h"
#include "sim/sim_driver.h"
#include "standin_bus.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <sstream>

namespace pulsara::test {
namespace {

using namespace std::chrono_literals;

// Board time follows the program's sleeps, as it does beside a real board.
class BusClock final : public Clock {
public:
    explicit BusClock(StandinBus& bus) : bus_(bus) {}
    std::chrono::milliseconds Now() override { return now_; }
    void SleepFor(std::chrono::milliseconds d) override {
        now_ += d;
        bus_.Advance(d);
    }

private:
    StandinBus& bus_;
    std::chrono::milliseconds now_{0};
};

class SleepingClock final : public Clock {
public:
    std::chrono::milliseconds Now() override { return now; }
    void SleepFor(std::chrono::milliseconds d) override { now += d; }
    std::chrono::milliseconds now{0};
};

struct Events final : ConnectEvents {
    void Progress(std::string_view line) override { lines.emplace_back(line); }
    void ConnectFailed(std::string_view, const ConnectResult& result) override {
        failures.push_back(ExplainConnectFailure(result));
    }
    std::vector<std::string> lines;
    std::vector<std::string> failures;
};

// The signal generator's patterns repeat every 2.048 s of board time (counter and 1 ms
// frame together): captures started in the same millisecond of that period match.
constexpr std::uint64_t kCyclesPerMs = kCyclesPerSecond / 1000;
constexpr std::uint64_t kPatternCycles = 2048 * kCyclesPerMs;

std::uint64_t NextPatternStart(std::uint64_t cycle) {
    return (cycle / kPatternCycles + 1) * kPatternCycles;
}

// The board time of the first sample of the running 1 kHz capture at CENTER.
std::uint64_t FirstSampleCycle(const Board& board) {
    constexpr std::uint64_t kSamplesAfterTrigger = kLogicSamples - 1 - kTriggerIndex[1];
    const auto done = board.CaptureCompletionCycle();
    return done ? *done - kSamplesAfterTrigger * kCyclesPerMs : 0;
}

// 1 kHz sampling (sample times on whole milliseconds), trigger on the first sample, trigger
// position CENTER: half the memory stays unfilled.
const ComboSelections kSlowCapture = {14, 1, 0, 15};
// 100 MHz, trigger on the first sample at TOP: complete within a millisecond.
const ComboSelections kFastCapture = {0, 0, 0, 15};

// Polls every 400 ms until the cycle ends; the results in order.
std::vector<PollResult> RunCycle(CaptureCycle& cycle, DeviceLink& link, Capture& capture,
                                 Clock& clock, int most = 200) {
    std::vector<PollResult> results;
    for (int i = 0; i < most && cycle.captureArmed != 0; ++i) {
        clock.SleepFor(std::chrono::milliseconds(kPollIntervalMs));
        results.push_back(CaptureTick(cycle, link, capture, 0).poll);
    }
    return results;
}

struct UsbRig {
    TempDir locks;
    StandinBus bus;
    BusClock clock{bus};
    std::ostringstream messages;
    LibusbDriver driver{LibusbTimeouts{1000ms, 5000ms}};
    std::unique_ptr<DeviceLink> link = std::make_unique<DeviceLink>(driver, messages, locks.path());
    Events events;

    ConnectResult Connect() { return ConnectAtStartup(*link, FirmwareImage(), clock, events); }
};

TEST(LibusbEndToEnd, ConnectWithReloadAndCaptureGiveTheSamplesOfTheSimDriver) {
    auto usb = std::make_unique<UsbRig>();
    Board& board = usb->bus.Plug(SimBoot::Old);
    const auto connect = usb->Connect();
    ASSERT_TRUE(connect.ok()) << ExplainConnectFailure(connect);
    EXPECT_TRUE(connect.reloaded);
    // The image went out as 0xA0 writes of 4096 bytes from address 0.
    const auto& log = usb->bus.log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "control 40 A0 0000 len 4096 -> 4096"), 1);
    std::array<char, kStringTextSize> product{};
    ASSERT_EQ(GetStringDescriptor(*usb->link, 2, product), 0);
    EXPECT_STREQ(product.data(), "V100") << "the board is back with new descriptors";

    SleepingClock simClock;
    SimDriver sim{{.boards = 1, .boot = SimBoot::Old, .speed = 0.0}, simClock};
    std::ostringstream simMessages;
    DeviceLink simLink{sim, simMessages, usb->locks.path() / "sim"};
    std::filesystem::create_directory(simLink.lockDirectory);
    std::filesystem::permissions(simLink.lockDirectory, std::filesystem::perms::owner_all);
    Events simEvents;
    ASSERT_TRUE(ConnectAtStartup(simLink, FirmwareImage(), simClock, simEvents).ok());

    // Both boards take their first sample at the same moment of the signals' period: the
    // simulated board first, then the stand-in's board one millisecond ahead of that moment.
    Capture viaUsb;
    Capture viaSim;
    CaptureCycle usbCycle;
    CaptureCycle simCycle;
    Ezusb& simChip = sim.board(0).chip();
    sim.RunBoard(0, NextPatternStart(simChip.cycles()) - simChip.cycles());
    ASSERT_TRUE(StartStop(simCycle, simLink, viaSim, kSlowCapture).settingsSent);
    sim.RunBoard(0, kCyclesPerMs);
    const std::uint64_t simFirst = FirstSampleCycle(sim.board(0)) % kPatternCycles;
    usb->bus.RunTo(1, NextPatternStart(board.chip().cycles()) + simFirst - kCyclesPerMs);
    ASSERT_TRUE(StartStop(usbCycle, *usb->link, viaUsb, kSlowCapture).settingsSent);
    usb->bus.Advance(1ms);
    ASSERT_EQ(FirstSampleCycle(board) % kPatternCycles, simFirst);
    ASSERT_EQ(RunCycle(usbCycle, *usb->link, viaUsb, usb->clock).back(), PollResult::Complete);
    ASSERT_EQ(RunCycle(simCycle, simLink, viaSim, simClock).back(), PollResult::Complete);

    EXPECT_EQ(viaUsb.settings.unfilledPairs, 8189);
    EXPECT_EQ(viaUsb.settings.unfilledPairs, viaSim.settings.unfilledPairs);
    EXPECT_TRUE(viaUsb.samples == viaSim.samples) << "the two paths differ";
    // And both hold what the board sampled: the counter probes step by 100000 (mod 65536)
    // from one millisecond to the next.
    const auto& memory = board.logic().memory();
    for (std::size_t i = 16378; i + 1 < kLogicSamples; ++i) {
        std::uint32_t sample = 0;
        std::memcpy(&sample, &viaUsb.samples[4 * i], 4);
        ASSERT_EQ(sample, memory[i]) << "sample " << i;
        ASSERT_EQ((memory[i + 1] - memory[i]) & 0xFFFF, 100000U % 65536U) << "sample " << i;
    }
    usb->link.reset();
    EXPECT_EQ(usb->bus.openHandles(), 0);
    EXPECT_EQ(usb->bus.deviceLists(), 0);
    EXPECT_EQ(usb->bus.configDescriptors(), 0);
}

} // namespace
} // namespace pulsara::test
