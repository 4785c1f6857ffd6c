// The simulated board is unplugged at many points of connect, capture and read-out. The
// command line reports it and never waits past its timeouts; the window's cycle keeps
// the previous capture whole, and once the board is plugged in again the next START
// connects it again and captures.

#include "cli/board_session.h"
#include "device/capture_cycle.h"
#include "device/capture_protocol.h"
#include "device/driver_records.h"
#include "firmware/image.h"
#include "support/cable_cutter.h"
#include "support/sim_fixture.h"
#include "support/whole_capture.h"

#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>

namespace pulsara::test {
namespace {

constexpr int kPoints = 12;

struct Bench {
    VirtualClock clock;
    SimDriver sim{{1, SimBoot::Old, 0.0}, clock};
    TempDir dir;
    // Board time when the host first looks: the boards settle on the first touch.
    std::uint64_t start = sim.board(0).chip().cycles();
};

int CliCapture(Bench& bench, Capture& capture, std::string* err) {
    cli::BoardCaptureRequest request;
    request.output = bench.dir.path() / "x.wfa";
    request.lockDirectory = bench.dir.path();
    request.timeout = std::chrono::milliseconds(4000);
    std::ostringstream out, errors;
    const int status = cli::RunBoardCapture(bench.sim, capture, FirmwareImage(), request,
                                            bench.clock, out, errors);
    *err = errors.str();
    return status;
}

std::unique_ptr<Capture> PreviousCapture() {
    auto capture = std::make_unique<Capture>();
    capture->samples.fill(kPreviousFill);
    CounterSettings(capture->settings);
    return capture;
}

TEST(Unplug, CommandLineAtEveryStage) {
    Bench clean;
    std::string err;
    auto reference = PreviousCapture();
    ASSERT_EQ(CliCapture(clean, *reference, &err), 0) << err;
    const std::uint64_t span = clean.sim.board(0).chip().cycles() - clean.start;

    for (int p = 0; p < kPoints; ++p) {
        const std::uint64_t offset = span * static_cast<std::uint64_t>(p) / kPoints;
        SCOPED_TRACE("unplugged " + std::to_string(offset) + " cycles in");
        Bench bench;
        bench.sim.UnplugAt(0, bench.start + offset);
        auto capture = PreviousCapture();
        const auto began = bench.clock.Now();
        EXPECT_EQ(CliCapture(bench, *capture, &err), 1);
        // In program time: at most the wait for a reloaded board, then the capture's
        // timeout and one poll. Real time under the sanitizers is the test timeout's to cap.
        EXPECT_LE(bench.clock.Now() - began,
                  kReopenLimit + kReopenPause + std::chrono::milliseconds(4000 + 400));
        EXPECT_NE(err.find("pulsara-cli: "), std::string::npos) << err;
        EXPECT_FALSE(std::filesystem::exists(bench.dir.path() / "x.wfa"));
        EXPECT_TRUE(IsPreviousCapture(capture->samples));

        // Plugged in again, the board boots its old firmware and is reloaded as at first
        // (every fourth point: a reload is the slow part of these runs).
        if (p % 4 != 0) {
            continue;
        }
        bench.sim.Replug(0);
        ASSERT_EQ(CliCapture(bench, *capture, &err), 0) << err;
        EXPECT_TRUE(IsWholeCounterCapture(capture->samples, capture->settings.unfilledPairs));
    }
}

// The cable pulled during the wait, between the wait and the read-out, and during the
// read-out: the command line stops at once, with the driver's word for it, never blames
// the trigger, writes nothing and keeps the capture it held; the board captures once it
// is back.
TEST(Unplug, CommandLineDuringTheWaitTheReadOutAndBetween) {
    struct Case {
        const char* what;
        CutStage stage;
        double speed;
        std::int64_t unplugAfterMs;
        ComboSelections settings; // rate, position, condition, probe
        const char* says;
        std::chrono::milliseconds most; // program time from the start to the exit
    } cases[] = {
        // What `--sim-speed 1 --rate 1KHz --probe HDL --sim-unplug-after-ms 1500` does.
        {"wait, board time running",
         CutStage::Never,
         1.0,
         1500,
         {14, 0, 0, 15},
         "3 status queries in a row got no answer: the board stopped answering or left the bus",
         std::chrono::milliseconds(1500 + 4 * kPollIntervalMs)},
        // At 50 MHz bit 0 never changes between samples: the trigger never comes.
        {"wait, trigger never met",
         CutStage::Wait,
         0.0,
         -1,
         {1, 0, 0, 0},
         "3 status queries in a row got no answer: the board stopped answering or left the bus",
         std::chrono::milliseconds(5 * kPollIntervalMs)},
        {"between",
         CutStage::Between,
         0.0,
         -1,
         {0, 0, 0, 15},
         "the capture completed but reading it out of board instance 0 failed",
         std::chrono::milliseconds(kPollIntervalMs)},
        {"read-out",
         CutStage::ReadOut,
         0.0,
         -1,
         {0, 0, 0, 15},
         "the capture completed but reading it out of board instance 0 failed",
         std::chrono::milliseconds(kPollIntervalMs)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VirtualClock clock;
        SimDriver sim{{1, SimBoot::Current, c.speed, c.unplugAfterMs}, clock};
        CableCutter cutter{sim, c.stage};
        TempDir dir;
        cli::BoardCaptureRequest request;
        request.output = dir.path() / "x.wfa";
        request.lockDirectory = dir.path();
        if (c.speed == 0.0) {
            request.pollInterval = std::chrono::milliseconds(kPollIntervalMs);
        }
        auto capture = PreviousCapture();
        capture->settings.rateIndex = c.settings.rateIndex;
        capture->settings.triggerPosition = c.settings.triggerPosition;
        capture->settings.triggerCondition = c.settings.triggerCondition;
        capture->settings.triggerProbe = c.settings.triggerProbe;
        std::ostringstream out, errors;
        const int status =
            cli::RunBoardCapture(cutter, *capture, FirmwareImage(), request, clock, out, errors);
        const std::string err = errors.str();
        EXPECT_EQ(status, 1) << err;
        EXPECT_TRUE(c.stage == CutStage::Never || cutter.cut());
        EXPECT_NE(err.find(c.says), std::string::npos) << err;
        EXPECT_NE(err.find("(simulated board instance 0 is off the bus: its cable was pulled)"),
                  std::string::npos)
            << err;
        EXPECT_EQ(err.find("trigger condition"), std::string::npos) << err;
        EXPECT_LE(clock.now, c.most) << err;
        EXPECT_FALSE(std::filesystem::exists(request.output));
        EXPECT_FALSE(std::filesystem::exists(dir.path() / "x.wfd"));
        EXPECT_TRUE(IsPreviousCapture(capture->samples));

        if (c.speed != 0.0) {
            continue; // a 1 kHz capture on a running board takes 33 s of board time
        }
        sim.Replug(0);
        CounterSettings(capture->settings);
        ASSERT_EQ(cli::RunBoardCapture(sim, *capture, FirmwareImage(), request, clock, out, errors),
                  0)
            << errors.str();
        EXPECT_TRUE(IsWholeCounterCapture(capture->samples, capture->settings.unfilledPairs));
    }
}

TEST(Unplug, CaptureCycleReconnectsOnceTheBoardIsBack) {
    const auto prepare = [](Bench& bench, DeviceLink& link, CaptureCycle& cycle) {
        struct Quiet final : ConnectEvents {
            void ConnectFailed(std::string_view, const ConnectResult&) override {}
        } events;
        ASSERT_TRUE(ConnectAtStartup(link, FirmwareImage(), bench.clock, events).ok());
        cycle.reconnect = ConnectAgain(FirmwareImage(), bench.clock, nullptr);
    };
    const ComboSelections combos{0, 0, 0, 15};
    // Board time from after the connect to the end of one whole capture.
    std::uint64_t span = 0;
    {
        Bench bench;
        std::ostringstream messages;
        DeviceLink link{bench.sim, messages, bench.dir.path()};
        CaptureCycle cycle;
        prepare(bench, link, cycle);
        const std::uint64_t from = bench.sim.board(0).chip().cycles();
        auto capture = PreviousCapture();
        (void)StartStop(cycle, link, *capture, combos);
        ASSERT_TRUE(CaptureTick(cycle, link, *capture, 0).completed());
        span = bench.sim.board(0).chip().cycles() - from;
    }

    for (int p = 0; p < kPoints; ++p) {
        const std::uint64_t offset = span * static_cast<std::uint64_t>(p) / kPoints;
        SCOPED_TRACE("unplugged " + std::to_string(offset) + " cycles into the capture");
        Bench bench;
        std::ostringstream messages;
        DeviceLink link{bench.sim, messages, bench.dir.path()};
        CaptureCycle cycle;
        prepare(bench, link, cycle);
        bench.sim.UnplugAt(0, bench.sim.board(0).chip().cycles() + offset);
        auto capture = PreviousCapture();
        (void)StartStop(cycle, link, *capture, combos);
        TickResult tick;
        for (int i = 0; i < 5 && cycle.captureArmed == 1; ++i) {
            tick = CaptureTick(cycle, link, *capture, 0);
        }
        EXPECT_FALSE(tick.completed());
        EXPECT_TRUE(IsPreviousCapture(capture->samples));
        if (cycle.captureArmed == 1) {
            (void)StartStop(cycle, link, *capture, combos); // STOP
        }

        // Still gone: START says so and the next tick finds no answer.
        const StartStopResult gone = StartStop(cycle, link, *capture, combos);
        EXPECT_FALSE(gone.settingsSent);
        EXPECT_EQ(CaptureTick(cycle, link, *capture, 0).poll, PollResult::StatusFailed);
        (void)StartStop(cycle, link, *capture, combos); // STOP

        bench.sim.Replug(0);
        const StartStopResult back = StartStop(cycle, link, *capture, combos);
        EXPECT_TRUE(back.reconnected);
        EXPECT_TRUE(back.settingsSent);
        EXPECT_TRUE(CaptureTick(cycle, link, *capture, 0).completed());
        EXPECT_TRUE(IsWholeCounterCapture(capture->samples, capture->settings.unfilledPairs));
    }
}

// The cable between two calls and within one: a transfer the unplug falls into fails, and
// a handle from before a replug is dead even though the new board looks the same.
TEST(Unplug, TransfersAndHandlesAcrossTheCable) {
    Bench bench;
    std::ostringstream messages;
    DeviceLink link{bench.sim, messages, bench.dir.path()};
    struct Quiet final : ConnectEvents {
        void ConnectFailed(std::string_view, const ConnectResult&) override {}
    } events;
    ASSERT_TRUE(ConnectAtStartup(link, FirmwareImage(), bench.clock, events).ok());
    auto capture = PreviousCapture();
    ASSERT_TRUE(StartCapture(link, capture->settings));
    ASSERT_TRUE(BulkWrite(link, kCommandPipe, std::vector<std::uint8_t>{0x24}) == 0);
    std::vector<std::uint8_t> status(1);
    ASSERT_EQ(BulkRead(link, kReplyPipe, status), 1);
    ASSERT_TRUE(BulkWrite(link, kCommandPipe, std::vector<std::uint8_t>{0x66, 0, 0, 8}) == 0);

    // The first chunk shows what one costs; the cable goes during the second.
    const auto record = Encode(BulkTransferControl{kReplyPipe});
    std::vector<std::uint8_t> chunk(kBulkChunkBytes);
    Ezusb& chip = bench.sim.board(0).chip();
    const std::uint64_t before = chip.cycles();
    ASSERT_TRUE(bench.sim.IoControl(link.handle, IOCTL_EZUSB_BULK_READ, record, chunk).ok);
    const std::uint64_t perChunk = chip.cycles() - before;
    // A call that moves nothing shows the catch-up that comes before every transfer.
    const std::uint64_t idleFrom = chip.cycles();
    const auto noPipe = Encode(BulkTransferControl{99});
    EXPECT_FALSE(bench.sim.IoControl(link.handle, IOCTL_EZUSB_BULK_READ, noPipe, chunk).ok);
    const std::uint64_t catchUp = chip.cycles() - idleFrom;
    ASSERT_LT(catchUp, perChunk);
    bench.sim.UnplugAt(0, chip.cycles() + catchUp + (perChunk - catchUp) / 2);
    EXPECT_FALSE(bench.sim.IoControl(link.handle, IOCTL_EZUSB_BULK_READ, record, chunk).ok);
    EXPECT_EQ(bench.sim.Open(0), kInvalidHandle);

    bench.sim.Replug(0);
    const DriverHandle fresh = bench.sim.Open(0);
    ASSERT_NE(fresh, kInvalidHandle);
    const auto idle = std::vector<std::uint8_t>{0x10};
    const auto write = Encode(BulkTransferControl{kCommandPipe});
    std::vector<std::uint8_t> data = idle;
    EXPECT_FALSE(bench.sim.IoControl(link.handle, IOCTL_EZUSB_BULK_WRITE, write, data).ok);
    EXPECT_TRUE(bench.sim.IoControl(fresh, IOCTL_EZUSB_BULK_WRITE, write, data).ok);

    // A board that boots our firmware comes back exactly as it was, connect count and
    // all: only the replug itself tells the old handle from a new one.
    VirtualClock clock;
    SimDriver same{{1, SimBoot::Current, 0.0}, clock};
    const DriverHandle old = same.Open(0);
    ASSERT_NE(old, kInvalidHandle);
    same.Replug(0);
    EXPECT_FALSE(same.IoControl(old, IOCTL_EZUSB_BULK_WRITE, write, data).ok);
    EXPECT_TRUE(same.IoControl(same.Open(0), IOCTL_EZUSB_BULK_WRITE, write, data).ok);
}

} // namespace
} // namespace pulsara::test
