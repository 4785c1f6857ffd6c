// The exchange files checked by the tools that read them: sigrok-cli and GTKWave. Each test
// skips only when its tool is not installed (scripts/install-deps.sh installs them).

#include "capture/interop.h"

#include "interop_fixture.h"

#include <gtest/gtest.h>

#include <sstream>

namespace pulsara {
namespace {

using test::HaveTool;
using test::MakeCapture;
using test::Quote;
using test::RunTool;
using test::TempDir;

const std::string kRows = "#SYSPARM 5,1,0,0,3,0\r\nCLK\t0\r\nDATA\t1,2,3,4,5,6,7,8\r\nCS\t9\r\n"
                          "\x83\x66\x81\x5B\x83\x5E\t10\r\n";

struct Csv {
    std::vector<std::string> channels;
    std::vector<std::vector<int>> samples; // [sample][channel]
    std::string samplerate;
};

// sigrok-cli's CSV: comment lines (one names the channels), a "logic,..." line, then rows.
Csv ReadSigrokCsv(const std::string& text) {
    Csv csv;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.starts_with("; Channels")) {
            std::istringstream names(line.substr(line.find(':') + 1));
            std::string name;
            while (std::getline(names, name, ',')) {
                csv.channels.push_back(name.substr(name.find_first_not_of(' ')));
            }
        } else if (line.starts_with("; Samplerate: ")) {
            csv.samplerate = line.substr(14);
        } else if (!line.empty() && (line[0] == '0' || line[0] == '1')) {
            std::vector<int> row;
            for (std::size_t i = 0; i < line.size(); i += 2) {
                row.push_back(line[i] - '0');
            }
            csv.samples.push_back(std::move(row));
        }
    }
    return csv;
}

TEST(InteropTools, SigrokReadsEverySignalAtEverySample) {
    if (!HaveTool("sigrok-cli")) {
        GTEST_SKIP() << "sigrok-cli is not installed (scripts/install-deps.sh installs it)";
    }
    // VCD: one channel per probe of each row; .sr: the 32 probes, unshown ones as P<n>.
    const std::vector<std::string> vcdChannels = {"CLK",     "DATA[0]", "DATA[1]", "DATA[2]",
                                                  "DATA[3]", "DATA[4]", "DATA[5]", "DATA[6]",
                                                  "DATA[7]", "CS",      "___",     "TRIGGER"};
    const std::vector<int> vcdProbes = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, -1};
    auto capture = MakeCapture(kRows, 0xFFFFFFFFU, 3);
    TempDir dir;
    for (const bool vcd : {true, false}) {
        SCOPED_TRACE(vcd ? "VCD" : ".sr");
        const auto file = dir / (vcd ? "s.vcd" : "s.sr");
        ASSERT_TRUE((vcd ? ExportVcd(*capture, file) : ExportSr(*capture, file)).ok);
        const auto [out, status] = RunTool("sigrok-cli -i " + Quote(file) + " -O csv 2>&1");
        ASSERT_EQ(status, 0) << out;
        const auto csv = ReadSigrokCsv(out);
        ASSERT_EQ(csv.samples.size(), static_cast<std::size_t>(kSampleCount)) << out.substr(0, 400);
        if (vcd) {
            ASSERT_EQ(csv.channels, vcdChannels);
        } else {
            ASSERT_EQ(csv.channels.size(), 32U);
            EXPECT_EQ(csv.channels[0], "CLK");
            EXPECT_EQ(csv.channels[8], "DATA[7]");
            EXPECT_EQ(csv.channels[11], "P11");
            EXPECT_EQ(csv.samplerate, "10 MHz");
        }
        const int unfilled = 2 * capture->settings.unfilledPairs;
        for (int s = 0; s < kSampleCount; ++s) {
            const auto& row = csv.samples[static_cast<std::size_t>(s)];
            ASSERT_EQ(row.size(), csv.channels.size()) << s;
            for (std::size_t c = 0; c < row.size(); ++c) {
                const int probe = vcd ? vcdProbes[c] : static_cast<int>(c);
                // The trigger wire is 1 at the CENTER trigger sample alone.
                const int want = probe < 0
                                     ? (s == 16378 ? 1 : 0)
                                     : (s < unfilled ? 0 : SampleProbe(capture->samples, s, probe));
                ASSERT_EQ(row[c], want) << "sample " << s << ", channel " << csv.channels[c];
            }
        }
    }
}

TEST(InteropTools, SigrokReadsASessionFileWithoutARate) {
    if (!HaveTool("sigrok-cli")) {
        GTEST_SKIP() << "sigrok-cli is not installed (scripts/install-deps.sh installs it)";
    }
    // An external clock has no rate to store; sigrok-cli still reads every sample.
    auto capture = MakeCapture(kRows, 0xFFFFFFFFU, 4);
    capture->settings.rateIndex = 15;
    TempDir dir;
    ASSERT_TRUE(ExportSr(*capture, dir / "ext.sr").ok);
    const auto [out, status] = RunTool("sigrok-cli -i " + Quote(dir / "ext.sr") + " -O csv 2>&1");
    ASSERT_EQ(status, 0) << out;
    const auto csv = ReadSigrokCsv(out);
    EXPECT_TRUE(csv.samplerate.empty()) << csv.samplerate;
    EXPECT_EQ(csv.samples.size(), static_cast<std::size_t>(kSampleCount));
}

TEST(InteropTools, SigrokDemoCapturesImportWithTheirValues) {
    if (!HaveTool("sigrok-cli")) {
        GTEST_SKIP() << "sigrok-cli is not installed (scripts/install-deps.sh installs it)";
    }
    TempDir dir;
    const std::string demo =
        "sigrok-cli -d demo --samples 5000 --channels D0,D1,D2,D3,D4,D5,D6,D7 ";
    ASSERT_EQ(RunTool(demo + "-o " + Quote(dir / "demo.sr") + " 2>&1").second, 0);
    ASSERT_EQ(RunTool(demo + "-O vcd -o " + Quote(dir / "raw.vcd") + " 2>&1").second, 0);
    // sigrok-cli 0.7 may put a "META ..." line in front of the VCD; it is no part of it.
    ASSERT_EQ(
        RunTool("grep -v '^META ' " + Quote(dir / "raw.vcd") + " > " + Quote(dir / "demo.vcd"))
            .second,
        0);
    const auto [csvText, status] =
        RunTool("sigrok-cli -i " + Quote(dir / "demo.sr") + " -O csv 2>&1");
    ASSERT_EQ(status, 0) << csvText;
    const auto csv = ReadSigrokCsv(csvText);
    ASSERT_EQ(csv.samples.size(), 5000U);

    auto fromSr = std::make_unique<Capture>();
    const auto sr = ImportCapture(dir / "demo.sr", *fromSr);
    ASSERT_TRUE(sr.ok) << sr.error;
    EXPECT_EQ(sr.samplesCovered, 5000);
    auto fromVcd = std::make_unique<Capture>();
    const auto vcd = ImportCapture(dir / "demo.vcd", *fromVcd);
    ASSERT_TRUE(vcd.ok) << vcd.error;
    // 200 kHz in a 1 us time unit: five units a sample.
    EXPECT_EQ(vcd.samplesCovered, 25000);
    EXPECT_EQ(fromVcd->settings.rateIndex, 10);
    EXPECT_EQ(fromSr->settings.rateIndex, 15); // 200 kHz is none of the board's rates
    const std::vector<std::string> rows = {"D0:0", "D1:1", "D2:2", "D3:3",
                                           "D4:4", "D5:5", "D6:6", "D7:7"};
    EXPECT_EQ(test::RowsOf(*fromSr), rows);
    EXPECT_EQ(test::RowsOf(*fromVcd), rows);
    for (int s = 0; s < 5000; ++s) {
        for (int p = 0; p < 8; ++p) {
            const int want = csv.samples[static_cast<std::size_t>(s)][static_cast<std::size_t>(p)];
            ASSERT_EQ(SampleProbe(fromSr->samples, s, p), want) << s << " " << p;
            for (int k = 0; k < 5; ++k) {
                ASSERT_EQ(SampleProbe(fromVcd->samples, 5 * s + k, p), want) << s << " " << p;
            }
        }
    }
}

TEST(InteropTools, GtkwaveLoadsEverySignalOverTheWholeTimeWithoutWarnings) {
    if (!HaveTool("gtkwave") || !HaveTool("xvfb-run")) {
        GTEST_SKIP() << "gtkwave or xvfb-run is not installed (scripts/install-deps.sh installs "
                        "them)";
    }
    TempDir dir;
    test::WriteAll(dir / "check.tcl",
                   "set n [gtkwave::getNumFacs]\n"
                   "puts \"NUMFACS $n\"\n"
                   "for {set i 0} {$i < $n} {incr i} { puts \"FAC [gtkwave::getFacName $i]\" }\n"
                   "puts \"MINTIME [gtkwave::getMinTime] MAXTIME [gtkwave::getMaxTime]\"\n"
                   "gtkwave::/File/Quit\n");
    auto capture = MakeCapture(kRows, 0xFFFFFFFFU, 5);
    const auto file = dir / "g.vcd";
    ASSERT_TRUE(ExportVcd(*capture, file, VcdOptions{true}).ok);
    const auto [out, status] =
        RunTool("xvfb-run -a -s '-screen 0 1024x768x24' timeout 60 gtkwave -S " +
                Quote(dir / "check.tcl") + " " + Quote(file) + " 2>&1");
    ASSERT_EQ(status, 0) << out;
    for (const char* warning : {"Unknown VCD identifier", "backtracking", "malformed", "Near byte",
                                "WARNING", "Warning", "warning"}) {
        EXPECT_EQ(out.find(warning), std::string::npos) << out;
    }
    std::vector<std::string> facs;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        if (line.starts_with("FAC ")) {
            facs.push_back(line.substr(4));
        }
    }
    std::sort(facs.begin(), facs.end());
    std::vector<std::string> want = {"pulsara.CLK", "pulsara.CS", "pulsara.DATA[7:0]",
                                     "pulsara.TRIGGER", "pulsara.___"};
    for (int j = 0; j < 8; ++j) {
        want.push_back("pulsara.DATA[" + std::to_string(j) + "]");
    }
    std::sort(want.begin(), want.end());
    EXPECT_EQ(facs, want);
    // 32768 samples of 100 ns (10MHz), in nanoseconds.
    EXPECT_NE(out.find("MINTIME 0 MAXTIME 3276800"), std::string::npos) << out;
}

} // namespace
} // namespace pulsara
