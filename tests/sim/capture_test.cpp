// Captures on the simulated board through the real host code: every filled sample obeys
// the counter on probes 0-15, the trigger sample stands where the position puts it, and
// the unfilled groups the firmware counts are exactly those the host clears.

#include "capture/capture.h"
#include "device/capture_protocol.h"
#include "device/firmware_loader.h"
#include "firmware/image.h"
#include "sim/board/capture_logic.h"
#include "sim/board/signal_generator.h"
#include "support/sim_fixture.h"

#include <memory>
#include <sstream>

namespace pulsara::test {
using namespace pulsara::sim;
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
    TempDir locks;
    std::ostringstream messages;
    DeviceLink link{sim, messages, locks.path()};
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

    // The counter: neighbours differ by the period in 10 ns steps, from the first sample
    // after the cleared pairs on.
    const std::uint32_t step = static_cast<std::uint32_t>(kRatePeriodNs[c.rate] / kCounterStepNs);
    for (std::size_t i = 2 * unfilled; i + 1 < kLogicSamples; ++i) {
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
        // The trigger on the first or second sample: 23 or 22 samples before it are missing.
        CaptureCase{"RisingProbe0At100MHzTop", 0, 0, 0, 0, true, std::nullopt},
        CaptureCase{"RisingProbe3At10MHzCenter", 5, 1, 0, 3, true, std::nullopt},
        CaptureCase{"FallingProbe14At16_6MHzLast", 3, 2, 1, 14, true, std::nullopt},
        CaptureCase{"HighProbe7At3_84MHzTop", 8, 0, 2, 7, true, std::nullopt},
        CaptureCase{"LowProbe0AtExtCenter", 15, 1, 3, 0, true, std::nullopt},
        CaptureCase{"RisingProbe12At100KHzTop", 12, 0, 0, 12, true, std::nullopt},
        // At 50 MHz bit 0 of the counter never changes between samples: no edge, ever.
        CaptureCase{"NoEdgeOnAliasedBit", 1, 0, 0, 0, false, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// The capture logic on its own, read out as the firmware does: every trigger position, and
// trigger samples that leave an odd or an even number of samples before it without data.
// The groups the status line flags are exactly those holding a sample without data.
TEST(CaptureLogicUnfilled, EverySampleAboveTheFlaggedGroupsIsData) {
    constexpr std::uint64_t kPeriodNs = 10; // 100 MHz: one counter step a sample
    for (std::uint8_t position = 0; position < kTriggerIndex.size(); ++position) {
        // Rising edges of counter bit p come every 2^(p+1) samples: starting at each phase
        // puts the trigger on every sample from 1 to 2^(p+1).
        for (std::uint8_t probe : {0, 1, 5}) {
            const std::uint64_t phases = std::uint64_t{2} << probe;
            bool sawOdd = false, sawEven = false;
            for (std::uint64_t phase = 0; phase < phases; ++phase) {
                SCOPED_TRACE("position " + std::to_string(position) + ", probe " +
                             std::to_string(probe) + ", phase " + std::to_string(phase));
                CaptureLogic logic;
                logic.SetMode(0, 0);
                logic.WriteStrobe(static_cast<std::uint8_t>(position)); // 100 MHz
                logic.SetMode(2, 0);
                logic.WriteStrobe(static_cast<std::uint8_t>(probe << 2)); // rising
                // Counter values well away from 0, so a sample without data (0) never
                // passes for one.
                const std::uint64_t start = 1000 * kPeriodNs + phase * kPeriodNs;
                logic.SetMode(4, start);
                const auto done = logic.CompletionNs();
                ASSERT_TRUE(done.has_value());
                logic.SetMode(6, *done);

                std::vector<std::uint32_t> samples(kLogicSamples, 0);
                std::uint32_t flagged = 0;
                for (std::size_t byte = 0; byte < kLogicBytes; ++byte) {
                    samples[byte / 4] |= std::uint32_t{logic.ReadStrobe()} << (8 * (byte % 4));
                    if (byte % 8 == 7 && !logic.StatusLine(*done)) {
                        ++flagged;
                    }
                }
                EXPECT_EQ(flagged, logic.unfilledGroups());
                ASSERT_LE(2 * flagged, kLogicSamples);

                // The trigger sample stands at its index and is a rising edge of the probe.
                const std::size_t t = kTriggerIndex[position];
                const auto counter = [&](std::size_t i) { return samples[i] & 0xFFFF; };
                ASSERT_GE(t, 2 * flagged);
                EXPECT_EQ((counter(t) >> probe) & 1, 1U);
                // The samples taken before the trigger: from the start to the trigger, by
                // the counter (the first sample is taken at the start, on a clock edge).
                const std::size_t taken = (counter(t) - start / kPeriodNs) & 0xFFFF;
                const std::size_t without = t > taken ? t - taken : 0;
                (without % 2 == 1 ? sawOdd : sawEven) = true;
                if (without < t) {
                    EXPECT_EQ((counter(t - 1) >> probe) & 1, 0U);
                }
                // Everything from the first data sample on is the counter, step by step.
                for (std::size_t i = 2 * flagged; i < kLogicSamples; ++i) {
                    ASSERT_EQ(counter(i), (counter(t) + i - t) & 0xFFFF) << "sample " << i;
                }
                // Flagged: the groups holding a sample without data, and no more.
                EXPECT_EQ(2 * flagged, (without + 1) / 2 * 2);
                for (std::size_t i = 0; i < 2 * flagged; ++i) {
                    ASSERT_EQ(samples[i], 0U) << "sample " << i;
                }
            }
            EXPECT_TRUE(sawEven);
            EXPECT_TRUE(sawOdd);
        }
    }
}

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
    TempDir locks;
    std::ostringstream messages;
    DeviceLink link{sim, messages, locks.path()};
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
