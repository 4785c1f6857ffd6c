// The history of repeated captures: capacity, eviction, stepping, and copies that stay
// whole when the live capture changes.

#include "analysis/capture_history.h"

#include <gtest/gtest.h>

#include <memory>

namespace pulsara::analysis {
namespace {

using Clock = std::chrono::system_clock;

TEST(CaptureHistory, KeepsTheNewestStepsAndEvicts) {
    auto live = std::make_unique<Capture>();
    CaptureHistory history(4);
    EXPECT_EQ(history.shown(), std::nullopt);
    EXPECT_FALSE(history.Step(-1));
    const auto t0 = Clock::now();
    for (int k = 1; k <= 6; ++k) {
        live->samples[0] = static_cast<std::uint8_t>(k);
        live->settings.rateIndex = k;
        (void)history.Add(*live, t0 + std::chrono::seconds(k));
    }
    live->samples[0] = 99; // the live capture moves on; the copies do not
    ASSERT_EQ(history.size(), 4);
    EXPECT_EQ(history.shown(), 3);
    struct Step {
        int delta;
        bool changed;
        int shown;
        int number; // of the entry shown
    };
    const Step steps[] = {{-1, true, 2, 5}, {-5, true, 0, 3}, {-1, false, 0, 3},
                          {+2, true, 2, 5}, {+9, true, 3, 6}, {+1, false, 3, 6}};
    for (const auto& s : steps) {
        SCOPED_TRACE(s.delta);
        EXPECT_EQ(history.Step(s.delta), s.changed);
        ASSERT_EQ(history.shown(), s.shown);
        const auto& entry = history.at(s.shown);
        EXPECT_EQ(entry.number, s.number);
        EXPECT_EQ(entry.capture->samples[0], s.number);
        EXPECT_EQ(entry.capture->settings.rateIndex, s.number);
        EXPECT_EQ(entry.completed, t0 + std::chrono::seconds(s.number));
    }

    // Shrinking keeps the newest; the entry shown stays shown while it is kept.
    history.Show(2); // number 5
    history.SetCapacity(2);
    ASSERT_EQ(history.size(), 2);
    EXPECT_EQ(history.at(*history.shown()).number, 5);
    history.SetCapacity(1);
    EXPECT_EQ(history.at(*history.shown()).number, 6);
    history.SetCapacity(0); // at least one
    EXPECT_EQ(history.capacity(), 1);

    // A pinned copy outlives its eviction.
    const auto pinned = history.at(0).capture;
    (void)history.Add(*live, t0);
    EXPECT_EQ(pinned->samples[0], 6);
    EXPECT_EQ(history.at(0).number, 7);
    history.Clear();
    EXPECT_TRUE(history.empty());
    EXPECT_EQ(history.shown(), std::nullopt);
}

} // namespace
} // namespace pulsara::analysis
