// LibusbDriver against simulated boards through the libusb stand-in: the real-board path
// byte for byte, and the errors real cables produce.

#include "capture_timing.h"
#include "cli/board_session.h"
#include "device/capture_cycle.h"
#include "device/firmware_loader.h"
#include "device/libusb_driver.h"
#include "firmware/image.h"
#include "libusb.h"
#include "sim/driver/sim_driver.h"
#include "standin_bus.h"
#include "support/connect_recorder.h"
#include "support/temp_dir.h"
#include "support/virtual_clock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>

namespace pulsara::test {
using namespace pulsara::sim;
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

struct UsbRig {
    TempDir locks;
    StandinBus bus;
    BusClock clock{bus};
    std::ostringstream messages;
    LibusbDriver driver{LibusbTimeouts{1000ms, 5000ms}};
    std::unique_ptr<DeviceLink> link = std::make_unique<DeviceLink>(driver, messages, locks.path());
    ConnectRecorder events;

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

    VirtualClock simClock;
    SimDriver sim{{.boards = 1, .boot = SimBoot::Old, .speed = 0.0}, simClock};
    std::ostringstream simMessages;
    DeviceLink simLink{sim, simMessages, usb->locks.path() / "sim"};
    std::filesystem::create_directory(simLink.lockDirectory);
    std::filesystem::permissions(simLink.lockDirectory, std::filesystem::perms::owner_all);
    ConnectRecorder simEvents;
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

// The kernel lets one open handle at a time hold an interface: another program's claim
// refuses the open with LIBUSB_ERROR_BUSY, and its close frees the board.
TEST(LibusbFaults, InterfaceHeldByAnotherProgram) {
    StandinBus bus;
    bus.Plug(SimBoot::Current);
    LibusbDriver other;
    const DriverHandle held = other.Open(0);
    ASSERT_NE(held, kInvalidHandle);
    LibusbDriver driver;
    EXPECT_EQ(driver.Open(0), kInvalidHandle);
    EXPECT_NE(driver.TakeError().find("LIBUSB_ERROR_BUSY"), std::string::npos);
    other.Close(held);
    const DriverHandle mine = driver.Open(0);
    EXPECT_NE(mine, kInvalidHandle);
    driver.Close(mine);
    EXPECT_EQ(bus.openHandles(), 0);
}

std::string Name(int error) {
    return error == 0 ? "" : libusb_error_name(error);
}

// Every failure a cable can cause during the connect (the board needs its firmware): the
// connect ends with the failure the user is shown, or goes through where the failure
// means nothing, and the libusb error is named.
TEST(LibusbFaults, EachConnectStepReportsWhatTheCableDid) {
    using C = StandinCall;
    // Control transfers of a reload: 1 and 2 the strings, 3 halt, 4 the image, 5 release.
    struct Case {
        const char* what;
        StandinFault fault;
        ConnectFailure failure;
        const char* printed;
        bool neverBack = false;
        SimBoot boot = SimBoot::Old;
    } cases[] = {
        {"release, status stage IO",
         {C::Control, 5, LIBUSB_ERROR_IO, 0, true},
         ConnectFailure::None,
         ""},
        {"release, board already gone",
         {C::Control, 5, LIBUSB_ERROR_NO_DEVICE, 0, true},
         ConnectFailure::None,
         ""},
        {"release times out",
         {C::Control, 5, LIBUSB_ERROR_TIMEOUT},
         ConnectFailure::Run,
         "i8051 run err.\n"},
        {"string 1 stalled", {C::Control, 1, LIBUSB_ERROR_PIPE}, ConnectFailure::Descriptor1, ""},
        {"unplugged at string 2",
         {C::Control, 2, LIBUSB_ERROR_NO_DEVICE, 0, false, true},
         ConnectFailure::Descriptor2,
         ""},
        {"halt fails", {C::Control, 3, LIBUSB_ERROR_IO}, ConnectFailure::Halt, "i8051 halt err.\n"},
        {"download times out",
         {C::Control, 4, LIBUSB_ERROR_TIMEOUT},
         ConnectFailure::Download,
         "usb dwnload err.\n"},
        {"no access", {C::Open, 1, LIBUSB_ERROR_ACCESS}, ConnectFailure::NoInstance, ""},
        {"never back after the load", {C::Open, 99, 0}, ConnectFailure::NotBack, "", true},
        // A blank chip stalls string requests: it cannot be identified, so it is not loaded.
        // (A fault due at the 99th open never comes; it names the error expected.)
        {"blank chip",
         {C::Open, 99, LIBUSB_ERROR_PIPE},
         ConnectFailure::Descriptor1,
         "",
         false,
         SimBoot::Blank},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UsbRig usb;
        usb.bus.Plug(c.boot);
        usb.bus.Inject(c.fault);
        usb.bus.RefuseEnumeration(c.neverBack);
        const auto result = usb.Connect();
        EXPECT_EQ(result.failure, c.failure) << ExplainConnectFailure(result);
        EXPECT_EQ(usb.messages.str(), c.printed);
        EXPECT_EQ(usb.events.failures.size(), c.failure == ConnectFailure::None ? 0U : 1U);
        // What the user is shown names what the cable did.
        if (c.failure != ConnectFailure::None && c.fault.error != 0) {
            ASSERT_EQ(usb.events.failures.size(), 1U);
            EXPECT_NE(usb.events.failures[0].find(Name(c.fault.error)), std::string::npos)
                << usb.events.failures[0];
        }
        // Bounded: the reopen gives up after 30 s of waiting, nothing waits longer.
        EXPECT_LE(usb.clock.Now(), c.neverBack ? 32000ms : 2000ms);
        if (c.failure == ConnectFailure::None) {
            EXPECT_TRUE(result.reloaded);
            Capture capture;
            CaptureCycle cycle;
            EXPECT_TRUE(StartStop(cycle, *usb.link, capture, kFastCapture).settingsSent);
            EXPECT_EQ(RunCycle(cycle, *usb.link, capture, usb.clock, 3),
                      std::vector<PollResult>{PollResult::Complete});
        }
        usb.link.reset();
        EXPECT_EQ(usb.bus.openHandles(), 0);
    }
}

// Failures during a capture: each poll says what happened, a failed read-out leaves the
// previous samples, and the cycle carries on or stops as the board allows.
TEST(LibusbFaults, EachCaptureStepReportsWhatTheCableDid) {
    using C = StandinCall;
    using P = PollResult;
    // After the start: writes 1 status query, 2 read-out, 3 count, 4 idle; reads 1 status,
    // 2-5 the four 32768-byte pieces, 6 the count.
    struct Case {
        const char* what;
        StandinFault fault;
        std::vector<PollResult> polls;
        bool kept; // the previous samples stay
        int most = 200;
    } cases[] = {
        {"status reply times out",
         {C::BulkIn, 1, LIBUSB_ERROR_TIMEOUT},
         {P::StatusFailed, P::Complete},
         false},
        {"status reply stalled",
         {C::BulkIn, 1, LIBUSB_ERROR_PIPE},
         {P::StatusFailed, P::Complete},
         false},
        {"read-out comes back short", {C::BulkIn, 3, 0, 640}, {P::ReadOutFailed}, true},
        {"read-out times out half-way",
         {C::BulkIn, 4, LIBUSB_ERROR_TIMEOUT, 16384},
         {P::ReadOutFailed},
         true},
        {"unplugged during the read-out",
         {C::BulkIn, 2, LIBUSB_ERROR_NO_DEVICE, 4096, false, true},
         {P::ReadOutFailed},
         true},
        {"unplugged at a status query",
         {C::BulkOut, 1, LIBUSB_ERROR_NO_DEVICE, 0, false, true},
         {P::StatusFailed, P::StatusFailed, P::StatusFailed},
         false,
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UsbRig usb;
        Board& board = usb.bus.Plug(SimBoot::Current);
        const auto connect = usb.Connect();
        ASSERT_TRUE(connect.ok());
        EXPECT_FALSE(connect.reloaded);
        Capture capture;
        capture.samples.fill(0x5A);
        CaptureCycle cycle;
        ASSERT_TRUE(StartStop(cycle, *usb.link, capture, kFastCapture).settingsSent);
        usb.bus.Inject(c.fault);
        std::vector<PollResult> polls;
        std::string reported; // what the first failed poll met
        for (int i = 0; i < c.most && cycle.captureArmed != 0; ++i) {
            usb.clock.SleepFor(std::chrono::milliseconds(kPollIntervalMs));
            polls.push_back(CaptureTick(cycle, *usb.link, capture, 0).poll);
            if (reported.empty()) {
                reported = usb.driver.TakeError();
            }
        }
        EXPECT_EQ(polls, c.polls);
        EXPECT_FALSE(usb.bus.FaultsLeft());
        // A short read is no libusb error: it shows only as a read-out that failed.
        EXPECT_NE(reported.find(Name(c.fault.error)), std::string::npos) << reported;
        if (c.kept) {
            EXPECT_TRUE(std::all_of(capture.samples.begin(), capture.samples.end(),
                                    [](std::uint8_t b) { return b == 0x5A; }));
        } else if (c.polls.back() == P::Complete) {
            EXPECT_EQ(std::memcmp(capture.samples.data(), board.logic().memory().data(),
                                  kSampleMemoryBytes),
                      0);
        }
    }
}

// The board unplugged during the wait, between the wait and the read-out, and during the
// read-out, under the window's cycle and under the command line: each ends by itself at
// once, names the libusb error, keeps the previous samples and (command line) writes
// nothing; the trigger is never blamed.
TEST(LibusbFaults, UnpluggedDuringTheWaitTheReadOutAndBetween) {
    using C = StandinCall;
    using P = PollResult;
    // Counted from the first poll: writes 1 status query, 2 read-out, ...; reads 1 status,
    // 2-5 the four pieces, 6 the count. The command line's start-up command and the three
    // writes of its start come before: four more writes.
    constexpr int kWritesBeforeThePolls = 4;
    struct Case {
        const char* what;
        ComboSelections settings;
        StandinFault fault;
        std::vector<PollResult> polls;
        const char* says;
    } cases[] = {
        {"during the wait",
         kSlowCapture,
         {C::BulkIn, 3, LIBUSB_ERROR_NO_DEVICE, 0, false, true},
         {P::NotComplete, P::NotComplete, P::StatusFailed, P::StatusFailed, P::StatusFailed},
         "3 status queries in a row got no answer: the board stopped answering or left the bus"},
        {"between the wait and the read-out",
         kFastCapture,
         {C::BulkOut, 2, LIBUSB_ERROR_NO_DEVICE, 0, false, true},
         {P::ReadOutFailed},
         "reading it out of board instance 0 failed or came back short"},
        {"during the read-out",
         kFastCapture,
         {C::BulkIn, 3, LIBUSB_ERROR_NO_DEVICE, 4096, false, true},
         {P::ReadOutFailed},
         "reading it out of board instance 0 failed or came back short"},
    };
    const auto kept = [](const Capture& capture) {
        return std::all_of(capture.samples.begin(), capture.samples.end(),
                           [](std::uint8_t b) { return b == 0x5A; });
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        {
            // The window's cycle: it disarms without a STOP.
            UsbRig usb;
            usb.bus.Plug(SimBoot::Current);
            ASSERT_TRUE(usb.Connect().ok());
            Capture capture;
            capture.samples.fill(0x5A);
            CaptureCycle cycle;
            ASSERT_TRUE(StartStop(cycle, *usb.link, capture, c.settings).settingsSent);
            usb.bus.Inject(c.fault);
            std::vector<PollResult> polls;
            std::string reported;
            bool lost = false;
            for (int i = 0; i < 10 && cycle.captureArmed != 0; ++i) {
                usb.clock.SleepFor(std::chrono::milliseconds(kPollIntervalMs));
                const TickResult tick = CaptureTick(cycle, *usb.link, capture, 0);
                polls.push_back(tick.poll);
                lost = tick.boardLost;
                reported += usb.driver.TakeError();
            }
            EXPECT_EQ(polls, c.polls);
            EXPECT_EQ(cycle.captureArmed, 0);
            EXPECT_EQ(lost, c.polls.back() == P::StatusFailed);
            EXPECT_NE(reported.find("LIBUSB_ERROR_NO_DEVICE"), std::string::npos) << reported;
            EXPECT_TRUE(kept(capture));
        }
        {
            // The command line.
            UsbRig usb;
            usb.bus.Plug(SimBoot::Current);
            StandinFault fault = c.fault;
            if (fault.call == C::BulkOut) {
                fault.nth += kWritesBeforeThePolls;
            }
            usb.bus.Inject(fault);
            auto capture = std::make_unique<Capture>();
            capture->samples.fill(0x5A);
            capture->settings.rateIndex = c.settings.rateIndex;
            capture->settings.triggerPosition = c.settings.triggerPosition;
            capture->settings.triggerCondition = c.settings.triggerCondition;
            capture->settings.triggerProbe = c.settings.triggerProbe;
            cli::BoardCaptureRequest request;
            request.output = usb.locks.path() / "x.wfa";
            request.lockDirectory = usb.locks.path();
            std::ostringstream out, err;
            EXPECT_EQ(cli::RunBoardCapture(usb.driver, *capture, FirmwareImage(), request,
                                           usb.clock, out, err),
                      1);
            const std::string text = err.str();
            EXPECT_FALSE(usb.bus.FaultsLeft());
            EXPECT_NE(text.find(c.says), std::string::npos) << text;
            EXPECT_NE(text.find("LIBUSB_ERROR_NO_DEVICE"), std::string::npos) << text;
            EXPECT_EQ(text.find("trigger condition"), std::string::npos) << text;
            EXPECT_LE(usb.clock.Now(), std::chrono::milliseconds(kPollIntervalMs *
                                                                 static_cast<int>(c.polls.size())));
            EXPECT_FALSE(std::filesystem::exists(request.output));
            EXPECT_TRUE(kept(*capture));
        }
    }
}

} // namespace
} // namespace pulsara::test
