// Files as Icarus Verilog, GHDL, Verilator, GTKWave and sigrok-cli write them (corpus/,
// made by corpus/make-corpus.sh), each imported and held sample by sample against what the
// tool reads in it: sigrok-cli's CSV of a session, or the reader below for a VCD.

#include "capture/interop.h"

#include "interop_fixture.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace pulsara {
namespace {

using test::ReadAll;
using test::RowsOf;

const std::filesystem::path kCorpus = PULSARA_IMPORT_CORPUS;

// A plain VCD reader: every change of every variable, kept by its scoped name.
class ReferenceVcd {
public:
    explicit ReferenceVcd(const std::string& text) {
        std::istringstream in(text);
        std::string token;
        std::vector<std::string> scopes;
        std::map<std::string, std::vector<std::string>> namesOf; // code -> scoped names
        std::uint64_t time = 0;
        while (in >> token) {
            if (token == "$scope") {
                std::string kind, name, end;
                in >> kind >> name >> end;
                scopes.push_back(name);
            } else if (token == "$upscope") {
                in >> token;
                scopes.pop_back();
            } else if (token == "$var") {
                std::string type, width, code, name;
                in >> type >> width >> code >> name;
                while (in >> token && token != "$end") {
                }
                if (name.starts_with('\\')) {
                    name.erase(0, 1);
                }
                if (const auto open = name.find('['); open != std::string::npos) {
                    name.erase(open);
                }
                std::string path;
                for (const auto& s : scopes) {
                    path += s + ".";
                }
                namesOf[code].push_back(path + name);
                events_[path + name] = type == "event";
            } else if (token.starts_with("$")) {
                // $dumpvars and $end hold values or nothing; other sections are skipped.
                if (token != "$dumpvars" && token != "$end" && token != "$enddefinitions") {
                    while (in >> token && token != "$end") {
                    }
                }
            } else if (token[0] == '#') {
                time = std::stoull(token.substr(1));
            } else {
                std::string value = token.substr(1);
                std::string code;
                if (token[0] == 'b' || token[0] == 'r' || token[0] == 's') {
                    in >> code;
                } else {
                    value = token.substr(0, 1);
                    code = token.substr(1);
                }
                for (const auto& name : namesOf[code]) {
                    changes_[name].push_back({time, value});
                }
            }
        }
    }

    // Bit `bit` of the variable at file time `at` (the last change at or before it); an
    // event reads 1 at the first sample at or after each of its times (after `before`).
    [[nodiscard]] int Bit(const std::string& name, int bit, std::uint64_t before,
                          std::uint64_t at) const {
        const auto found = changes_.find(name);
        EXPECT_NE(found, changes_.end()) << name;
        if (found == changes_.end()) {
            return 0;
        }
        if (events_.at(name)) {
            for (const auto& [time, value] : found->second) {
                if (time <= at && (time > before || (before == at && time == at))) {
                    return 1;
                }
            }
            return 0;
        }
        std::string value;
        for (const auto& [time, v] : found->second) {
            if (time <= at) {
                value = v;
            }
        }
        const auto n = value.size();
        if (static_cast<std::size_t>(bit) >= n) {
            return 0; // 0 extends a vector, and x, z, U, W, - read as 0 too
        }
        const char c = value[n - 1 - static_cast<std::size_t>(bit)];
        return c == '1' || c == 'h' || c == 'H' ? 1 : 0;
    }

private:
    std::map<std::string, std::vector<std::pair<std::uint64_t, std::string>>> changes_;
    std::map<std::string, bool> events_;
};

// sigrok-cli's CSV: the channel names, then one line of 0 and 1 per sample.
std::map<std::string, std::vector<int>> ReadCsv(const std::string& text) {
    std::map<std::string, std::vector<int>> columns;
    std::vector<std::string> names;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.starts_with("; Channels")) {
            std::istringstream list(line.substr(line.find(':') + 1));
            std::string name;
            while (std::getline(list, name, ',')) {
                names.push_back(name.substr(name.find_first_not_of(' ')));
            }
        } else if (!line.empty() && (line[0] == '0' || line[0] == '1')) {
            for (std::size_t c = 0; c < names.size(); ++c) {
                columns[names[c]].push_back(line[2 * c] - '0');
            }
        }
    }
    return columns;
}

// "top.bus[3]" -> "top.bus", 3; "top.clk" -> "top.clk", 0.
std::pair<std::string, int> SignalBit(const std::string& probe) {
    if (probe.ends_with(']')) {
        const auto open = probe.rfind('[');
        return {probe.substr(0, open), std::stoi(probe.substr(open + 1))};
    }
    return {probe, 0};
}

// Names for probes first..first+width-1: bits 0.. of one signal.
std::vector<std::string> Bits(const std::string& name, int width) {
    std::vector<std::string> bits;
    for (int j = 0; j < width; ++j) {
        bits.push_back(name + "[" + std::to_string(j) + "]");
    }
    return bits;
}

std::vector<std::string> Cat(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

struct CorpusFile {
    const char* file;
    ImportOptions options;
    std::vector<std::string> rows;
    std::int32_t rate;
    int covered;
    std::vector<std::string> warnings; // each one's words, in order
    // What each probe is in the tool's reading: a VCD signal (bit) by scoped name, or a CSV
    // column; "" reads 0.
    std::vector<std::string> probes;
    std::string reference = {};  // the CSV beside a session; empty: the VCD itself
    std::uint64_t firstTime = 0; // the file time of sample 0
    std::uint64_t step = 1;      // file time units between samples
};

const std::string kWide = "wide_tb.";
const std::string kGhdl = "nine_values.";
const std::vector<std::string> kWideProbes =
    Cat({{kWide + "tick", kWide + "q2", kWide + "q1", kWide + "a_signal_with_a_long_name",
          kWide + "a_signal_with_a_long_name_too", kWide + "clk"},
         Bits(kWide + "data$in", 8),
         {kWide + "u2.clk"}});
const std::vector<std::string> kWideRows = {"tick:0",
                                            "q2:1",
                                            "q1:2",
                                            "a_signal_wit:3",
                                            "a_signal_w_2:4",
                                            "wide_tb.clk:5",
                                            "data$in:6,7,8,9,10,11,12,13",
                                            "u1.q:2",
                                            "u2.clk:14",
                                            "u2.q:1"};
const std::string kWideLeftOut =
    "left out 1 signal(s) that do not fit the 32 probes after the ones before them: "
    "wide_tb.wide_bus (40 bits); pick the signals with --signals";
const std::string kGhdlLeftOut = "left out 1 signal(s) that do not fit the 32 probes after the "
                                 "ones before them: nine_values.count (32 bits)";
const std::vector<std::string> kGhdlRows = {"clk:0", "weak:1", "bus8:2,3,4,5,6,7,8,9"};
const std::vector<std::string> kGhdlProbes =
    Cat({{kGhdl + "clk", kGhdl + "weak"}, Bits(kGhdl + "bus8", 8)});
const std::vector<std::string> kDemo = {"D0", "D1", "D2", "D3", "D4", "D5", "D6", "D7"};

std::vector<std::string> RowsNamed(const std::vector<std::string>& names) {
    std::vector<std::string> rows;
    for (std::size_t i = 0; i < names.size(); ++i) {
        rows.push_back(names[i] + ":" + std::to_string(i));
    }
    return rows;
}

std::vector<std::string> Channels(int first, int count) {
    std::vector<std::string> names;
    for (int c = first; c < first + count; ++c) {
        names.push_back("D" + std::to_string(c));
    }
    return names;
}

TEST(ImportCorpus, EveryFileImportsWithTheToolsValuesAtEverySample) {
    const ImportOptions none;
    const ImportOptions at100MHz{{}, 0};
    const std::vector<CorpusFile> cases = {
        {"iverilog-late.vcd",
         none,
         {"clk:0", "count:1,2,3,4"},
         15,
         101,
         {"dump starts at #40; that is sample 0", "covers 101 samples"},
         Cat({{"counter_tb.clk"}, Bits("counter_tb.count", 4)}),
         "",
         40},
        {"iverilog-wide.vcd",
         none,
         kWideRows,
         15,
         kSampleCount,
         {"left out 1 variable(s) that hold no logic values: wide_tb.level (real)", kWideLeftOut,
          "they cover 32.768 ns of the 2 us the file spans (#0 to #2000000); to sample all of "
          "it, import with --rate 100MHz",
          "2 signal name(s) were cut to the 12 characters"},
         kWideProbes},
        {"iverilog-wide.vcd",
         {{"wide_tb.clk", "u1.q", "tick", "data$in", "wide_bus"}, 0},
         {"clk:0", "q:1", "tick:2", "data$in:3,4,5,6,7,8,9,10"},
         0,
         201,
         {"left out 1 signal(s) that do not fit the 32 probes after the ones before them: "
          "wide_tb.wide_bus (40 bits)",
          "covers 201 samples"},
         Cat({{kWide + "clk", kWide + "q1", kWide + "tick"}, Bits(kWide + "data$in", 8)}),
         "",
         0,
         10000},
        {"gtkwave-wide.vcd",
         none,
         kWideRows,
         15,
         kSampleCount,
         {"wide_tb.level (real)", kWideLeftOut, "they cover 32.768 ns of the 2 us", "were cut"},
         kWideProbes},
        {"ghdl.vcd",
         none,
         kGhdlRows,
         15,
         kSampleCount,
         {kGhdlLeftOut,
          "they cover 32.768 ps of the 400 ns the file spans (#0 to #400000000); to sample all of "
          "it, import with --rate 100MHz"},
         kGhdlProbes},
        {"ghdl.vcd",
         at100MHz,
         kGhdlRows,
         0,
         41,
         {kGhdlLeftOut, "covers 41 samples"},
         kGhdlProbes,
         "",
         0,
         10000000},
        {"gtkwave-ghdl.vcd",
         at100MHz,
         kGhdlRows,
         0,
         41,
         {kGhdlLeftOut, "covers 41 samples"},
         kGhdlProbes,
         "",
         0,
         10000000},
        {"verilator.vcd",
         none,
         {"clk:0", "count:1,2,3,4,5,6"},
         15,
         64,
         {"left out 1 signal(s) that do not fit the 32 probes after the ones before them: "
          "TOP.param_counter.WIDTH (32 bits)",
          "covers 64 samples"},
         Cat({{"TOP.clk"}, Bits("TOP.count", 6)})},
        {"verilator.vcd",
         {{"WIDTH"}, {}},
         {"WIDTH:0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,28,29,"
          "30,31"},
         15,
         64,
         {"covers 64 samples"},
         Bits("TOP.param_counter.WIDTH", 32)},
        {"sigrok-demo.vcd",
         none,
         RowsNamed(kDemo),
         10,
         600,
         {"covers 600 samples"},
         kDemo,
         "sigrok-demo.sr.csv"},
        {"sigrok-demo.sr",
         none,
         RowsNamed(kDemo),
         10,
         600,
         {"holds 600 samples"},
         kDemo,
         "sigrok-demo.sr.csv"},
        {"sigrok-subset.sr",
         none,
         {"D1:1", "D3:3", "D6:6"},
         10,
         600,
         {"holds 600 samples"},
         {"", "D1", "", "D3", "", "", "D6", ""},
         "sigrok-subset.sr.csv"},
        {"sigrok-p-names.sr",
         none,
         RowsNamed({"D0", "D1", "P2", "P3", "P4", "P5", "P6", "P7"}),
         10,
         600,
         {"holds 600 samples"},
         {"D0", "D1", "P2", "P3", "P4", "P5", "P6", "P7"},
         "sigrok-p-names.sr.csv"},
        {"sigrok-64.sr",
         none,
         RowsNamed(Channels(0, 32)),
         10,
         200,
         {"left out 32 channel(s) that do not fit the 32 probes after the ones before them: D32, "
          "D33,",
          "holds 200 samples"},
         Channels(0, 32),
         "sigrok-64.sr.csv"},
        {"sigrok-64.sr",
         {{"D40", "D2", "D63"}, {}},
         {"D40:0", "D2:1", "D63:2"},
         10,
         200,
         {"holds 200 samples"},
         {"D40", "D2", "D63"},
         "sigrok-64.sr.csv"},
        {"sigrok-norate.sr",
         none,
         RowsNamed({"0", "1", "2", "3", "4", "5", "6", "7"}),
         15,
         1200,
         {"holds 1200 samples"},
         {"0", "1", "2", "3", "4", "5", "6", "7"},
         "sigrok-norate.sr.csv"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + std::string(c.options.names.empty() ? "" : " --signals") +
                     (c.options.rateIndex ? " --rate" : ""));
        auto capture = std::make_unique<Capture>();
        const auto result = ImportCapture(kCorpus / c.file, *capture, c.options);
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(RowsOf(*capture), c.rows);
        EXPECT_EQ(capture->settings.rateIndex, c.rate);
        // The definition text says where sample 0 stands when it is not at time 0.
        const std::string definition(capture->definition.data());
        const auto note = definition.find("\r\n; sample 0 is the file's time #" +
                                          std::to_string(c.firstTime) + " (");
        EXPECT_EQ(note != std::string::npos, c.firstTime != 0) << definition;
        EXPECT_EQ(result.samplesCovered, c.covered);
        std::string all;
        for (const auto& w : result.warnings) {
            all += "\n  " + w;
        }
        ASSERT_EQ(result.warnings.size(), c.warnings.size()) << all;
        for (std::size_t w = 0; w < c.warnings.size(); ++w) {
            EXPECT_NE(result.warnings[w].find(c.warnings[w]), std::string::npos)
                << result.warnings[w];
        }
        const auto text = ReadAll(kCorpus / (c.reference.empty() ? c.file : c.reference));
        const bool vcd = c.reference.empty();
        const ReferenceVcd reference(vcd ? text : std::string());
        const auto csv = ReadCsv(vcd ? std::string() : text);
        for (int s = 0; s < kSampleCount; ++s) {
            const std::uint64_t at = c.firstTime + static_cast<std::uint64_t>(s) * c.step;
            const std::uint64_t before = s == 0 ? at : at - c.step;
            for (int p = 0; p < 32; ++p) {
                const std::string probe = static_cast<std::size_t>(p) < c.probes.size()
                                              ? c.probes[static_cast<std::size_t>(p)]
                                              : "";
                int want = 0;
                if (s < c.covered && !probe.empty()) {
                    if (vcd) {
                        const auto [name, bit] = SignalBit(probe);
                        want = reference.Bit(name, bit, before, at);
                    } else {
                        const auto& column = csv.at(probe);
                        want = static_cast<std::size_t>(s) < column.size()
                                   ? column[static_cast<std::size_t>(s)]
                                   : 0;
                    }
                }
                ASSERT_EQ(SampleProbe(capture->samples, s, p), want)
                    << "sample " << s << ", probe " << p << " (" << probe << ")";
            }
        }
    }
}

} // namespace
} // namespace pulsara
