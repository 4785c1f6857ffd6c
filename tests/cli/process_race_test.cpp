// Programs racing for boards: eight pulsara-cli captures started at once on three
// simulated boards, a claim holder killed half-way, and a board unplugged by option. Each
// claim is taken by exactly one process, the rest say why they got none, none hangs, a
// dead holder's board is free again at once, and a board gone is reported at once.

#include "cli/board_session.h"
#include "device/capture_protocol.h"
#include "firmware/image.h"
#include "support/sim_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace pulsara::test {
namespace {

using namespace std::chrono_literals;

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// pulsara-cli with `args`, in `dir`, its claims in `dir`, stdout and stderr to files.
pid_t Start(const std::filesystem::path& dir, const std::string& name,
            std::vector<std::string> args) {
    const pid_t pid = ::fork();
    if (pid != 0) {
        return pid;
    }
    if (::chdir(dir.c_str()) != 0) {
        ::_exit(126);
    }
    ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    const int out = ::open((name + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open((name + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out, 1);
    ::dup2(err, 2);
    std::vector<char*> argv{const_cast<char*>(PULSARA_CLI)};
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    ::execv(PULSARA_CLI, argv.data());
    ::_exit(127);
}

// The exit status, or -1 when the process is still running after `limit` (then killed).
int Wait(pid_t pid, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(20ms);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
}

std::vector<std::string> CaptureArgs(const std::string& output, const char* boards,
                                     const char* speed, const char* rate) {
    return {"capture",    "--board", "sim",         "--sim-boards", boards,
            "--sim-boot", "current", "--sim-speed", speed,          "--rate",
            rate,         "--probe", "HDL",         "-o",           output};
}

TEST(Processes, EightCapturesOnThreeBoards) {
    TempDir dir;
    std::vector<pid_t> pids;
    // 10 kHz at real speed: each capture holds its board for over three seconds, so all
    // eight meet.
    for (int i = 0; i < 8; ++i) {
        pids.push_back(Start(dir.path(), "p" + std::to_string(i),
                             CaptureArgs("p" + std::to_string(i) + ".wfa", "3", "1", "10KHz")));
    }
    int saved = 0;
    for (int i = 0; i < 8; ++i) {
        const int status = Wait(pids[static_cast<std::size_t>(i)], 60s);
        const std::string err = ReadFile(dir.path() / ("p" + std::to_string(i) + ".err"));
        ASSERT_NE(status, -1) << "process " << i << " hung: " << err;
        if (status == 0) {
            ++saved;
            EXPECT_EQ(ReadFile(dir.path() / ("p" + std::to_string(i) + ".wfa")).size(), 131072u);
        } else {
            EXPECT_EQ(status, 1) << err;
            EXPECT_NE(err.find("No board could be opened"), std::string::npos) << err;
        }
    }
    EXPECT_EQ(saved, 3);
}

TEST(Processes, KilledHolderFreesItsBoardAtOnce) {
    TempDir dir;
    // 1 kHz: the holder would wait 33 s for its capture.
    const pid_t holder = Start(dir.path(), "holder", CaptureArgs("h.wfa", "1", "1", "1KHz"));
    const auto end = std::chrono::steady_clock::now() + 30s;
    while (ReadFile(dir.path() / "holder.err").find("capture started") == std::string::npos) {
        ASSERT_LT(std::chrono::steady_clock::now(), end) << ReadFile(dir.path() / "holder.err");
        std::this_thread::sleep_for(20ms);
    }
    // While it lives, the board is taken.
    const pid_t early = Start(dir.path(), "early", CaptureArgs("e.wfa", "1", "0", "100MHz"));
    EXPECT_EQ(Wait(early, 30s), 1) << ReadFile(dir.path() / "early.err");

    ::kill(holder, SIGKILL);
    EXPECT_EQ(Wait(holder, 10s), -2);
    const pid_t next = Start(dir.path(), "next", CaptureArgs("n.wfa", "1", "0", "100MHz"));
    EXPECT_EQ(Wait(next, 30s), 0) << ReadFile(dir.path() / "next.err");
    EXPECT_EQ(ReadFile(dir.path() / "n.wfa").size(), 131072u);
}

// Board time, in ms from the board's first look, at which the command line at speed 0
// starts and ends its read-out: the same calls as the process makes, run here.
std::pair<double, double> ReadOutSpanMs() {
    class Watch final : public EzusbDriver {
    public:
        explicit Watch(SimDriver& sim) : sim_(sim) {}
        DriverHandle Open(int instance) override { return sim_.Open(instance); }
        void Close(DriverHandle handle) override { sim_.Close(handle); }
        IoResult IoControl(DriverHandle handle, std::uint32_t code,
                           std::span<const std::uint8_t> input,
                           std::span<std::uint8_t> output) override {
            const bool readOut =
                code == IOCTL_EZUSB_BULK_WRITE && output.size() == 4 && output[0] == 0x66;
            if (readOut) {
                begin = sim_.board(0).chip().cycles();
            }
            const IoResult result = sim_.IoControl(handle, code, input, output);
            if (code == IOCTL_EZUSB_BULK_READ && output.size() == kBulkChunkBytes) {
                end = sim_.board(0).chip().cycles();
            }
            return result;
        }
        std::uint64_t begin = 0;
        std::uint64_t end = 0;

    private:
        SimDriver& sim_;
    };
    VirtualClock clock;
    SimDriver sim{{1, SimBoot::Current, 0.0}, clock};
    const std::uint64_t firstLook = sim.board(0).chip().cycles();
    Watch watch{sim};
    TempDir dir;
    cli::BoardCaptureRequest request;
    request.output = dir.path() / "x.wfa";
    request.lockDirectory = dir.path();
    request.pollInterval = 10ms;
    auto capture = std::make_unique<Capture>();
    capture->settings.triggerProbe = 15; // 100 MHz, HDL: complete at the first poll
    std::ostringstream out, err;
    EXPECT_EQ(cli::RunBoardCapture(watch, *capture, FirmwareImage(), request, clock, out, err), 0)
        << err.str();
    const auto ms = [&](std::uint64_t cycle) {
        return static_cast<double>(cycle - firstLook) /
               static_cast<double>(kCyclesPerSecond / 1000);
    };
    return {ms(watch.begin), ms(watch.end)};
}

// The by-hand unplug: the board leaves the bus at the given board time, before the connect,
// during the wait or half-way through the read-out, and the capture says so at once, with
// the driver's word for it, instead of waiting out its timeout or blaming the trigger.
TEST(Processes, UnplugOptionPullsTheCable) {
    const auto [begin, end] = ReadOutSpanMs();
    ASSERT_GE(end - begin, 2.0) << "the read-out is too short to unplug in";
    const std::string readOut = std::to_string(static_cast<long>((begin + end) / 2));
    const std::string offBus = "(simulated board instance 0 is off the bus: its cable was pulled)";
    struct Case {
        const char* what;
        std::string after;
        const char* speed;
        const char* rate;
        int status;
        std::string saying;
    };
    const Case cases[] = {
        {"before the connect", "0", "0", "100MHz", 1, "No board could be opened"},
        {"never", "100000", "0", "100MHz", 0, "capture complete"},
        {"during the wait", "1500", "1", "1KHz", 1,
         "3 status queries in a row got no answer: the board stopped answering or left the bus " +
             offBus + "; nothing was saved"},
        {"during the read-out", readOut, "0", "100MHz", 1,
         "reading it out of board instance 0 failed or came back short " + offBus +
             "; nothing was saved"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        auto args = CaptureArgs("u.wfa", "1", c.speed, c.rate);
        args.insert(args.end(), {"--sim-unplug-after-ms", c.after, "--timeout", "60"});
        const auto started = std::chrono::steady_clock::now();
        const pid_t pid = Start(dir.path(), "u", args);
        EXPECT_EQ(Wait(pid, 30s), c.status) << c.after;
        const std::string err = ReadFile(dir.path() / "u.err");
        EXPECT_NE(err.find(c.saying), std::string::npos) << err;
        EXPECT_EQ(err.find("trigger condition"), std::string::npos) << err;
        // Nowhere near the 60 s timeout.
        EXPECT_LT(std::chrono::steady_clock::now() - started, 20s) << err;
        EXPECT_EQ(std::filesystem::exists(dir.path() / "u.wfa"), c.status == 0);
    }
}

} // namespace
} // namespace pulsara::test
