// Measurements on hand-made pulse trains, and which names resolve to which probe.

#include "analysis/measure.h"
#include "analysis/signal.h"

#include "support/signal_builder.h"

#include <gtest/gtest.h>

#include <optional>

namespace pulsara::analysis {
namespace {

using test::Fill;
using test::MakeCapture;
using test::Train;

constexpr int kRate10MHz = 5; // 100 ns a sample
constexpr int kExt = 15;

using Opt = std::optional<int>;

TEST(MeasureAt, PulseAndPeriodAroundASample) {
    struct Case {
        const char* what;
        int unfilledPairs;
        int rateIndex;
        int sample;
        int level;
        Opt pulseStart, pulseEnd, periodEnd;
        std::optional<double> pulseNs, periodHz, duty;
    };
    // Probe 3: low to 100, high 100..149, low 150..249, high from 250 to the end.
    const Case cases[] = {
        {"inside a high pulse", 0, kRate10MHz, 120, 1, 100, 150, 250, 5000.0, 1e9 / 15000,
         50.0 / 150},
        {"on its start edge", 0, kRate10MHz, 100, 1, 100, 150, 250, 5000.0, 1e9 / 15000,
         50.0 / 150},
        {"on its last sample", 0, kRate10MHz, 149, 1, 100, 150, 250, 5000.0, 1e9 / 15000,
         50.0 / 150},
        {"low pulse whose period runs off the end",
         0,
         kRate10MHz,
         200,
         0,
         150,
         250,
         {},
         10000.0,
         {},
         {}},
        {"before the first edge", 0, kRate10MHz, 99, 0, {}, 100, 150, {}, {}, {}},
        {"after the last edge", 0, kRate10MHz, 300, 1, 250, {}, {}, {}, {}, {}},
        {"first captured sample is no edge", 50, kRate10MHz, 120, 1, {}, 150, 250, {}, {}, {}},
        {"EXT: samples only", 0, kExt, 120, 1, 100, 150, 250, {}, {}, 50.0 / 150},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto capture = MakeCapture("#SYSPARM 5,0,0,0,0,0\r\nCLK 3\r\n");
        capture->settings.rateIndex = c.rateIndex;
        capture->settings.unfilledPairs = static_cast<std::uint16_t>(c.unfilledPairs);
        Train(*capture, 3, 0, 0, {100, 50, 100});
        Fill(*capture, 3, 0, 2 * c.unfilledPairs, 0); // cleared as the read-out does
        if (c.unfilledPairs > 0) {
            Fill(*capture, 3, 2 * c.unfilledPairs, 150, 1);
        }
        const auto m = MeasureAt(*capture, Signal{"CLK", 3}, c.sample);
        ASSERT_TRUE(m.ok()) << m.error();
        EXPECT_EQ(m->level, c.level);
        EXPECT_EQ(m->pulse.start, c.pulseStart);
        EXPECT_EQ(m->pulse.end, c.pulseEnd);
        EXPECT_EQ(m->period.start, c.pulseStart);
        EXPECT_EQ(m->period.end, c.periodEnd);
        EXPECT_EQ(m->pulse.ns, c.pulseNs);
        if (c.pulseStart && c.pulseEnd) {
            EXPECT_EQ(m->pulse.samples, *c.pulseEnd - *c.pulseStart);
        } else {
            EXPECT_FALSE(m->pulse.samples);
        }
        ASSERT_EQ(m->period.hz.has_value(), c.periodHz.has_value());
        if (c.periodHz) {
            EXPECT_NEAR(*m->period.hz, *c.periodHz, 1e-6);
        }
        ASSERT_EQ(m->period.duty.has_value(), c.duty.has_value());
        if (c.duty) {
            EXPECT_DOUBLE_EQ(*m->period.duty, *c.duty);
        }
    }
}

TEST(MeasureAt, EdgesAtTheEndsOfTheMemoryAndSamplesWithoutData) {
    auto capture = MakeCapture("CLK 31\r\n");
    capture->settings.unfilledPairs = 2; // samples 0..3 hold no data
    Fill(*capture, 31, 5, 6, 1);         // the first possible edge is at 5 (4 starts the data)
    Fill(*capture, 31, kSampleCount - 1, kSampleCount, 1);
    const Signal clk{"CLK", 31};

    const auto start = MeasureAt(*capture, clk, 4);
    ASSERT_TRUE(start.ok()) << start.error();
    EXPECT_EQ(start->pulse.start, std::nullopt);
    EXPECT_EQ(start->pulse.end, 5);
    EXPECT_EQ(start->period.end, 6);

    const auto last = MeasureAt(*capture, clk, kSampleCount - 1);
    ASSERT_TRUE(last.ok()) << last.error();
    EXPECT_EQ(last->level, 1);
    EXPECT_EQ(last->pulse.start, kSampleCount - 1);
    EXPECT_EQ(last->pulse.end, std::nullopt);

    for (const int outside : {-1, 0, 3, kSampleCount}) {
        const auto m = MeasureAt(*capture, clk, outside);
        ASSERT_FALSE(m.ok()) << outside;
        EXPECT_NE(m.error().find("from 4 to 32767"), std::string::npos) << m.error();
    }

    capture->settings.unfilledPairs = 16384; // nothing captured at all
    const auto none = MeasureAt(*capture, clk, kSampleCount - 1);
    ASSERT_FALSE(none.ok());
    EXPECT_NE(none.error().find("holds no data"), std::string::npos) << none.error();
    EXPECT_EQ(MeasureSignal(*capture, clk).rising + MeasureSignal(*capture, clk).falling, 0);
}

TEST(MeasureSignal, EdgeCountsPulsesAndMeanFrequency) {
    struct Case {
        const char* what;
        int rateIndex;
        int unfilledPairs;
        int startLevel;
        std::vector<int> lengths; // from the first captured sample; the last level runs on
        int rising, falling;
        Opt highMin, highMax, lowMin, lowMax;
        std::optional<double> meanPeriod, meanHz;
    };
    const Case cases[] = {
        {"no edge, low", kRate10MHz, 0, 0, {}, 0, 0, {}, {}, {}, {}, {}, {}},
        {"no edge, high", kRate10MHz, 0, 1, {}, 0, 0, {}, {}, {}, {}, {}, {}},
        {"one rising edge", kRate10MHz, 0, 0, {40}, 1, 0, {}, {}, {}, {}, {}, {}},
        // high to 9, then low 3, high 7, low 20, high 2, low 5 and high to the end: edges at
        // 9 12 19 39 41 46; the pulses cut by either end do not count
        {"irregular, cut at both ends",
         kRate10MHz,
         0,
         1,
         {9, 3, 7, 20, 2, 5},
         3,
         3,
         2,
         7,
         3,
         20,
         (46 - 12) / 2.0,
         1e9 / (17 * 100.0)},
        {"EXT has no frequency", kExt, 0, 1, {9, 3, 7, 20, 2, 5}, 3, 3, 2, 7, 3, 20, 17.0, {}},
        // data from 16, high to 26: edges only at 26 (falling), 30 (rising) and 36 (falling)
        {"unfilled: the data starts high, no edge there",
         kRate10MHz,
         8,
         1,
         {10, 4, 6},
         1,
         2,
         6,
         6,
         4,
         4,
         {},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto capture = MakeCapture("P 7\r\n");
        capture->settings.rateIndex = c.rateIndex;
        capture->settings.unfilledPairs = static_cast<std::uint16_t>(c.unfilledPairs);
        Train(*capture, 7, 2 * c.unfilledPairs, c.startLevel, c.lengths);
        Fill(*capture, 7, 0, 2 * c.unfilledPairs, 0);
        const auto m = MeasureSignal(*capture, Signal{"P", 7});
        EXPECT_EQ(m.rising, c.rising);
        EXPECT_EQ(m.falling, c.falling);
        EXPECT_EQ(m.high.minSamples, c.highMin);
        EXPECT_EQ(m.high.maxSamples, c.highMax);
        EXPECT_EQ(m.low.minSamples, c.lowMin);
        EXPECT_EQ(m.low.maxSamples, c.lowMax);
        EXPECT_EQ(m.meanPeriodSamples, c.meanPeriod);
        ASSERT_EQ(m.meanFrequencyHz.has_value(), c.meanHz.has_value());
        if (c.meanHz) {
            EXPECT_NEAR(*m.meanFrequencyHz, *c.meanHz, 1e-6);
        }
    }
}

TEST(ResolveSignal, NamesBusProbesAndNumbers) {
    const auto capture = MakeCapture("#SYSPARM 5,0,0,0,0,0\r\nCLK\t16\r\nDATA 8,9,10,11\r\n"
                                     "7\t30\r\nFAR 40\r\nEMPTY\r\n\x83\x66\x81\x5B\x83\x5E 12\r\n");
    const auto upper = [](std::string_view bytes) {
        // Stands in for the Shift-JIS decoder: any readable rendering will do.
        return bytes == "\x83\x66\x81\x5B\x83\x5E" ? std::string("DATA-JP") : std::string(bytes);
    };
    struct Case {
        const char* text;
        Opt probe;
        const char* errorPart;
    };
    const Case cases[] = {
        {"CLK", 16, ""},
        {"DATA[0]", 8, ""},
        {"DATA[3]", 11, ""},
        {"7", 30, ""}, // a row name wins over a probe number
        {"5", 5, ""},
        {"31", 31, ""},
        {"DATA-JP", 12, ""},
        {"\x83\x66\x81\x5B\x83\x5E", 12, ""},
        {"DATA", {}, "is a bus of 4 probes; name one of them as DATA[0] to DATA[3]"},
        {"DATA[4]", {}, "not [4]"},
        {"CLK[0]", {}, "no row is named \"CLK[0]\""},
        {"FAR", {}, "probe 40"},
        {"32", {}, "no row is named"},
        {"clk", {}, "(CLK, DATA[0..3], 7, FAR, DATA-JP) or a probe number 0 to 31"},
        {"", {}, "no row is named"},
        {"EMPTY", {}, "row \"EMPTY\" shows no probe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto signal = ResolveSignal(capture->channels, c.text, upper);
        ASSERT_EQ(signal.ok(), c.probe.has_value()) << signal.error();
        if (c.probe) {
            EXPECT_EQ(signal->probe, *c.probe);
            EXPECT_EQ(signal->name, c.text);
        } else {
            EXPECT_NE(signal.error().find(c.errorPart), std::string::npos) << signal.error();
        }
    }
}

} // namespace
} // namespace pulsara::analysis
