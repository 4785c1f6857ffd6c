// Skipping idle passes of the firmware's main loop must leave the chip exactly where
// running them would, and must not skip a loop that counts (the start-up delay).

#include "device/capture_protocol.h"
#include "device/firmware_loader.h"
#include "firmware/image.h"
#include "support/sim_fixture.h"

#include <array>
#include <sstream>

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

// A read-out the host left half-drained keeps the firmware busy: no pass repeats, so a long
// absence of the caller is caught up only in part instead of stalling it for seconds.
TEST(SimIdleSkip, BusyFirmwareCatchesUpAtMostFiveSecondsPerCall) {
    struct NoEvents final : ConnectEvents {
        void ConnectFailed(std::string_view, const ConnectResult&) override {}
    } events;
    VirtualClock clock;
    SimDriver sim{{1, SimBoot::Current, 1.0}, clock};
    TempDir locks;
    std::ostringstream messages;
    DeviceLink link{sim, messages, locks.path()};
    ASSERT_TRUE(ConnectAtStartup(link, FirmwareImage(), clock, events).ok());
    const std::uint8_t readOut[] = {0x66, 0x00, 0x00, 0x08};
    ASSERT_EQ(BulkWrite(link, kCommandPipe, readOut), 0);
    std::array<std::uint8_t, 64> packet{};
    ASSERT_EQ(BulkRead(link, kReplyPipe, packet), 64);

    const std::uint64_t before = sim.board(0).chip().cycles();
    clock.now += std::chrono::minutes(10);
    std::array<char, kStringTextSize> text{};
    EXPECT_EQ(GetStringDescriptor(link, 1, text), 0);
    const std::uint64_t caughtUp = sim.board(0).chip().cycles() - before;
    EXPECT_GE(caughtUp, 5 * kCyclesPerSecond);
    EXPECT_LT(caughtUp, 6 * kCyclesPerSecond);
}

} // namespace
} // namespace pulsara::test
