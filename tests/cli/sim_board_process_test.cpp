// pulsara-cli on the simulated board as a separate process: a capture that passes the
// counter check, and a second program that finds the one board claimed and says so.

#include "device/firmware_loader.h"
#include "firmware/image.h"
#include "support/sim_fixture.h"

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <utility>
#include <vector>

namespace pulsara::test {
namespace {

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct CliRun {
    int status = -1;
    std::string out, err;
};

// Runs pulsara-cli in `dir` with its own lock directory for claims.
CliRun RunCli(const std::filesystem::path& dir, const std::string& args) {
    const std::string command = "cd '" + dir.string() + "' && XDG_RUNTIME_DIR='" + dir.string() +
                                "' '" PULSARA_CLI "' " + args + " >out.txt 2>err.txt";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadAll(dir / "out.txt"),
            ReadAll(dir / "err.txt")};
}

struct CliCase {
    const char* name;
    const char* args;
    bool boardHeldElsewhere;
    int status;
    const char* saying; // in stdout or stderr
    bool writesCapture;
};

void PrintTo(const CliCase& c, std::ostream* os) {
    *os << c.name;
}

class SimCli : public ::testing::TestWithParam<CliCase> {};

TEST_P(SimCli, RunsAsItsOwnProcess) {
    const CliCase& c = GetParam();
    TempDir dir;
    // This process stands for a first copy of pulsara, holding the one simulated board.
    ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    VirtualClock clock;
    SimDriver sim{{1, SimBoot::Current, 0.0}, clock};
    std::ostringstream messages;
    auto first = std::make_unique<DeviceLink>(sim, messages, SimLockDirectory());
    if (c.boardHeldElsewhere) {
        const auto connect = ConnectBoard(-1, *first, FirmwareImage(), kExpectedDescriptor1,
                                          kExpectedDescriptor2, clock);
        ASSERT_TRUE(connect.ok()) << ExplainConnectFailure(connect) << messages.str();
    }

    const CliRun run = RunCli(dir.path(), c.args);

    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE((run.out + run.err).find(c.saying), std::string::npos) << run.out << run.err;
    const std::string samples = ReadAll(dir.path() / "x.wfa");
    if (!c.writesCapture) {
        EXPECT_TRUE(samples.empty());
        return;
    }
    ASSERT_EQ(samples.size(), 131072u);
    // 100 MHz: the counter on probes 0-15 goes up by one from sample to sample.
    const auto word = [&](std::size_t i) {
        return static_cast<unsigned>(static_cast<unsigned char>(samples[4 * i]) |
                                     (static_cast<unsigned char>(samples[4 * i + 1]) << 8));
    };
    for (std::size_t i = 24; i + 1 < 32768; ++i) {
        ASSERT_EQ((word(i + 1) - word(i)) & 0xFFFF, 1u) << "sample " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, SimCli,
    ::testing::Values(
        CliCase{"CaptureAt100MHz",
                "capture --board sim --sim-boot current --sim-speed 0 --rate 100MHz --probe HDL "
                "-o x.wfa",
                false, 0, "capture complete (12 unfilled sample pairs cleared)", true},
        CliCase{"CaptureFindsNoFreeBoard",
                "capture --board sim --sim-boot current --sim-speed 0 -o x.wfa", true, 1,
                "No board could be opened", false},
        CliCase{"ListShowsTheClaim", "list --board sim --sim-boot current", true, 0,
                "instance 0: simulated board, boots our firmware from its EEPROM: in use by "
                "another copy of pulsara",
                false},
        CliCase{"ListShowsTheOldFirmware", "list --board sim --sim-boot old --sim-boards 2", false,
                0, "instance 1: simulated board, boots our firmware as \"V099\"", false}),
    [](const auto& info) { return std::string(info.param.name); });

// What the README promises: the probes carry traffic that a protocol decoder recognises.
TEST(SimSignals, DecodeWithSigrok) {
    if (std::system("command -v sigrok-cli >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "sigrok-cli is not installed";
    }
    TempDir dir;
    ASSERT_EQ(RunCli(dir.path(), "capture --board sim --sim-boot current --sim-speed 0 "
                                 "--rate 10MHz --probe HDL -o x.wfa")
                  .status,
              0);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"uart:rx=17:baudrate=115200 -A uart=rx-data", "70 75 6C 73 61 72 61 0D 0A"},
        {"spi:clk=18:mosi=19:miso=21:cs=20 -A spi=mosi-data", "9F 00 00 00"},
        {"spi:clk=18:mosi=19:miso=21:cs=20 -A spi=miso-data", "FF C2 20 18"},
        {"i2c:scl=22:sda=23 -A i2c=address-write:data-write", "50 10 42"},
    };
    for (const auto& [decoder, bytes] : cases) {
        const std::string command = "cd '" + dir.path().string() +
                                    "' && sigrok-cli -I binary:numchannels=32:samplerate=10000000 "
                                    "-i x.wfa -P " +
                                    decoder + " >decoded.txt 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << decoder;
        // "uart-1: 70" lines, then "Address write: 50" or "Data write: 10" lines.
        std::istringstream lines(ReadAll(dir.path() / "decoded.txt"));
        std::string line, values;
        while (std::getline(lines, line)) {
            values += (values.empty() ? "" : " ") + line.substr(line.rfind(' ') + 1);
        }
        EXPECT_NE(values.find(bytes), std::string::npos) << decoder << ": " << values;
    }
}

} // namespace
} // namespace pulsara::test
