// Captures on the simulated board through the real host code: every filled sample obeys
// the counter on probes 0-15, the trigger sample stands where the position puts it, and
// the unfilled groups the firmware counts are exactly those the host clears.

#include "capture/capture.h"
#include "device/capture_protocol.h"
#include "device/firmware_loader.h"
#include "firmware/image.h"
#include "sim/signal_generator.h"
#include "sim_fixture.h"

#include <memory>
#include <sstream>

namespace pulsara::test {
namespace {

struct NoEvents final : ConnectEvents {
    void ConnectFailed(std::string_view, const ConnectResult&) override {}
};

std::uint32_t Sample(const Capture& c, std::size_t i) {
    const auto* b = c.samples.data() + 4 * i;
    return static_cast<std::uint32_t>(b[0] | (b[1] << 8) | (b[2] << 16) | (b[3] << 24));
}

struct CaptureCase {
    const char* name;
    int rate, position, condition, probe;
    bool completes = true;
    std::optional<std::uint16_t> unfilled; // known when the trigger comes on the first sample
};

void PrintTo(const CaptureCase& c, std::ostream* os) {
    *os << c.name;
}

class SimCapture : public ::testing::TestWithParam<CaptureCase> {};

TEST_P(SimCapture, CounterTriggerAndUnfilledGroups) {
    const CaptureCase& c = GetParam();
    VirtualClock clock;
    SimDriver sim{{1, SimBoot::Current, 0.0}, clock};
    TempLockDir locks;
    std::ostringstream messages;
    DeviceLink link{sim, messages, locks.path};
    NoEvents events;
    ASSERT_TRUE(ConnectAtStartup(link, FirmwareImage(), clock, events).ok());

    auto capture = std::make_unique<Capture>();
    // Left-overs of an earlier capture must not survive where the board sends zeros.
    std::fill(capture->samples.begin(), capture->samples.end(), std::uint8_t{0xA5});
    capture->settings.rateIndex = c.rate;
    capture->settings.triggerPosition = c.position;
    capture->settings.triggerCondition = c.condition;
    capture->settings.triggerProbe = c.probe;
    ASSERT_TRUE(StartCapture(link, capture->settings));
    // Speed 0: complete at the first poll, whatever the rate, or never.
    ASSERT_EQ(PollCapture(link, *capture),
              c.completes ? PollResult::Complete : PollResult::NotComplete);
    if (!c.completes) {
        EXPECT_EQ(PollCapture(link, *capture), PollResult::NotComplete);
        return;
    }

    const CaptureLogic& logic = sim.board(0).logic();
    const std::uint32_t unfilled = capture->settings.unfilledPairs;
    EXPECT_EQ(unfilled, logic.unfilledGroups());
    if (c.unfilled) {
        EXPECT_EQ(unfilled, *c.unfilled);
    }
    // Byte for byte what the logic holds: zeros where it has no samples, nothing cleared
    // beyond the unfilled pairs.
    for (std::size_t i = 0; i < kLogicSamples; ++i) {
        ASSERT_EQ(Sample(*capture, i), logic.memory()[i]) << "sample " << i;
    }
    for (std::size_t i = 0; i < 2 * unfilled; ++i) {
        ASSERT_EQ(Sample(*capture, i), 0u) << "sample " << i;
    }

    // The counter: neighbours differ by the period in 10 ns steps. A lone missing sample
    // may follow the cleared pairs, so the check starts one later.
    const std::uint32_t step = static_cast<std::uint32_t>(kRatePeriodNs[c.rate] / kCounterStepNs);
    for (std::size_t i = 2 * unfilled + 1; i + 1 < kLogicSamples; ++i) {
        ASSERT_EQ((Sample(*capture, i + 1) - Sample(*capture, i)) & 0xFFFF, step & 0xFFFF)
            << "samples " << i << " and " << i + 1;
    }

    const std::size_t t = kTriggerIndex[static_cast<std::size_t>(c.position)];
    if (c.probe == kTriggerProbeHdl) {
        return;
    }
    const bool at = (Sample(*capture, t) >> c.probe) & 1;
    const bool before = (Sample(*capture, t - 1) >> c.probe) & 1;
    switch (c.condition) {
    case 0:
        EXPECT_TRUE(at && !before);
        break;
    case 1:
        EXPECT_TRUE(!at && before);
        break;
    case 2:
        EXPECT_TRUE(at);
        break;
    default:
        EXPECT_FALSE(at);
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SimCapture,
    ::testing::Values(
        // HDL triggers on the first sample: everything before the trigger is unfilled.
        CaptureCase{"HdlTop100MHz", 0, 0, 0, 15, true, 12},
        CaptureCase{"HdlCenter1MHz", 10, 1, 2, 15, true, 8189},
        CaptureCase{"HdlLast1KHz", 14, 2, 0, 15, true, 16364},
        CaptureCase{"RisingProbe3At10MHzCenter", 5, 1, 0, 3, true, std::nullopt},
        CaptureCase{"FallingProbe14At16_6MHzLast", 3, 2, 1, 14, true, std::nullopt},
        CaptureCase{"HighProbe7At3_84MHzTop", 8, 0, 2, 7, true, std::nullopt},
        CaptureCase{"LowProbe0AtExtCenter", 15, 1, 3, 0, true, std::nullopt},
        CaptureCase{"RisingProbe12At100KHzTop", 12, 0, 0, 12, true, std::nullopt},
        // At 50 MHz bit 0 of the counter never changes between samples: no edge, ever.
        CaptureCase{"NoEdgeOnAliasedBit", 1, 0, 0, 0, false, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace pulsara::test

namespace pulsara::test {
namespace {

struct SpeedCase {
    const char* name;
    double speed;
    int polls; // 400 ms apart, until a 1 kHz capture with the trigger at TOP completes
};

void PrintTo(const SpeedCase& c, std::ostream* os) {
    *os << c.name;
}

class SimSpeed : public ::testing::TestWithParam<SpeedCase> {};

TEST_P(SimSpeed, BoardTimeFollowsTheWallClock) {
    const SpeedCase& c = GetParam();
    VirtualClock clock;
    SimDriver sim{{1, SimBoot::Current, c.speed}, clock};
    TempLockDir locks;
    std::ostringstream messages;
    DeviceLink link{sim, messages, locks.path};
    NoEvents events;
    ASSERT_TRUE(ConnectAtStartup(link, FirmwareImage(), clock, events).ok());
    auto capture = std::make_unique<Capture>();
    capture->settings.rateIndex = 14;
    capture->settings.triggerProbe = kTriggerProbeHdl;
    ASSERT_TRUE(StartCapture(link, capture->settings));

    // 32743 samples of 1 ms after the trigger on the first one.
    int polls = 0;
    PollResult poll = PollResult::NotComplete;
    while (poll == PollResult::NotComplete && polls < 2 * c.polls) {
        clock.SleepFor(std::chrono::milliseconds(400));
        ++polls;
        poll = PollCapture(link, *capture);
    }
    EXPECT_EQ(poll, PollResult::Complete);
    EXPECT_EQ(polls, c.polls);
    EXPECT_EQ(capture->settings.unfilledPairs, 12);
}

INSTANTIATE_TEST_SUITE_P(Speeds, SimSpeed,
                         ::testing::Values(SpeedCase{"RealTime", 1.0, 82},
                                           SpeedCase{"Double", 2.0, 41},
                                           SpeedCase{"Half", 0.5, 164}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace pulsara::test
