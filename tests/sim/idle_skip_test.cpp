// Skipping idle passes of the firmware's main loop must leave the chip exactly where
// running them would, and must not skip a loop that counts (the start-up delay).

#include "firmware/image.h"
#include "sim_fixture.h"

namespace pulsara::test {
namespace {

TEST(SimIdleSkip, SkipsTheMainLoopFaithfullyButNotTheStartUpDelay) {
    VirtualClock clock;
    SimDriver skipping{{1, SimBoot::Current, 0.0}, clock};
    SimDriver running{{1, SimBoot::Current, 0.0}, clock};
    Ezusb& a = skipping.board(0).chip();
    Ezusb& b = running.board(0).chip();
    ASSERT_EQ(a.cycles(), b.cycles());

    const std::uint64_t skipped = a.skipIdleLoop(kCyclesPerSecond);
    EXPECT_GT(skipped, kCyclesPerSecond * 9 / 10);
    (void)b.run(a.cycles() - b.cycles());
    ASSERT_EQ(a.cycles(), b.cycles());
    EXPECT_EQ(a.cpu().pc(), b.cpu().pc());
    for (unsigned i = 0; i < 256; ++i) {
        ASSERT_EQ(a.cpu().iram(static_cast<std::uint8_t>(i)),
                  b.cpu().iram(static_cast<std::uint8_t>(i)))
            << "iram " << i;
    }
    for (unsigned i = 0x80; i < 0x100; ++i) {
        ASSERT_EQ(a.cpu().sfrLatch(static_cast<std::uint8_t>(i)),
                  b.cpu().sfrLatch(static_cast<std::uint8_t>(i)))
            << "SFR " << i;
    }
    constexpr std::uint16_t kUsbFrameL = 0x7FD8, kUsbIrq = 0x7FAB;
    EXPECT_EQ(a.peekXdata(kUsbFrameL), b.peekXdata(kUsbFrameL));
    EXPECT_EQ(a.peekXdata(kUsbIrq), b.peekXdata(kUsbIrq));

    Board fresh{SimBoot::Current, FirmwareImage()};
    (void)fresh.chip().run(10'000); // into the 1500 ms wait before reconnecting
    EXPECT_EQ(fresh.chip().skipIdleLoop(kCyclesPerSecond), 0u);
}

} // namespace
} // namespace pulsara::test
