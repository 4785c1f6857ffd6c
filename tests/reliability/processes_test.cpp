// Programs racing for boards: eight pulsara-cli captures started at once on three
// simulated boards, and a claim holder killed half-way. Each claim is taken by exactly one
// process, the rest say why they got none, none hangs, and a dead holder's board is free
// again at once.

#include "sim_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
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
    TempLockDir dir;
    std::vector<pid_t> pids;
    // 10 kHz at real speed: each capture holds its board for over three seconds, so all
    // eight meet.
    for (int i = 0; i < 8; ++i) {
        pids.push_back(Start(dir.path, "p" + std::to_string(i),
                             CaptureArgs("p" + std::to_string(i) + ".wfa", "3", "1", "10KHz")));
    }
    int saved = 0;
    for (int i = 0; i < 8; ++i) {
        const int status = Wait(pids[static_cast<std::size_t>(i)], 60s);
        const std::string err = ReadFile(dir.path / ("p" + std::to_string(i) + ".err"));
        ASSERT_NE(status, -1) << "process " << i << " hung: " << err;
        if (status == 0) {
            ++saved;
            EXPECT_EQ(ReadFile(dir.path / ("p" + std::to_string(i) + ".wfa")).size(), 131072u);
        } else {
            EXPECT_EQ(status, 1) << err;
            EXPECT_NE(err.find("No board could be opened"), std::string::npos) << err;
        }
    }
    EXPECT_EQ(saved, 3);
}

TEST(Processes, KilledHolderFreesItsBoardAtOnce) {
    TempLockDir dir;
    // 1 kHz: the holder would wait 33 s for its capture.
    const pid_t holder = Start(dir.path, "holder", CaptureArgs("h.wfa", "1", "1", "1KHz"));
    const auto end = std::chrono::steady_clock::now() + 30s;
    while (ReadFile(dir.path / "holder.err").find("capture started") == std::string::npos) {
        ASSERT_LT(std::chrono::steady_clock::now(), end) << ReadFile(dir.path / "holder.err");
        std::this_thread::sleep_for(20ms);
    }
    // While it lives, the board is taken.
    const pid_t early = Start(dir.path, "early", CaptureArgs("e.wfa", "1", "0", "100MHz"));
    EXPECT_EQ(Wait(early, 30s), 1) << ReadFile(dir.path / "early.err");

    ::kill(holder, SIGKILL);
    EXPECT_EQ(Wait(holder, 10s), -2);
    const pid_t next = Start(dir.path, "next", CaptureArgs("n.wfa", "1", "0", "100MHz"));
    EXPECT_EQ(Wait(next, 30s), 0) << ReadFile(dir.path / "next.err");
    EXPECT_EQ(ReadFile(dir.path / "n.wfa").size(), 131072u);
}

// The by-hand unplug: the board leaves the bus at the given board time, and the capture
// says so instead of waiting out its timeout.
TEST(Processes, UnplugOptionPullsTheCable) {
    struct Case {
        const char* after;
        int status;
        const char* saying;
    };
    const Case cases[] = {{"0", 1, "No board could be opened"}, {"100000", 0, "capture complete"}};
    for (const auto& c : cases) {
        TempLockDir dir;
        auto args = CaptureArgs("u.wfa", "1", "0", "100MHz");
        args.insert(args.end(), {"--sim-unplug-after-ms", c.after, "--timeout", "5"});
        const pid_t pid = Start(dir.path, "u", args);
        EXPECT_EQ(Wait(pid, 30s), c.status) << c.after;
        EXPECT_NE(ReadFile(dir.path / "u.err").find(c.saying), std::string::npos)
            << ReadFile(dir.path / "u.err");
    }
}

} // namespace
} // namespace pulsara::test
