// LibusbDriver and pulsara-cli as shipped, linked to the system's libusb-1.0, against a
// simulated board behind an emulated usbfs: enumeration through sysfs and udev, the usbfs
// ioctls, hotplug events, and the errors a board or cable can cause on that path.

#include "capture_timing.h"
#include "device/capture_cycle.h"
#include "device/firmware_loader.h"
#include "device/libusb_driver.h"
#include "firmware/image.h"
#include "sim/driver/sim_driver.h"
#include "support/connect_recorder.h"
#include "support/temp_dir.h"
#include "support/virtual_clock.h"
#include "usbfs_testbed.h"

#include <libusb.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <thread>

extern char** environ;

namespace pulsara::test {
using namespace pulsara::sim;
namespace {

using namespace std::chrono_literals;

// Program time is virtual; each sleep lets a little real time pass, so that libusb's
// hotplug thread sees the board leave and come back.
class HostClock final : public Clock {
public:
    std::chrono::milliseconds Now() override { return now; }
    void SleepFor(std::chrono::milliseconds d) override {
        now += d;
        std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(d, 20ms));
    }
    std::chrono::milliseconds now{0};
};

struct SimResult {
    std::uint64_t first = 0; // the phase of the first sample
    Capture capture;
};

// A 1 kHz capture at CENTER through SimDriver at speed 0, started `offset` cycles after the
// start of the signals' period.
SimResult SimCapture(const std::filesystem::path& locks, std::uint64_t offset) {
    VirtualClock clock;
    SimDriver sim{{.boards = 1, .boot = SimBoot::Old, .speed = 0.0}, clock};
    std::ostringstream messages;
    DeviceLink link{sim, messages, locks / "sim"};
    std::filesystem::create_directories(link.lockDirectory);
    std::filesystem::permissions(link.lockDirectory, std::filesystem::perms::owner_all);
    ConnectRecorder events;
    SimResult result;
    if (!ConnectAtStartup(link, FirmwareImage(), clock, events).ok()) {
        return result;
    }
    Ezusb& chip = sim.board(0).chip();
    sim.RunBoard(0, NextPatternStart(chip.cycles()) + offset - chip.cycles());
    CaptureCycle cycle;
    if (!StartStop(cycle, link, result.capture, kSlowCapture).settingsSent) {
        return result;
    }
    sim.RunBoard(0, kCyclesPerMs);
    result.first = FirstSampleCycle(sim.board(0)) % kPatternCycles;
    if (RunCycle(cycle, link, result.capture, clock, 20).back() != PollResult::Complete) {
        result.first = ~std::uint64_t{0};
    }
    return result;
}

struct CliRun {
    int status = -1; // exit status; -1 when it had to be killed
    std::string out;
    std::string err;
    std::chrono::milliseconds took{0};
};

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// pulsara-cli as built for users, in the testbed's environment (umockdev's preload and
// UMOCKDEV_DIR are inherited), with its lock files in `dir`. Killed after `limit`.
CliRun RunCli(const std::filesystem::path& dir, std::vector<std::string> args,
              std::chrono::seconds limit = 20s) {
    args.insert(args.begin(), PULSARA_CLI_PATH);
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        if (std::strncmp(*e, "XDG_RUNTIME_DIR=", 16) != 0) {
            env.emplace_back(*e);
        }
    }
    env.push_back("XDG_RUNTIME_DIR=" + dir.string());
    std::vector<char*> envp;
    for (auto& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    const auto outPath = dir / "cli.out";
    const auto errPath = dir / "cli.err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    CliRun run;
    const auto started = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        run.err = "cannot start " + args[0];
        return run;
    }
    int status = 0;
    for (;;) {
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            break;
        }
        if (std::chrono::steady_clock::now() - started > limit) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(10ms);
    }
    run.took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
    run.out = ReadAll(outPath);
    run.err = ReadAll(errPath);
    return run;
}

struct Host {
    TempDir locks;
    HostClock clock;
    std::ostringstream messages;
    LibusbDriver driver{LibusbTimeouts{200ms, 300ms}};
    std::unique_ptr<DeviceLink> link = std::make_unique<DeviceLink>(driver, messages, locks.path());
    ConnectRecorder events;

    ConnectResult Connect() { return ConnectAtStartup(*link, FirmwareImage(), clock, events); }
};

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(RealLibusb, ConnectWithReloadAndCaptureGiveTheSamplesOfTheSimDriver) {
    UsbfsTestbed bed;
    bed.Plug(SimBoot::Old);
    Host usb;
    ASSERT_EQ(usb.driver.initError(), "");
    ASSERT_EQ(usb.driver.CountInstances(), 1);
    EXPECT_EQ(usb.driver.DescribeInstance(0), "USB ID 0547:2131, bus 001 port 1, address 002");
    const auto connect = usb.Connect();
    ASSERT_TRUE(connect.ok()) << ExplainConnectFailure(connect) << usb.driver.TakeError();
    EXPECT_TRUE(connect.reloaded);
    EXPECT_EQ(bed.enumerations(), 2) << "the board re-enumerated after its firmware load";
    EXPECT_EQ(usb.driver.DescribeInstance(0), "USB ID 0547:2131, bus 001 port 1, address 003");
    const auto log = bed.log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "control 40 A0 0000 len 4096 -> 0 moved 4096"), 1);
    std::array<char, kStringTextSize> product{};
    ASSERT_EQ(GetStringDescriptor(*usb.link, 2, product), 0);
    EXPECT_STREQ(product.data(), "V100") << "the board is back with its new descriptors";

    // The usbfs board starts when it starts; the simulated board is then started at the
    // same moment of the signals' period (its delay from start to first sample measured on
    // a first board), so both sample the same signals.
    Capture viaUsb;
    CaptureCycle usbCycle;
    ASSERT_TRUE(StartStop(usbCycle, *usb.link, viaUsb, kSlowCapture).settingsSent);
    bed.RunTo(bed.board().chip().cycles() + kCyclesPerMs);
    const std::uint64_t usbFirst = FirstSampleCycle(bed.board()) % kPatternCycles;
    const auto probe = SimCapture(usb.locks.path(), 0);
    const std::uint64_t simLead = probe.first;
    const auto sim =
        SimCapture(usb.locks.path(), (usbFirst + kPatternCycles - simLead) % kPatternCycles);
    ASSERT_EQ(sim.first, usbFirst);
    ASSERT_EQ(RunCycle(usbCycle, *usb.link, viaUsb, usb.clock, 20).back(), PollResult::Complete);
    const Capture& viaSim = sim.capture;
    EXPECT_EQ(viaUsb.settings.unfilledPairs, 8189);
    EXPECT_EQ(viaUsb.settings.unfilledPairs, viaSim.settings.unfilledPairs);
    const auto firstDifference = [&] {
        for (std::size_t i = 0; i < viaUsb.samples.size(); ++i) {
            if (viaUsb.samples[i] != viaSim.samples[i]) {
                return static_cast<long>(i / 4);
            }
        }
        return -1L;
    };
    EXPECT_EQ(firstDifference(), -1) << "the two paths differ from this sample on";
    const auto& memory = bed.board().logic().memory();
    for (std::size_t i = 16378; i < kLogicSamples; ++i) {
        std::uint32_t sample = 0;
        std::memcpy(&sample, &viaUsb.samples[4 * i], 4);
        ASSERT_EQ(sample, memory[i]) << "sample " << i;
    }
    EXPECT_EQ(bed.unknownIoctls(), std::vector<std::string>{});
}

std::string Name(int error) {
    return error == 0 ? "" : libusb_error_name(error);
}

// Every failure a board or cable can cause during the connect (the board needs its
// firmware): the connect ends with the failure the user is shown, naming the libusb error
// and the device, or goes through where the failure means nothing.
TEST(RealLibusbFaults, EachConnectStepReportsWhatTheBoardOrCableDid) {
    using K = UrbKind;
    using T = UrbFault::Then;
    // Control transfers of a reload: 1 and 2 the strings, 3 halt, 4 the image, 5 release.
    struct Case {
        const char* what;
        UrbFault fault;
        ConnectFailure failure;
        int error;
        const char* printed;
        bool neverBack = false;
        SimBoot boot = SimBoot::Old;
    } cases[] = {
        {"release, status stage lost", {K::Control, 5, T::Lost}, ConnectFailure::None, 0, ""},
        {"release times out",
         {K::Control, 5, T::Hang},
         ConnectFailure::Run,
         LIBUSB_ERROR_TIMEOUT,
         "i8051 run err.\n"},
        {"string 1 stalled",
         {K::Control, 1, T::Stall},
         ConnectFailure::Descriptor1,
         LIBUSB_ERROR_PIPE,
         ""},
        {"string 1 babbles",
         {K::Control, 1, T::Babble},
         ConnectFailure::Descriptor1,
         LIBUSB_ERROR_OVERFLOW,
         ""},
        {"string 2 of a wrong length: taken as other firmware",
         {K::Control, 2, T::Garbage, 7},
         ConnectFailure::None,
         0,
         ""},
        {"string 1 empty: taken as other firmware",
         {K::Control, 1, T::Short, 0},
         ConnectFailure::None,
         0,
         ""},
        {"unplugged at string 2",
         {K::Control, 2, T::Unplug},
         ConnectFailure::Descriptor2,
         LIBUSB_ERROR_NO_DEVICE,
         ""},
        {"halt fails",
         {K::Control, 3, T::Stall},
         ConnectFailure::Halt,
         LIBUSB_ERROR_PIPE,
         "i8051 halt err.\n"},
        {"download times out",
         {K::Control, 4, T::Hang},
         ConnectFailure::Download,
         LIBUSB_ERROR_TIMEOUT,
         "usb dwnload err.\n"},
        {"unplugged during the download",
         {K::Control, 4, T::Unplug},
         ConnectFailure::Download,
         LIBUSB_ERROR_NO_DEVICE,
         "usb dwnload err.\n"},
        {"never back after the load", {K::Control, 99}, ConnectFailure::NotBack, 0, "", true},
        // A blank chip stalls string requests: it cannot be identified, so it is not loaded.
        {"blank chip",
         {K::Control, 99},
         ConnectFailure::Descriptor1,
         LIBUSB_ERROR_PIPE,
         "",
         false,
         SimBoot::Blank},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UsbfsTestbed bed;
        bed.Plug(c.boot);
        bed.Inject(c.fault);
        bed.RefuseEnumeration(c.neverBack);
        Host usb;
        const auto started = std::chrono::steady_clock::now();
        const auto result = usb.Connect();
        // Never a hang: far below the test's own time limit, even under the sanitizers.
        EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
        EXPECT_EQ(result.failure, c.failure) << ExplainConnectFailure(result);
        EXPECT_EQ(usb.messages.str(), c.printed);
        EXPECT_EQ(usb.events.failures.size(), c.failure == ConnectFailure::None ? 0U : 1U);
        // What the user is shown names what happened, and where.
        if (c.error != 0 && usb.events.failures.size() == 1) {
            const std::string& shown = usb.events.failures[0];
            EXPECT_TRUE(Contains(shown, Name(c.error))) << shown;
            EXPECT_TRUE(Contains(shown, "the board at bus 001 port 1, address 002")) << shown;
        }
        EXPECT_LE(usb.clock.Now(), c.neverBack ? 32000ms : 2000ms);
        if (c.failure == ConnectFailure::None) {
            EXPECT_TRUE(result.reloaded);
            Capture capture;
            CaptureCycle cycle;
            EXPECT_TRUE(StartStop(cycle, *usb.link, capture, kFastCapture).settingsSent);
            EXPECT_EQ(RunCycle(cycle, *usb.link, capture, usb.clock, 3),
                      std::vector<PollResult>{PollResult::Complete});
        }
    }
}

// What sysfs says about the board may be wrong (a device whose descriptors came back
// short or with a wrong total length): the board is left out or refused with the reason,
// never half-used.
TEST(RealLibusbFaults, BadDescriptorsInSysfs) {
    struct Case {
        const char* what;
        SysfsQuirk quirk;
        int instances;
        bool captures;     // libusb read what was there, and it was enough
        const char* error; // part of what the failure reports
    } cases[] = {
        {"device descriptor cut", {.descriptorsCut = 12}, 0, false, ""},
        {"configuration cut",
         {.descriptorsCut = 18 + 12},
         1,
         false,
         "bulk transfer refused (the board at bus 001 port 1, address 002): no pipe"},
        {"total length too short",
         {.configLength = 9},
         1,
         false,
         "bulk transfer refused (the board at bus 001 port 1, address 002): no pipe"},
        {"total length too long", {.configLength = 400}, 1, true, ""},
        {"not configured yet: configuration 1 is chosen", {.unconfigured = true}, 1, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UsbfsTestbed bed;
        bed.SetQuirk(c.quirk);
        bed.Plug(SimBoot::Current);
        Host usb;
        EXPECT_EQ(usb.driver.CountInstances(), c.instances);
        const auto result = usb.Connect();
        if (c.instances == 0) {
            EXPECT_EQ(result.failure, ConnectFailure::NoInstance);
            continue;
        }
        ASSERT_TRUE(result.ok()) << ExplainConnectFailure(result);
        (void)usb.driver.TakeError(); // the start-up command's
        Capture capture;
        CaptureCycle cycle;
        const bool sent = StartStop(cycle, *usb.link, capture, kFastCapture).settingsSent;
        EXPECT_EQ(sent, c.captures);
        const auto log = bed.log();
        EXPECT_EQ(std::count(log.begin(), log.end(), "set configuration 1"),
                  c.quirk.unconfigured ? 1 : 0);
        if (c.captures) {
            EXPECT_EQ(RunCycle(cycle, *usb.link, capture, usb.clock, 3),
                      std::vector<PollResult>{PollResult::Complete});
        } else {
            const std::string error = usb.driver.TakeError();
            EXPECT_TRUE(Contains(error, c.error)) << error;
        }
    }
}

// Failures during a capture, served by the usbfs handler: each poll says what happened,
// the libusb error is named, a failed read-out leaves the previous samples, nothing hangs
// (a NAKing board costs the transfer's timeout, no more).
TEST(RealLibusbFaults, EachCaptureStepReportsWhatTheBoardOrCableDid) {
    using K = UrbKind;
    using T = UrbFault::Then;
    using P = PollResult;
    // After the start: bulk out 1 the status query, 2 the read-out command; bulk in 1 the
    // status reply, 2-5 the four 32768-byte pieces.
    struct Case {
        const char* what;
        UrbFault fault;
        int error; // the libusb error named, 0: none (a short transfer)
        std::vector<PollResult> polls;
        bool kept; // the previous samples stay
        int most = 20;
        // Without scatter-gather: each piece goes as two URBs of 16 KiB (bulk in 2-3 the
        // first piece, 4-5 the second, ...), the second a continuation of the first.
        bool split = false;
    } cases[] = {
        {"status reply times out",
         {K::BulkIn, 1, T::Hang},
         LIBUSB_ERROR_TIMEOUT,
         {P::StatusFailed, P::Complete},
         false},
        {"status reply stalled",
         {K::BulkIn, 1, T::Stall},
         LIBUSB_ERROR_PIPE,
         {P::StatusFailed, P::Complete},
         false},
        {"status reply babbles",
         {K::BulkIn, 1, T::Babble},
         LIBUSB_ERROR_OVERFLOW,
         {P::StatusFailed, P::Complete},
         false},
        {"read-out comes back short", {K::BulkIn, 3, T::Short, 640}, 0, {P::ReadOutFailed}, true},
        {"read-out ends in a zero-length packet",
         {K::BulkIn, 2, T::Short, 0},
         0,
         {P::ReadOutFailed},
         true},
        {"read-out times out half-way",
         {K::BulkIn, 4, T::Hang, 16384},
         LIBUSB_ERROR_TIMEOUT,
         {P::ReadOutFailed},
         true},
        {"read-out stalls",
         {K::BulkIn, 5, T::Stall, 128},
         LIBUSB_ERROR_PIPE,
         {P::ReadOutFailed},
         true},
        {"unplugged during the read-out",
         {K::BulkIn, 2, T::Unplug, 4096},
         LIBUSB_ERROR_NO_DEVICE,
         {P::ReadOutFailed},
         true},
        {"unplugged at a status query",
         {K::BulkOut, 1, T::Unplug},
         LIBUSB_ERROR_NO_DEVICE,
         {P::StatusFailed, P::StatusFailed, P::StatusFailed},
         false,
         3},
        {"status query times out",
         {K::BulkOut, 1, T::Hang},
         LIBUSB_ERROR_TIMEOUT,
         {P::StatusFailed, P::Complete},
         false},
        {"split read-out short in a first half",
         {K::BulkIn, 2, T::Short, 640},
         0,
         {P::ReadOutFailed},
         true,
         20,
         true},
        {"split read-out short in a second half",
         {K::BulkIn, 5, T::Short, 640},
         0,
         {P::ReadOutFailed},
         true,
         20,
         true},
        {"split read-out stalls in a first half",
         {K::BulkIn, 4, T::Stall, 64},
         LIBUSB_ERROR_PIPE,
         {P::ReadOutFailed},
         true,
         20,
         true},
        {"split read-out times out in a second half",
         {K::BulkIn, 3, T::Hang, 8192},
         LIBUSB_ERROR_TIMEOUT,
         {P::ReadOutFailed},
         true,
         20,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UsbfsTestbed bed;
        bed.SetScatterGather(!c.split);
        bed.Plug(SimBoot::Current);
        Host usb;
        const auto connect = usb.Connect();
        ASSERT_TRUE(connect.ok()) << ExplainConnectFailure(connect);
        EXPECT_FALSE(connect.reloaded);
        Capture capture;
        capture.samples.fill(0x5A);
        CaptureCycle cycle;
        ASSERT_TRUE(StartStop(cycle, *usb.link, capture, kFastCapture).settingsSent);
        bed.Inject(c.fault);
        std::vector<PollResult> polls;
        std::string reported; // what the first failed poll met
        const auto started = std::chrono::steady_clock::now();
        for (int i = 0; i < c.most && cycle.captureArmed != 0; ++i) {
            usb.clock.SleepFor(std::chrono::milliseconds(kPollIntervalMs));
            polls.push_back(CaptureTick(cycle, *usb.link, capture, 0).poll);
            if (reported.empty()) {
                reported = usb.driver.TakeError();
            }
        }
        // Never a hang: far below the test's own time limit, even under the sanitizers.
        EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
        EXPECT_EQ(polls, c.polls);
        EXPECT_FALSE(bed.FaultsLeft());
        const auto log = bed.log();
        EXPECT_EQ(std::any_of(log.begin(), log.end(),
                              [](const std::string& l) { return Contains(l, "len 16384"); }),
                  c.split);
        if (c.error != 0) {
            EXPECT_TRUE(Contains(reported, Name(c.error))) << reported;
        }
        if (c.kept) {
            EXPECT_TRUE(std::all_of(capture.samples.begin(), capture.samples.end(),
                                    [](std::uint8_t b) { return b == 0x5A; }));
        }
        // A board still on the bus captures again at the next START, nothing of the failed
        // read-out left in its pipe.
        bool complete = c.polls.back() == P::Complete;
        if (c.polls.back() == P::ReadOutFailed && c.fault.then != T::Unplug) {
            ASSERT_TRUE(StartStop(cycle, *usb.link, capture, kFastCapture).settingsSent);
            complete = RunCycle(cycle, *usb.link, capture, usb.clock, 3).back() == P::Complete;
            EXPECT_TRUE(complete) << "no capture after the failed read-out";
        }
        if (complete) {
            EXPECT_EQ(std::memcmp(capture.samples.data(), bed.board().logic().memory().data(),
                                  kSampleMemoryBytes),
                      0);
        }
    }
}

// The cable pulled while the program waits for the capture, then plugged in again: the
// polls fail naming the vanished device, the next START finds the board gone, connects it
// again (the new board needs its firmware) and captures.
TEST(RealLibusbFaults, UnplugDuringTheWaitThenReplug) {
    UsbfsTestbed bed;
    bed.Plug(SimBoot::Old);
    Host usb;
    ASSERT_TRUE(usb.Connect().ok());
    Capture capture;
    CaptureCycle cycle;
    cycle.reconnect = ConnectAgain(FirmwareImage(), usb.clock, &usb.events);
    ASSERT_TRUE(StartStop(cycle, *usb.link, capture, kSlowCapture).settingsSent);
    bed.Unplug();
    usb.clock.SleepFor(std::chrono::milliseconds(kPollIntervalMs));
    EXPECT_EQ(CaptureTick(cycle, *usb.link, capture, 0).poll, PollResult::StatusFailed);
    EXPECT_TRUE(Contains(usb.driver.TakeError(), "LIBUSB_ERROR_NO_DEVICE"));
    EXPECT_EQ(usb.driver.CountInstances(), 0);

    bed.Replug();
    (void)StartStop(cycle, *usb.link, capture, kSlowCapture); // disarms
    const auto restart = StartStop(cycle, *usb.link, capture, kSlowCapture);
    EXPECT_TRUE(restart.reconnected);
    ASSERT_TRUE(restart.settingsSent);
    EXPECT_EQ(bed.enumerations(), 4) << "plugged, reloaded, replugged, reloaded";
    EXPECT_EQ(RunCycle(cycle, *usb.link, capture, usb.clock, 20).back(), PollResult::Complete);
    EXPECT_EQ(capture.settings.unfilledPairs, 8189);
}

// Another program holding the board's interface: the open is refused naming the board and
// LIBUSB_ERROR_BUSY, and goes through once the other lets go.
TEST(RealLibusbFaults, InterfaceHeldByAnotherProgram) {
    UsbfsTestbed bed;
    bed.Plug(SimBoot::Current);
    LibusbDriver other;
    const DriverHandle held = other.Open(0);
    ASSERT_NE(held, kInvalidHandle) << other.TakeError();
    LibusbDriver driver;
    EXPECT_EQ(driver.Open(0), kInvalidHandle);
    EXPECT_EQ(driver.TakeError(), "cannot claim interface 0 of the board at bus 001 port 1, "
                                  "address 002: LIBUSB_ERROR_BUSY (Resource busy)");
    other.Close(held);
    const DriverHandle mine = driver.Open(0);
    EXPECT_NE(mine, kInvalidHandle) << driver.TakeError();
    driver.Close(mine);
}

// pulsara-cli, the program users run, through the system's libusb: the board it lists, and
// a capture with the firmware reload that gives what --board sim gives.
TEST(RealLibusbCli, ListAndCaptureAsThroughTheSimulator) {
    UsbfsTestbed bed;
    bed.Plug(SimBoot::Old);
    TempDir dir;
    const CliRun list = RunCli(dir.path(), {"list", "--board", "usb"});
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.out,
              "usb (libusb, USB ID 0547:2131):\n"
              "  instance 0: USB ID 0547:2131, bus 001 port 1, address 002: other "
              "firmware (\"WFFW\" \"V099\"); the pulsara firmware is loaded at connect\n");

    const auto usbFile = dir.path() / "usb.wfa";
    const auto simFile = dir.path() / "sim.wfa";
    const std::vector<std::string> settings = {"--rate",      "1KHz",   "--position", "CENTER",
                                               "--condition", "rising", "--probe",    "HDL"};
    auto args = [&](std::vector<std::string> head, const std::filesystem::path& out) {
        head.insert(head.end(), settings.begin(), settings.end());
        head.insert(head.end(), {"--timeout", "5", "-o", out.string()});
        return head;
    };
    const CliRun usb = RunCli(dir.path(), args({"capture", "--board", "usb"}, usbFile));
    ASSERT_EQ(usb.status, 0) << usb.err;
    EXPECT_TRUE(Contains(usb.err, "(8189 unfilled sample pairs cleared)")) << usb.err;
    EXPECT_EQ(bed.enumerations(), 2) << "reloaded and back as a new device";
    const CliRun sim =
        RunCli(dir.path(), args({"capture", "--board", "sim", "--sim-speed", "0"}, simFile));
    ASSERT_EQ(sim.status, 0) << sim.err;
    EXPECT_TRUE(Contains(sim.err, "(8189 unfilled sample pairs cleared)")) << sim.err;

    const std::string viaUsb = ReadAll(usbFile);
    ASSERT_EQ(viaUsb.size(), kSampleMemoryBytes);
    EXPECT_EQ(ReadAll(simFile).size(), kSampleMemoryBytes);
    // What the board sampled, byte for byte (the unfilled half is cleared).
    const auto& memory = bed.board().logic().memory();
    EXPECT_EQ(std::memcmp(viaUsb.data() + 4 * 16378, memory.data() + 16378,
                          kSampleMemoryBytes - 4 * 16378),
              0);
    EXPECT_EQ(bed.unknownIoctls(), std::vector<std::string>{});
}

// pulsara-cli under faults on the usbfs path: each failure is reported naming the board
// and what libusb met, nothing is saved from a failed read-out, and it never waits out more
// than its --timeout.
TEST(RealLibusbCli, FailuresAreReportedNotWaitedOut) {
    using K = UrbKind;
    using T = UrbFault::Then;
    struct Case {
        const char* what;
        UrbFault fault;
        std::vector<std::string> said; // parts of stderr
    } cases[] = {
        {"unplugged during the read-out",
         {K::BulkIn, 2, T::Unplug, 4096},
         {"reading it out of board instance 0 failed or came back short",
          "(the board at bus 001 port 1, address 002): LIBUSB_ERROR_NO_DEVICE",
          "nothing was saved"}},
        {"read-out ends in a zero-length packet",
         {K::BulkIn, 3, T::Short, 0},
         {"reading it out of board instance 0 failed or came back short", "nothing was saved"}},
        {"unplugged while waiting: no status query answered",
         {K::BulkOut, 1, T::Unplug},
         {"status queries in a row got no answer", "left the bus", "LIBUSB_ERROR_NO_DEVICE",
          "nothing was saved"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UsbfsTestbed bed;
        bed.Plug(SimBoot::Current);
        // Four writes go before the first status query: the start-up command and the start.
        UrbFault fault = c.fault;
        if (fault.urb == K::BulkOut) {
            fault.nth += 4;
        }
        bed.Inject(fault);
        TempDir dir;
        const auto file = dir.path() / "x.wfa";
        const CliRun run = RunCli(dir.path(), {"capture", "--board", "usb", "--rate", "100MHz",
                                               "--timeout", "1", "-o", file.string()});
        EXPECT_EQ(run.status, 1) << run.err;
        for (const auto& part : c.said) {
            EXPECT_TRUE(Contains(run.err, part)) << part << " not in:\n" << run.err;
        }
        EXPECT_FALSE(std::filesystem::exists(file));
        EXPECT_LT(run.took, 20s);
    }
}

} // namespace
} // namespace pulsara::test
