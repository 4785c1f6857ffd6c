// pulsara-cli export and import as a user runs them, and a capture from the simulated board
// decoded by sigrok-cli from the exported session file.

#include "sim/board/signal_generator.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace pulsara {
using namespace sim;
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

using test::TempDir;

struct Run {
    int status = -1;
    std::string out; // standard output and error together
};

// Runs a shell command in dir, with dir as the lock folder for board claims.
Run Shell(const fs::path& dir, const std::string& command) {
    const std::string line = "cd '" + dir.string() + "' && XDG_RUNTIME_DIR='" + dir.string() +
                             "' " + command + " >out.txt 2>&1";
    const int raw = std::system(line.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadAll(dir / "out.txt")};
}

Run Cli(const fs::path& dir, const std::string& args) {
    return Shell(dir, "'" PULSARA_CLI "' " + args);
}

bool HaveSigrok() {
    return std::system("command -v sigrok-cli >/dev/null 2>&1") == 0;
}

struct Case {
    const char* name;
    std::string args;
    int status;
    const char* saying;
};

TEST(CliInterop, BadRequestsSayWhatIsWrongAndWriteNothing) {
    TempDir dir;
    std::ofstream(dir.path() / "c.wfa", std::ios::binary) << std::string(131072, '\0');
    std::ofstream(dir.path() / "bad.vcd") << "$var wire 1 ! a $end\n$enddefinitions $end\n#0\n1?\n";
    std::ofstream(dir.path() / "t.txt") << "text";
    const std::string ghdl = "import '" PULSARA_IMPORT_CORPUS "/ghdl.vcd' -o o.wfa ";
    const std::string session = "import '" PULSARA_IMPORT_CORPUS "/sigrok-demo.sr' -o o.wfa ";
    // 105, 107 and 108 are CLI11's statuses for a value it refuses, a missing and an excluded
    // option.
    const std::vector<Case> cases = {
        {"no output named", "export c.wfa", 2, "needs --vcd OUT.vcd or --sr OUT.sr"},
        {"both outputs", "export c.wfa --vcd o.vcd --sr o.sr", 108, "excludes"},
        {"vectors without VCD", "export c.wfa --sr o.sr --vectors", 107, "requires --vcd"},
        {"missing capture", "export none.wfa --vcd o.vcd", 1, "none.wfa"},
        {"malformed VCD", "import bad.vcd -o o.wfa", 1, "bad.vcd\", line 4: identifier \"?\""},
        {"unknown format", "import t.txt -o o.wfa", 1, "imports VCD (.vcd) and sigrok session"},
        {"a signal the file lacks", ghdl + "--signals clk,nope", 1,
         "--signals names \"nope\", which the file does not declare"},
        {"a rate that is no clock", ghdl + "--rate EXT", 105, "--rate"},
        {"a rate for a session", session + "--rate 1MHz", 1,
         "--rate samples a VCD at another rate"},
        {"a channel the session lacks", session + "--signals D0,D9", 1,
         "--signals names \"D9\", which is no channel of the file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto run = Cli(dir.path(), c.args);
        EXPECT_EQ(run.status, c.status) << run.out;
        EXPECT_NE(run.out.find(c.saying), std::string::npos) << run.out;
        for (const char* file : {"o.vcd", "o.sr", "o.wfa", "o.wfd"}) {
            EXPECT_FALSE(fs::exists(dir.path() / file)) << file;
        }
    }
}

TEST(CliInterop, ImportPicksSignalsAndSamplesAtTheRateAsked) {
    // GHDL's 1 fs units: the file's 400 ns as 41 samples at 100MHz, its bus before its clock.
    TempDir dir;
    const auto run = Cli(dir.path(), "import '" PULSARA_IMPORT_CORPUS
                                     "/ghdl.vcd' --rate 100MHz --signals bus8,clk -o g.wfa");
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("warning: the file covers 41 samples"), std::string::npos) << run.out;
    EXPECT_EQ(ReadAll(dir.path() / "g.wfd"),
              "#SYSPARM\t0,0,0,0,0,-8190\r\nbus8\t0,1,2,3,4,5,6,7\r\nclk\t8\r\n");
    const auto samples = ReadAll(dir.path() / "g.wfa");
    ASSERT_EQ(samples.size(), 131072U);
    // bus8 and clk at 70, 140 and 150 ns: "X0000001" and 1, "00000010" and 0, "10000011"
    // and 1.
    const std::vector<std::pair<int, int>> expected = {{7, 0x101}, {14, 0x002}, {15, 0x183}};
    for (const auto& [sample, word] : expected) {
        const auto at = static_cast<std::size_t>(sample) * 4;
        EXPECT_EQ(static_cast<unsigned char>(samples[at]) |
                      (static_cast<unsigned char>(samples[at + 1]) << 8),
                  word)
            << sample;
    }
}

// The decoder's annotations, one per line as "uart-1: 70", as bytes.
std::string DecodedBytes(const std::string& out, const std::string& prefix) {
    std::string bytes;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        if (line.starts_with(prefix) && line.size() == prefix.size() + 2) {
            bytes += static_cast<char>(std::stoi(line.substr(prefix.size()), nullptr, 16));
        }
    }
    return bytes;
}

TEST(CliInterop, SimulatedBoardCaptureDecodesThroughSigrok) {
    if (!HaveSigrok()) {
        GTEST_SKIP() << "sigrok-cli is not installed (scripts/install-deps.sh installs it)";
    }
    TempDir dir;
    const auto capture = Cli(dir.path(), "capture --board sim --sim-boot current --sim-speed 0 "
                                         "--rate 10MHz -o x.wfa --def '" PULSARA_SIM_DEF "'");
    ASSERT_EQ(capture.status, 0) << capture.out;
    const auto exported = Cli(dir.path(), "export x.wfa --sr x.sr");
    ASSERT_EQ(exported.status, 0) << exported.out;

    // The session file comes back with the same samples.
    const auto imported = Cli(dir.path(), "import x.sr -o back.wfa");
    ASSERT_EQ(imported.status, 0) << imported.out;
    EXPECT_TRUE(ReadAll(dir.path() / "back.wfa") == ReadAll(dir.path() / "x.wfa"));

    // One frame is 1 ms and the capture 3.3 ms, so each message is there whole at least once.
    const auto uart = Shell(dir.path(), "sigrok-cli -i x.sr -P uart:rx=UART_TX:baudrate=" +
                                            std::to_string(kUartBaud) + " -A uart=rx-data");
    ASSERT_EQ(uart.status, 0) << uart.out;
    EXPECT_NE(DecodedBytes(uart.out, "uart-1: ").find(kUartText), std::string::npos) << uart.out;

    const std::string spi = "sigrok-cli -i x.sr -P spi:clk=SPI_SCK:mosi=SPI_MOSI:miso=SPI_MISO:"
                            "cs=SPI_CS#:cs_polarity=active-low -A spi=";
    const auto mosi = Shell(dir.path(), spi + "mosi-data");
    const auto miso = Shell(dir.path(), spi + "miso-data");
    EXPECT_NE(DecodedBytes(mosi.out, "spi-1: ")
                  .find(std::string(std::begin(kSpiMosiBytes), std::end(kSpiMosiBytes))),
              std::string::npos)
        << mosi.out;
    EXPECT_NE(DecodedBytes(miso.out, "spi-1: ")
                  .find(std::string(std::begin(kSpiMisoBytes), std::end(kSpiMisoBytes))),
              std::string::npos)
        << miso.out;

    const auto i2c = Shell(dir.path(), "sigrok-cli -i x.sr -P i2c:scl=I2C_SCL:sda=I2C_SDA "
                                       "-A i2c=address-write:data-write");
    std::ostringstream want;
    want << std::hex << std::uppercase << "i2c-1: Address write: " << int{kI2cAddress}
         << "\ni2c-1: Data write: " << int{kI2cBytes[0]}
         << "\ni2c-1: Data write: " << int{kI2cBytes[1]} << "\n";
    EXPECT_NE(i2c.out.find(want.str()), std::string::npos) << i2c.out;
}

} // namespace
} // namespace pulsara

namespace pulsara {
namespace {

// capture --until on the simulated board: probe 25's 2 us event comes once every 8 ms of
// board time, so a 100MHz capture (0.33 ms) holds it only now and then.
TEST(CliInterop, CaptureUntilKeepsTheFirstCaptureThatMatches) {
    TempDir dir;
    const std::string capture = "capture --board sim --sim-boot current --sim-speed 0 "
                                "--rate 100MHz --def '" PULSARA_SIM_DEF "' ";
    const struct {
        std::string until;
        int status;
        std::vector<std::string> saying;
    } cases[] = {
        {"--until '--signal 25 --pulse high' --tries 100",
         0,
         {"try 1 of 100: no match, capturing again", ": match at sample", "wrote u.wfa"}},
        {"--until '--signal 25 --pulse high --shorter 1us' --tries 3",
         1,
         {"try 2 of 3: no match, capturing again", "try 3 of 3: no match; no capture of the 3",
          "nothing was saved"}},
        {"--until '--signal NOPE --edge rising'", 2, {"--until: no row is named \"NOPE\""}},
        // Decoded text runs the decoders in the program pulsara-cli hands --until to.
        {"--until '-P uart:rx=UART_TX:baudrate=115200 -A uart=rx-data --text 70'",
         0,
         {" of 100: match at sample"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.until);
        std::error_code ec;
        fs::remove(dir.path() / "u.wfa", ec);
        const auto run = Cli(dir.path(), capture + c.until + " -o u.wfa");
        EXPECT_EQ(run.status, c.status) << run.out;
        for (const auto& text : c.saying) {
            EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << run.out;
        }
        EXPECT_EQ(fs::exists(dir.path() / "u.wfa"), c.status == 0);
        if (c.status != 0 || c.until.find("--signal 25") == std::string::npos) {
            continue;
        }
        // The saved capture holds the match, and opens with the view on it.
        const auto found = Cli(dir.path(), "find u.wfa --signal 25 --pulse high --first --json");
        ASSERT_EQ(found.status, 0) << found.out;
        const auto at = run.out.find(": match at sample ");
        const int start = std::stoi(run.out.substr(at + 18));
        EXPECT_NE(found.out.find("\"start\":" + std::to_string(start) + ","), std::string::npos)
            << found.out;
        const auto info = Cli(dir.path(), "info --json u.wfa");
        // ColumnToSample(32, h) == start, give or take the half a scroll unit.
        const int h = (start - 32 - 16380) / 2;
        EXPECT_NE(info.out.find("\"savedScrollPos\":" + std::to_string(h)), std::string::npos)
            << info.out;
    }
}

} // namespace
} // namespace pulsara
