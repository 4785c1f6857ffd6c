// Comparisons of generated pairs: what differs, where, and what must never count (the
// unfilled pairs of either capture, samples beyond the other capture once aligned).

#include "analysis/compare.h"

#include "support/signal_builder.h"

#include <gtest/gtest.h>

#include <functional>

namespace pulsara::analysis {
namespace {

using test::Fill;
using test::MakeCapture;

using Spans = std::vector<SampleSpan>;

const std::string kRows = "#SYSPARM 5,0,0,0,0,0\r\nCLK 16\r\nDATA 8,9,10,11\r\nTX 17\r\n";

// A busy pattern that depends on the sample's distance from the trigger, so two captures
// of the same signals at different trigger positions agree once aligned.
void Pattern(Capture& capture, int trigger) {
    for (int s = 0; s < kSampleCount; ++s) {
        const int t = s - trigger + 40000;
        Fill(capture, 16, s, s + 1, (t / 5) % 2);
        Fill(capture, 8, s, s + 1, (t / 7) % 2);
        Fill(capture, 10, s, s + 1, (t / 13) % 2);
        Fill(capture, 17, s, s + 1, (t / 101) % 2);
    }
}

struct Expect {
    int samples;
    Spans spans;
};

TEST(CompareCaptures, PairsOfCaptures) {
    struct Case {
        const char* what;
        int positionA, positionB;
        int unfilledA, unfilledB;
        Alignment alignment;
        std::function<void(Capture& a, Capture& b)> change;
        Overlap overlap;
        Expect clk, data, tx;
    };
    const auto flip = [](Capture& c, int probe, int from, int to) {
        for (int s = from; s < to; ++s) {
            Fill(c, probe, s, s + 1,
                 (c.samples[static_cast<std::size_t>(s) * 4 + probe / 8] >> (probe % 8) & 1) ^ 1);
        }
    };
    const Case cases[] = {
        {"identical",
         0,
         0,
         0,
         0,
         Alignment::Trigger,
         [](Capture&, Capture&) {},
         {0, 0, 32767},
         {0, {}},
         {0, {}},
         {0, {}}},
        {"a glitch at sample 0",
         0,
         0,
         0,
         0,
         Alignment::Trigger,
         [&](Capture&, Capture& b) { flip(b, 16, 0, 1); },
         {0, 0, 32767},
         {1, {{0, 0}}},
         {0, {}},
         {0, {}}},
        {"a glitch at sample 32767",
         0,
         0,
         0,
         0,
         Alignment::Trigger,
         [&](Capture& a, Capture&) { flip(a, 17, 32767, 32768); },
         {0, 0, 32767},
         {0, {}},
         {0, {}},
         {1, {{32767, 32767}}}},
        {"two probes of a bus: one span, each sample once",
         0,
         0,
         0,
         0,
         Alignment::Trigger,
         [&](Capture&, Capture& b) {
             flip(b, 8, 120, 126);
             flip(b, 10, 124, 132);
             flip(b, 11, 4000, 4001);
         },
         {0, 0, 32767},
         {0, {}},
         {13, {{120, 131}, {4000, 4000}}},
         {0, {}}},
        {"differences in either unfilled region are ignored",
         0,
         0,
         50,
         100,
         Alignment::Trigger,
         [&](Capture& a, Capture& b) {
             flip(a, 16, 0, 100);  // a's unfilled samples and some of b's
             flip(b, 17, 50, 201); // b's unfilled samples, and 200, captured in both
         },
         {0, 200, 32767},
         {0, {}},
         {0, {}},
         {1, {{200, 200}}}},
        {"TOP against CENTER, aligned at the trigger: the same moments agree",
         0,
         1,
         0,
         0,
         Alignment::Trigger,
         [&](Capture&, Capture& b) { flip(b, 16, 16378 + 10, 16378 + 12); },
         {16354, 0, 32767 - 16354},
         {2, {{34, 35}}},
         {0, {}},
         {0, {}}},
        {"CENTER against TOP, b's unfilled pairs shift the start",
         1,
         0,
         0,
         20,
         Alignment::Trigger,
         [](Capture&, Capture&) {},
         {-16354, 16354 + 40, 32767},
         {0, {}},
         {0, {}},
         {0, {}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto a = MakeCapture(kRows);
        auto b = MakeCapture(kRows);
        a->settings.triggerPosition = c.positionA;
        b->settings.triggerPosition = c.positionB;
        a->settings.unfilledPairs = static_cast<std::uint16_t>(c.unfilledA);
        b->settings.unfilledPairs = static_cast<std::uint16_t>(c.unfilledB);
        Pattern(*a, *TriggerSample(a->settings));
        Pattern(*b, *TriggerSample(b->settings));
        c.change(*a, *b);
        const auto targets = RowTargets(a->channels);
        ASSERT_EQ(targets.size(), 3U);
        const auto result = CompareCaptures(*a, *b, targets, c.alignment);
        ASSERT_TRUE(result) << result.error();
        EXPECT_EQ(result->overlap.offset, c.overlap.offset);
        EXPECT_EQ(result->overlap.first, c.overlap.first);
        EXPECT_EQ(result->overlap.last, c.overlap.last);
        const Expect* expected[] = {&c.clk, &c.data, &c.tx};
        bool differs = false;
        for (std::size_t t = 0; t < 3; ++t) {
            EXPECT_EQ(result->targets[t].samples, expected[t]->samples) << targets[t].name;
            EXPECT_EQ(result->targets[t].spans, expected[t]->spans) << targets[t].name;
            differs = differs || expected[t]->samples > 0;
        }
        EXPECT_EQ(result->differs(), differs);
    }
}

TEST(CompareCaptures, AlignmentTargetsAndNextDifference) {
    auto a = MakeCapture(kRows);
    auto b = MakeCapture(kRows);
    b->settings.triggerPosition = 2; // LAST
    Pattern(*a, 24);
    Pattern(*b, 32728);
    const auto rows = RowTargets(a->channels);
    // The same signals at another trigger position differ sample for sample from 0 on.
    const auto start = CompareCaptures(*a, *b, rows, Alignment::Start);
    ASSERT_TRUE(start);
    EXPECT_EQ(start->overlap.offset, 0);
    EXPECT_TRUE(start->differs());
    const auto trigger = CompareCaptures(*a, *b, rows, Alignment::Trigger);
    ASSERT_TRUE(trigger);
    EXPECT_EQ(trigger->overlap.size(), 32768 - 32704);
    EXPECT_FALSE(trigger->differs());

    // No trigger to align at: a message, and alignment at the start still works.
    a->settings.triggerPosition = -1;
    const auto none = CompareCaptures(*a, *b, rows, Alignment::Trigger);
    ASSERT_FALSE(none);
    EXPECT_NE(none.error().find("align at the start"), std::string::npos);
    EXPECT_TRUE(CompareCaptures(*a, *b, rows, Alignment::Start));

    // Targets: a bus as a whole, one of its probes, a probe number; unknown names fail.
    struct Name {
        const char* text;
        std::uint32_t probes;
    };
    for (const auto& n : {Name{"DATA", 0xF00U}, Name{"DATA[2]", 1U << 10}, Name{"CLK", 1U << 16},
                          Name{"30", 1U << 30}}) {
        const auto target = ResolveTarget(a->channels, n.text);
        ASSERT_TRUE(target) << n.text;
        EXPECT_EQ(target->probes, n.probes) << n.text;
        EXPECT_EQ(target->name, n.text);
    }
    EXPECT_FALSE(ResolveTarget(a->channels, "DATA[4]"));
    EXPECT_FALSE(ResolveTarget(a->channels, "NOPE"));

    // The next difference over all targets, and round to the first.
    Comparison spans;
    spans.targets = {{rows[0], 2, {{10, 10}, {500, 500}}}, {rows[1], 1, {{300, 300}}}};
    EXPECT_EQ(NextDifference(spans, -1), 10);
    EXPECT_EQ(NextDifference(spans, 10), 300);
    EXPECT_EQ(NextDifference(spans, 300), 500);
    EXPECT_EQ(NextDifference(spans, 500), std::nullopt);
    EXPECT_EQ(NextDifference(spans, 500, true), 10);
    EXPECT_EQ(NextDifference(Comparison{}, 0, true), std::nullopt);
}

} // namespace
} // namespace pulsara::analysis
