#include "capture/interop.h"

#include "interop_fixture.h"
#include "zip_archive.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace pulsara {
namespace {

using test::MakeCapture;
using test::RowsOf;
using test::ShownProbes;
using test::TempDir;

// Rows that show probes 0, 1, 2, ... in order, so the probes come back as they were.
const std::string kBuses = "#SYSPARM 7,2,1,3,6,0\r\nCLK\t0\r\nDATA\t1,2,3,4,5,6,7,8\r\nCS\t9\r\n"
                           "ADDR\t10 11 12\r\n";

struct RoundTrip {
    const char* name;
    InteropFormat format;
    std::string definition;
    std::int32_t rate;
    bool vectors;
};

TEST(Interop, ExportThenImportGivesBackSamplesRowsAndSettings) {
    const std::string all = DefaultDefinitionText();
    const std::vector<RoundTrip> cases = {
        {"default rows at 100MHz", InteropFormat::Vcd, all, 0, false},
        {"default rows on the external clock", InteropFormat::Vcd, all, 15, false},
        {"buses at 3.84MHz (260 ns)", InteropFormat::Vcd, kBuses, 8, false},
        {"buses as vectors too at 1KHz (1 ms)", InteropFormat::Vcd, kBuses, 14, true},
        {"default rows at 16.6MHz", InteropFormat::Sr, all, 3, false},
        {"default rows on the external clock", InteropFormat::Sr, all, 15, false},
        {"buses at 2MHz", InteropFormat::Sr, kBuses, 9, false},
        {"rows named as unshown probes are", InteropFormat::Sr,
         "A\t0\r\nB\t1\r\nP2\t2\r\nP3\t3\r\n", 10, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const bool vcd = c.format == InteropFormat::Vcd;
        auto original = MakeCapture(c.definition, 0xFFFFFFFFU, 7);
        original->settings.rateIndex = c.rate;
        // The probes no row shows are in the .sr but not in the VCD.
        if (vcd) {
            original = MakeCapture(c.definition, ShownProbes(*original), 7);
            original->settings.rateIndex = c.rate;
        }
        TempDir dir;
        const auto file = dir / (vcd ? "x.vcd" : "x.sr");
        const auto exported =
            vcd ? ExportVcd(*original, file, VcdOptions{c.vectors}) : ExportSr(*original, file);
        ASSERT_TRUE(exported.ok) << exported.error;

        auto back = std::make_unique<Capture>();
        const auto imported = ImportCapture(file, *back);
        ASSERT_TRUE(imported.ok) << imported.error;
        EXPECT_TRUE(imported.warnings.empty()) << imported.warnings.front();
        EXPECT_EQ(imported.samplesCovered, kSampleCount);
        EXPECT_TRUE(back->samples == original->samples);
        EXPECT_EQ(RowsOf(*back), RowsOf(*original));
        EXPECT_EQ(back->settings.rateIndex, c.rate);
        // Only the VCD carries the trigger mark and the unfilled samples (as x).
        EXPECT_EQ(back->settings.triggerPosition, vcd ? original->settings.triggerPosition : 0);
        EXPECT_EQ(back->settings.unfilledPairs, vcd ? original->settings.unfilledPairs : 0);
    }
}

TEST(Interop, ExportNamesAreVcdSafeAndUnique) {
    // Shift-JIS bytes, a blank-free clash, the trigger's own name and a probe that does not
    // exist; the imported rows show what the files call them.
    const std::string definition = "\x83\x66\x81\x5B\x83\x5E\t0\r\nA\t1\r\nA\t2\r\nTRIGGER\t3\r\n"
                                   "BAD\t40\r\n";
    auto capture = MakeCapture(definition, 0xF);
    TempDir dir;
    const auto exported = ExportVcd(*capture, dir / "n.vcd");
    ASSERT_TRUE(exported.ok) << exported.error;
    ASSERT_EQ(exported.warnings.size(), 1U);
    EXPECT_NE(exported.warnings[0].find("probe 40"), std::string::npos);
    auto back = std::make_unique<Capture>();
    ASSERT_TRUE(ImportCapture(dir / "n.vcd", *back).ok);
    EXPECT_EQ(RowsOf(*back),
              (std::vector<std::string>{"___:0", "A:1", "A_2:2", "TRIGGER_2:3", "BAD:4"}));
    // The probe that does not exist reads as 0 all through.
    for (int s = 0; s < kSampleCount; ++s) {
        ASSERT_EQ(SampleProbe(back->samples, s, 4), 0) << s;
    }
}

struct Malformed {
    const char* name;
    std::string file;
    std::string message;
};

TEST(Interop, MalformedVcdIsAnErrorNamingTheLineAndChangesNothing) {
    const std::string head = "$timescale 10 ns $end\n$scope module m $end\n"
                             "$var wire 1 ! a $end\n$var wire 4 \" b [3:0] $end\n"
                             "$upscope $end\n$enddefinitions $end\n";
    const std::vector<Malformed> cases = {
        {"a tool's stray first line", "META samplerate: 1\n" + head, "line 1: \"META"},
        {"undeclared identifier", head + "#0\n1!\n#3\n1?\n", "line 10: identifier \"?\""},
        {"time going backwards", head + "#5\n1!\n#3\n", "line 9: time goes back from 5 to 3"},
        {"bad digit", head + "#0\nb1021 \"\n", "line 8: value \"1021\""},
        {"vector value too wide", head + "#0\nb10101 \"\n", "does not fit the 4-bit"},
        {"scalar value on a vector", head + "#0\n1\"\n", "line 8: value \"1\""},
        {"time that is no number", head + "#1x\n", "line 7: time \"#1x\""},
        {"only a real variable", "$var real 64 ! r $end\n$enddefinitions $end\n",
         "line 2: none of the file's signals can be read: r (real) holds no logic values"},
        {"only too wide a variable", "$var wire 40 ! w $end\n$enddefinitions $end\n",
         "none of the file's signals can be read: w (40 bits) does not fit the 32 probes"},
        {"width that is no number", "$var wire 4x ! w $end\n$enddefinitions $end\n",
         "line 1: variable \"w\" has width \"4x\""},
        {"real value on a logic variable", head + "#0\nr1.5 !\n", "line 8: value \"r1.5\""},
        {"no signals", "$timescale 1 ns $end\n$enddefinitions $end\n", "declares no signals"},
        {"unknown time unit", "$timescale 7 parsecs $end\n", "line 1: timescale \"7 parsecs\""},
        {"section left open", "$var wire 1 ! a\n", "line 1: $var is not closed by $end"},
        {"no end of definitions", "$var wire 1 ! a $end\n", "ends before $enddefinitions"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        test::WriteAll(dir / "bad.vcd", c.file);
        auto capture = MakeCapture(kBuses, 0xFF);
        const auto before = std::make_unique<Capture>(*capture);
        const auto result = ImportCapture(dir / "bad.vcd", *capture);
        EXPECT_FALSE(result.ok);
        EXPECT_NE(result.error.find(c.message), std::string::npos) << result.error;
        EXPECT_NE(result.error.find("bad.vcd"), std::string::npos) << result.error;
        EXPECT_TRUE(capture->samples == before->samples);
        EXPECT_EQ(RowsOf(*capture), RowsOf(*before));
    }
}

TEST(Interop, ForeignVcdMapsSignalsInDeclarationOrder) {
    // sigrok's layout (changes on the time stamp's line), a vector split into bits, a
    // second name for one identifier, a bit-select in the name and a file longer than
    // the memory.
    const std::string file = "$date today $end\n$timescale 1us $end\n"
                             "$scope module top $end\n$var wire 1 ! clk $end\n"
                             "$var reg 3 # nib [2:0] $end\n$var wire 1 % d [1] $end\n"
                             "$var wire 1 ! clk_alias $end\n$upscope $end\n$enddefinitions $end\n"
                             "#0 1! b1x #\n#2 0! b10 # 1%\n#4 z!\n#40000 1!\n";
    TempDir dir;
    test::WriteAll(dir / "f.vcd", file);
    auto capture = std::make_unique<Capture>();
    const auto result = ImportCapture(dir / "f.vcd", *capture);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(RowsOf(*capture),
              (std::vector<std::string>{"clk:0", "nib:1,2,3", "d[1]:4", "clk_alias:0"}));
    EXPECT_EQ(capture->settings.rateIndex, 10); // 1 us is the 1MHz period
    EXPECT_EQ(result.samplesCovered, kSampleCount);
    ASSERT_EQ(result.warnings.size(), 1U);
    EXPECT_NE(result.warnings[0].find("runs past 32768"), std::string::npos);
    // "b1x" left-extends with 0; x and z read as 0.
    const std::vector<std::uint32_t> expected = {0b00101, 0b00101, 0b10100, 0b10100, 0b10100};
    for (std::size_t s = 0; s < expected.size(); ++s) {
        EXPECT_EQ(SampleWord(capture->samples, static_cast<int>(s)), expected[s]) << s;
    }
    EXPECT_EQ(SampleWord(capture->samples, kSampleCount - 1), 0b10100U);
}

struct Timing {
    const char* name;
    std::string body; // after the header of 1-bit a (!), 1-bit event e (") and 2-bit v (#)
    int covered;
    std::vector<std::uint32_t> samples; // from sample 0; v in bits 2 and 3
    std::string warning;
};

TEST(Interop, VcdSamplesFollowTheTimeStamps) {
    const std::string head = "$timescale 1 us $end\n$scope module m $end\n"
                             "$var wire 1 ! a $end\n$var event 1 \" e $end\n"
                             "$var wire 2 # v [1:0] $end\n$upscope $end\n$enddefinitions $end\n";
    const std::vector<Timing> cases = {
        {"ends on a change without a closing time stamp",
         "#0\n0!\n#3\n1!\n",
         4,
         {0, 0, 0, 1},
         "covers 4 samples"},
        {"ends on a time stamp", "#0\n1!\n#3\n0!\n#5\n", 5, {1, 1, 1, 0, 0}, "covers 5 samples"},
        {"starts late, with values before the first time stamp",
         "$dumpvars 1! b10 # $end\n#7\n"
         "0!\n#9\n",
         2,
         {0b1000, 0b1000},
         "starts at #7"},
        {"an event is one sample at each of its times",
         "#0\n1!\n1\"\n#2\n1\"\n#3\n#5\n1\"\n",
         6,
         {0b11, 0b01, 0b11, 0b01, 0b01, 0b11},
         "covers 6 samples"},
        {"IEEE 1164 values: L and H are levels, U W - are none",
         "#0\nH!\nbHL #\n#1\nL!\nbU #\n#2\nW!\nb-H #\n#3\n",
         3,
         {0b1001, 0, 0b0100},
         "covers 3 samples"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        test::WriteAll(dir / "t.vcd", head + c.body);
        auto capture = std::make_unique<Capture>();
        const auto result = ImportCapture(dir / "t.vcd", *capture);
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(result.samplesCovered, c.covered);
        for (std::size_t s = 0; s < c.samples.size(); ++s) {
            EXPECT_EQ(SampleWord(capture->samples, static_cast<int>(s)), c.samples[s]) << s;
        }
        EXPECT_EQ(SampleWord(capture->samples, c.covered), 0U);
        const bool warned =
            std::any_of(result.warnings.begin(), result.warnings.end(), [&](const std::string& w) {
                return w.find(c.warning) != std::string::npos;
            });
        EXPECT_TRUE(warned) << c.warning;
    }
}

std::string Archive(const std::vector<std::pair<std::string, std::string>>& members) {
    detail::ZipWriter zip;
    for (const auto& [name, bytes] : members) {
        EXPECT_TRUE(zip.Add(name, bytes));
    }
    return zip.Finish().value_or("");
}

TEST(Interop, MalformedSessionFileIsAnErrorNamingTheMember) {
    const auto metadata = [](const std::string& device) {
        return "[global]\n\n[device 1]\ncapturefile=logic-1\n" + device;
    };
    const std::string good = "total probes=8\nsamplerate=1 MHz\nunitsize=1\nprobe1=A\n";
    auto capture = MakeCapture(DefaultDefinitionText(), 0xFFFFFFFFU);
    TempDir dir;
    ASSERT_TRUE(ExportSr(*capture, dir / "ok.sr").ok);
    // One byte of the stored samples flipped: the member's checksum no longer holds.
    auto damaged = test::ReadAll(dir / "ok.sr");
    damaged[damaged.size() / 2] = static_cast<char>(damaged[damaged.size() / 2] ^ 0x10);

    const std::vector<Malformed> cases = {
        {"not an archive", "this is text", "not a readable zip archive"},
        {"no version", Archive({{"metadata", metadata(good)}, {"logic-1-1", "x"}}),
         "member \"version\" is missing"},
        {"unknown version", Archive({{"version", "9"}}), "member \"version\" holds \"9\""},
        {"no metadata", Archive({{"version", "2"}}), "member \"metadata\" is missing"},
        {"no logic capture", Archive({{"version", "2"}, {"metadata", "[device 1]\nx=1\n"}}),
         "names no logic capture"},
        {"line without a key",
         Archive({{"version", "2"}, {"metadata", metadata("total probes 8\n")}}),
         "member \"metadata\", line 5: \"total probes 8\""},
        {"more channels than a reader takes",
         Archive({{"version", "2"}, {"metadata", metadata("total probes=600\nunitsize=75\n")}}),
         "line 5: the capture has \"600\" logic channels"},
        {"samples of 80 bytes",
         Archive({{"version", "2"}, {"metadata", metadata("total probes=8\nunitsize=80\n")}}),
         "line 6: unit size \"80\""},
        {"no channel named",
         Archive(
             {{"version", "2"}, {"metadata", metadata("total probes=8\n")}, {"logic-1-1", "x"}}),
         "member \"metadata\" names no channel"},
        {"a chunk missing between two",
         Archive({{"version", "2"},
                  {"metadata", metadata(good)},
                  {"logic-1-1", "ab"},
                  {"logic-1-3", "cd"}}),
         "member \"logic-1-3\" follows archive member \"logic-1-1\" without archive member "
         "\"logic-1-2\""},
        {"rate that is no number",
         Archive({{"version", "2"}, {"metadata", metadata("total probes=8\nsamplerate=fast\n")}}),
         "line 6: sample rate \"fast\""},
        {"no samples", Archive({{"version", "2"}, {"metadata", metadata(good)}}),
         "member \"logic-1-1\" with the samples is missing"},
        {"half a sample",
         Archive({{"version", "2"},
                  {"metadata", metadata("total probes=16\nunitsize=2\nprobe1=A\n")},
                  {"logic-1-1", "abc"}}),
         "member \"logic-1-1\" ends inside a sample"},
        {"damaged samples", damaged, "member \"logic-1-1\" cannot be read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::WriteAll(dir / "bad.sr", c.file);
        auto target = MakeCapture(kBuses, 0xFF);
        const auto before = std::make_unique<Capture>(*target);
        const auto result = ImportCapture(dir / "bad.sr", *target);
        EXPECT_FALSE(result.ok);
        EXPECT_NE(result.error.find(c.message), std::string::npos) << result.error;
        EXPECT_TRUE(target->samples == before->samples);
        EXPECT_EQ(RowsOf(*target), RowsOf(*before));
    }
}

TEST(Interop, SessionChannelsNamedLikeUnshownProbesKeepTheirRowsUnlessOursSaysSo) {
    // 32 channels: CLK, then P1..P31 at their own numbers. Only a file of ours leaves the
    // probes no row shows without rows: by its list, or (written before the list) by name.
    std::string channels;
    for (int c = 0; c < 32; ++c) {
        channels += "probe" + std::to_string(c + 1) + "=" +
                    (c == 0 ? "CLK" : "P" + std::to_string(c)) + "\n";
    }
    const auto session = [&](const std::string& global, const std::string& comment) {
        return Archive({{"version", "2"},
                        {"metadata", "[global]\n" + global +
                                         "\n[device 1]\ncapturefile=logic-1\n"
                                         "total probes=32\nunitsize=4\n" +
                                         comment + channels},
                        {"logic-1-1", std::string(16, '\x55')}});
    };
    std::vector<std::string> all = {"CLK:0"};
    for (int c = 1; c < 32; ++c) {
        all.push_back("P" + std::to_string(c) + ":" + std::to_string(c));
    }
    const struct {
        const char* name;
        std::string file;
        std::vector<std::string> rows;
    } cases[] = {
        {"ours, listing probes 2 to 31",
         session("", "# probes no row shows: 2,3,4,5,6,7,8,9,10,11,"
                     "12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,"
                     "27,28,29,30,31\n"),
         {"CLK:0", "P1:1"}},
        {"ours, from before the list", session("", ""), {"CLK:0"}},
        {"re-saved by sigrok-cli", session("sigrok version=0.5.2\n", ""), all},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::WriteAll(dir / "s.sr", c.file);
        auto capture = std::make_unique<Capture>();
        const auto result = ImportCapture(dir / "s.sr", *capture);
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(RowsOf(*capture), c.rows);
        EXPECT_EQ(SampleWord(capture->samples, 3), 0x55555555U);
    }
}

TEST(Interop, FailedExportLeavesTheTargetAsItWas) {
    auto capture = MakeCapture(DefaultDefinitionText(), 0xFFFFFFFFU);
    TempDir dir;
    test::WriteAll(dir / "keep.vcd", "previous");
    auto empty = MakeCapture("; no rows\r\n", 0);
    const auto noRows = ExportVcd(*empty, dir / "keep.vcd");
    EXPECT_FALSE(noRows.ok);
    EXPECT_NE(noRows.error.find("no row"), std::string::npos) << noRows.error;
    EXPECT_EQ(test::ReadAll(dir / "keep.vcd"), "previous");
    const auto missingFolder = ExportSr(*capture, dir / "no" / "such.sr");
    EXPECT_FALSE(missingFolder.ok);
    EXPECT_NE(missingFolder.error.find("such.sr"), std::string::npos) << missingFolder.error;
}

} // namespace
} // namespace pulsara
