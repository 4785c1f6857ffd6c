// pulsara-cli measure and decode as a user runs them, and decode side by side with
// sigrok-cli on the same raw file: the lines must be the same. Needs sigrok-cli
// (scripts/install-deps.sh installs it); the test skips only where it is missing.

#include "capture/capture_files.h"
#include "capture/session_file.h"

#include "support/signal_builder.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <unistd.h>
#include <utility>

namespace pulsara {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

class CliTest : public ::testing::Test {
protected:
    Outcome Shell(const std::string& command) const {
        Outcome run;
        const auto errPath = dir_ / "stderr.txt";
        FILE* pipe = ::popen((command + " 2>'" + errPath.string() + "'").c_str(), "r");
        if (pipe == nullptr) {
            return run;
        }
        std::array<char, 4096> buffer{};
        std::size_t n = 0;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
            run.out.append(buffer.data(), n);
        }
        const int status = ::pclose(pipe);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::ifstream err(errPath);
        run.err.assign(std::istreambuf_iterator<char>(err), {});
        return run;
    }
    // With a cache folder of the test's own: find keeps decoded captures there.
    Outcome Cli(const std::string& args, const std::string& env = "") const {
        return Shell("XDG_CACHE_HOME='" + (dir_ / "cache").string() + "' " + env + " '" +
                     PULSARA_CLI + "' " + args);
    }
    // The raw samples and the rows, as SAVE writes them.
    std::string Save(Capture& capture, const std::string& name) const {
        const auto path = dir_ / name;
        EXPECT_TRUE(SaveCapture(capture, path, 0).ok);
        return "'" + path.string() + "'";
    }

    const test::TempDir temp_;
    const fs::path dir_ = temp_.path();
};

const std::string kRows = "#SYSPARM 5,0,0,0,0,0\r\nRX 17\r\nSCK 18\r\nMOSI 19\r\nCS# 20\r\n"
                          "MISO 21\r\nSCL 22\r\nSDA 23\r\nCLK 16\r\n";

std::unique_ptr<Capture> Traffic() {
    auto capture = test::MakeCapture(kRows);
    // 115200 baud at 10 MHz: 86.8 samples a bit, as a real line would be sampled.
    // A comma and a quote too, which CSV must quote.
    const std::vector<std::uint8_t> text = {'p', 'u', 'l', 's',  'a', 'r',
                                            'a', ',', '"', '\r', '\n'};
    test::WriteUart(*capture, 17, 300, 87, text, 120);
    test::WriteSpi(*capture, {18, 19, 21, 20}, 9000, 5, {0x9F, 0x00, 0x00, 0x00},
                   {0xFF, 0xC2, 0x20, 0x18});
    test::WriteI2c(*capture, 22, 23, 12000, 25, 0x50, {0x10, 0x42});
    for (int s = 0; s < kSampleCount; s += 10) {
        test::Fill(*capture, 16, s + 5, s + 10, 1);
    }
    return capture;
}

// RFC 4180 records: fields split at commas outside quotes, "" inside quotes is one quote,
// records end with CR LF.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> record;
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            record.push_back(std::exchange(field, {}));
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            record.push_back(std::exchange(field, {}));
            records.push_back(std::exchange(record, {}));
            ++i;
        } else {
            field += c;
        }
    }
    EXPECT_TRUE(field.empty() && record.empty()) << "the last record lacks its CR LF";
    return records;
}

// The CSV export holds what the text and JSON outputs hold, line for line, with times
// from the trigger sample.
void ExpectCsvMatches(const std::string& csv, const std::string& textLines,
                      const std::string& jsonLines, double triggerSample, double rate) {
    const auto records = ParseCsv(csv);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0], (std::vector<std::string>{"start_sample", "end_sample", "start_s",
                                                    "end_s", "decoder", "class", "row", "text"}));
    std::istringstream text(textLines);
    std::istringstream json(jsonLines);
    std::string line;
    std::size_t i = 1;
    for (; std::getline(text, line); ++i) {
        ASSERT_LT(i, records.size());
        const auto& r = records[i];
        ASSERT_EQ(r.size(), 8U);
        const auto range = line.substr(0, line.find(' '));
        EXPECT_EQ(r[0] + "-" + r[1], range);
        EXPECT_EQ(r[7], line.substr(line.find(": ") + 2));
        std::string jsonLine;
        ASSERT_TRUE(std::getline(json, jsonLine));
        const auto a = nlohmann::json::parse(jsonLine);
        EXPECT_EQ(r[4], a["decoder"]);
        EXPECT_EQ(r[5], a["class"]);
        EXPECT_EQ(r[6], a["row"].is_null() ? "" : a["row"].get<std::string>());
        EXPECT_NEAR(std::stod(r[2]), (std::stod(r[0]) - triggerSample) / rate, 1e-12);
        EXPECT_NEAR(std::stod(r[3]), (std::stod(r[1]) - triggerSample) / rate, 1e-12);
        EXPECT_EQ(r[2].find_first_of("eE"), std::string::npos) << r[2];
    }
    EXPECT_EQ(i, records.size());
}

TEST_F(CliTest, DecodePrintsWhatSigrokCliPrints) {
    if (Shell("command -v sigrok-cli").status != 0) {
        GTEST_SKIP() << "sigrok-cli is not installed (scripts/install-deps.sh installs it)";
    }
    auto capture = Traffic();
    const auto wfa = Save(*capture, "traffic.wfa");
    const std::string sigrok = "sigrok-cli -I binary:numchannels=32:samplerate=10000000 -i " + wfa;
    struct Case {
        std::string ours; // pulsara-cli's arguments after the capture
        std::string theirs;
        std::size_t atLeast; // lines, so an empty match cannot pass
    };
    const Case cases[] = {
        {"-P uart:rx=RX:baudrate=115200", "-P uart:rx=17:baudrate=115200", 90},
        {"-P uart:rx=17 -A uart=rx-data", "-P uart:rx=17 -A uart=rx-data", 9},
        {"-P uart:rx=RX:format=ascii:data_bits=7 -A uart=RX_DATA",
         "-P uart:rx=17:format=ascii:data_bits=7 -A uart=RX_DATA", 9},
        {"-P spi:clk=SCK:mosi=MOSI:miso=MISO:cs=CS#", "-P spi:clk=18:mosi=19:miso=21:cs=20", 70},
        {"-P spi:clk=18:mosi=19:cs=20:cpol=1 -A spi=mosi-data",
         "-P spi:clk=18:mosi=19:cs=20:cpol=1 -A spi=mosi-data", 4},
        {"-P i2c:scl=SCL:sda=SDA", "-P i2c:scl=22:sda=23", 30},
        {"-P i2c:scl=SCL:sda=SDA,eeprom24xx", "-P i2c:scl=22:sda=23,eeprom24xx", 30},
        {"-P i2c:scl=22:sda=23,eeprom24xx -A i2c=addr-data:warnings",
         "-P i2c:scl=22:sda=23,eeprom24xx -A i2c=addr-data:warnings", 5},
        {"-P uart:rx=RX -P i2c:scl=SCL:sda=SDA -P uart:rx=RX:baudrate=57600",
         "-P uart:rx=17 -P i2c:scl=22:sda=23 -P uart:rx=17:baudrate=57600", 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ours);
        const auto ours = Cli("decode " + wfa + " " + c.ours);
        ASSERT_EQ(ours.status, 0) << ours.err;
        const auto theirs = Shell(sigrok + " " + c.theirs + " --protocol-decoder-samplenum");
        ASSERT_EQ(theirs.status, 0) << theirs.err;
        EXPECT_EQ(ours.out, theirs.out);
        EXPECT_GE(std::count(ours.out.begin(), ours.out.end(), '\n'), c.atLeast) << ours.out;
        const auto csv = Cli("decode " + wfa + " " + c.ours + " --csv");
        ASSERT_EQ(csv.status, 0) << csv.err;
        const auto json = Cli("decode " + wfa + " " + c.ours + " --json");
        // 10MHz with the trigger at TOP: time zero at sample 24.
        ExpectCsvMatches(csv.out, ours.out, json.out, 24, 10e6);
    }
    // Texts with a comma or a quote come out quoted, and read back whole.
    const auto ascii = Cli("decode " + wfa + " -P uart:rx=RX:format=ascii -A uart=rx-data --csv");
    ASSERT_EQ(ascii.status, 0) << ascii.err;
    EXPECT_NE(ascii.out.find(",\",\"\r\n"), std::string::npos) << ascii.out;
    EXPECT_NE(ascii.out.find(",\"\"\"\"\r\n"), std::string::npos) << ascii.out;
    std::string decoded;
    for (const auto& record : ParseCsv(ascii.out)) {
        decoded += record.back().size() == 1 ? record.back() : "";
    }
    EXPECT_NE(decoded.find("pulsara,\""), std::string::npos) << decoded;
}

// Without -P, decode takes the stacks of the capture's analysis session; a broken session
// is named and not used.
TEST_F(CliTest, DecodeTakesTheSessionsDecoders) {
    auto capture = Traffic();
    const auto wfa = Save(*capture, "kept.wfa");
    AnalysisSession session;
    session.stacks = {"uart:rx=RX:baudrate=115200", "i2c:scl=SCL:sda=SDA"};
    ASSERT_FALSE(WriteSessionFile(session, dir_ / "kept.wfs").has_value());
    const auto given =
        Cli("decode " + wfa + " -P uart:rx=RX:baudrate=115200 -P i2c:scl=SCL:sda=SDA");
    ASSERT_EQ(given.status, 0) << given.err;
    const auto kept = Cli("decode " + wfa);
    ASSERT_EQ(kept.status, 0) << kept.err;
    EXPECT_EQ(kept.out, given.out);
    EXPECT_GT(std::count(kept.out.begin(), kept.out.end(), '\n'), 100);

    std::ofstream(dir_ / "kept.wfs") << "{\"version\": 1, \"decoders\": [{\"stack\": 3}]}";
    const auto broken = Cli("decode " + wfa);
    EXPECT_EQ(broken.status, 2);
    EXPECT_TRUE(broken.out.empty());
    EXPECT_NE(broken.err.find("kept.wfs: not an analysis session"), std::string::npos)
        << broken.err;
}

TEST_F(CliTest, DecodeJsonCarriesEveryTextAndTheRow) {
    auto capture = Traffic();
    capture->settings.rateIndex = 15; // EXT: the rate must come from the user
    const auto wfa = Save(*capture, "ext.wfa");
    const auto noRate = Cli("decode " + wfa + " -P uart:rx=RX");
    EXPECT_EQ(noRate.status, 1);
    EXPECT_TRUE(noRate.out.empty());
    EXPECT_NE(noRate.err.find("--samplerate HZ"), std::string::npos) << noRate.err;

    const auto run =
        Cli("decode " + wfa + " -P uart:rx=RX --samplerate 10MHz -A uart=rx-data --json");
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream lines(run.out);
    std::string line;
    std::string text;
    while (std::getline(lines, line)) {
        const auto a = nlohmann::json::parse(line);
        EXPECT_EQ(a["instance"], "uart-1");
        EXPECT_EQ(a["decoder"], "uart");
        EXPECT_EQ(a["class"], "rx-data");
        EXPECT_EQ(a["row"], "rx-data");
        EXPECT_LT(a["start"].get<int>(), a["end"].get<int>());
        ASSERT_FALSE(a["texts"].empty());
        text += static_cast<char>(std::stoi(a["texts"][0].get<std::string>(), nullptr, 16));
    }
    EXPECT_EQ(text, "pulsara,\"\r\n");

    // Every text, long to short, and the row of a class that is not a row's name.
    const auto i2c = Cli("decode " + wfa + " -P i2c:scl=SCL:sda=SDA --samplerate 1M --json");
    ASSERT_EQ(i2c.status, 0) << i2c.err;
    EXPECT_NE(i2c.out.find(R"("class":"address-write","row":"addr-data",)"
                           R"("texts":["Address write: 50","AW: 50","50"]})"),
              std::string::npos)
        << i2c.out;
}

TEST_F(CliTest, MeasureJsonHasEveryFieldAndNullsWhereUnknown) {
    auto capture = Traffic();
    const auto wfa = Save(*capture, "m.wfa");
    auto run = Cli("measure " + wfa + " --signal CLK --at 1002 --json");
    ASSERT_EQ(run.status, 0) << run.err;
    const auto m = nlohmann::json::parse(run.out);
    const auto want = nlohmann::json::parse(R"({
        "signal":"CLK","probe":16,"samplePeriodNs":100,
        "edges":{"rising":3277,"falling":3276},
        "highPulse":{"minSamples":5,"maxSamples":5},"lowPulse":{"minSamples":5,"maxSamples":5},
        "meanFrequencyHz":1000000.0,
        "at":{"sample":1002,"level":0,
              "pulse":{"start":1000,"end":1005,"samples":5,"ns":500.0},
              "period":{"start":1000,"end":1010,"samples":10,"ns":1000.0,"hz":1000000.0,"duty":0.5}}})");
    EXPECT_EQ(m, want) << m.dump();

    capture->settings.rateIndex = 15;
    const auto ext = Save(*capture, "ext.wfa");
    run = Cli("measure " + ext + " --signal 16 --json");
    ASSERT_EQ(run.status, 0) << run.err;
    const auto e = nlohmann::json::parse(run.out);
    EXPECT_TRUE(e["samplePeriodNs"].is_null());
    EXPECT_TRUE(e["meanFrequencyHz"].is_null());
    EXPECT_TRUE(e["at"].is_null());
    EXPECT_EQ(e["edges"]["rising"], 3277);
}

TEST_F(CliTest, BadRequestsFailWithOneMessage) {
    auto capture = Traffic();
    const auto wfa = Save(*capture, "bad.wfa");
    // The library's own messages are checked where they are made; here, that the command
    // passes them on alone, with a failing status and nothing on stdout.
    const std::pair<std::string, std::string> cases[] = {
        {"measure " + wfa + " --signal NOPE",
         "no row is named \"NOPE\"; name one of the rows (RX,"},
        {"measure " + wfa + " --signal RX --at 40000", "sample 40000 holds no captured data"},
        {"decode " + wfa + " -P spi:mosi=MOSI", "spi needs channel clk"},
        {"decode " + wfa + " -P uart:rx=RX -A spi", "-A names spi"},
        {"decode " + wfa + " -P uart:rx=RX --samplerate fast", "--samplerate takes whole hertz"},
        {"decode " + wfa, "decode needs a capture file and -P STACK"},
    };
    for (const auto& [args, message] : cases) {
        SCOPED_TRACE(args);
        const auto run = Cli(args);
        EXPECT_NE(run.status, 0);
        EXPECT_TRUE(run.out.empty()) << run.out;
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    }
    const auto list = Cli("decode --list");
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("uart  Universal Asynchronous Receiver/Transmitter"),
              std::string::npos);
    EXPECT_NE(list.out.find("option baudrate=115200"), std::string::npos);
}

TEST_F(CliTest, FindAnswersAsGrepDoes) {
    auto capture = Traffic();
    const auto wfa = Save(*capture, "find.wfa");
    capture->settings.rateIndex = 15;
    const auto ext = Save(*capture, "ext.wfa");
    const std::string uart = " -P uart:rx=RX:baudrate=115200 -A uart=rx-data";
    struct Case {
        std::string args;
        int status;
        std::string out; // the whole of stdout
    };
    // CLK rises at 5, 15, 25, ...; the trigger stands at sample 24 (TOP), 100 ns a sample.
    const Case cases[] = {
        {"find " + wfa + " --signal CLK --edge rising --first", 0, "5-5 -1.9us\n"},
        {"find " + wfa + " --signal CLK --edge rising --count", 0, "3277\n"},
        {"find " + wfa + " --signal CLK --pulse high --shorter 5 --count", 1, "0\n"},
        {"find " + wfa + " --signal CLK --pulse high --shorter 5", 1, ""},
        {"find " + wfa + " --signal CLK --pulse low --longer 400ns --first --json", 0,
         R"({"start":10,"end":15,"startNs":-1400.0,"endNs":-900.0,"kind":"pulse"})"
         "\n"},
        {"find " + ext + " --signal CLK --edge falling --first", 0, "10-10\n"},
        {"find " + ext + " --signal CLK --edge falling --first --json", 0,
         R"({"start":10,"end":10,"startNs":null,"endNs":null,"kind":"edge"})"
         "\n"},
        {"find " + wfa + uart + " --text 7 --count", 0, "4\n"}, // p u s r: 70 75 73 72
        {"find " + wfa + uart + " --text '^0[AD]$' --regex --count", 0, "2\n"},
        {"find " + wfa + uart + " --text 99", 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const auto run = Cli(c.args);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(run.out, c.out);
    }
    // A decoded line ends with the annotation's text; its JSON carries it.
    const auto line = Cli("find " + wfa + uart + " --text 75");
    ASSERT_EQ(line.status, 0) << line.err;
    EXPECT_TRUE(line.out.ends_with("us 75\n")) << line.out;
    const auto json = Cli("find " + wfa + uart + " --text 75 --json");
    ASSERT_EQ(json.status, 0) << json.err;
    const auto m = nlohmann::json::parse(json.out);
    EXPECT_EQ(m["kind"], "decoded");
    EXPECT_EQ(m["text"], "75");
    EXPECT_DOUBLE_EQ(m["startNs"].get<double>(), (m["start"].get<int>() - 24) * 100.0);

    // Bad input is status 2, with one message and nothing on stdout.
    const std::pair<std::string, std::string> bad[] = {
        {"find " + wfa + " --signal NOPE --edge rising", "no row is named \"NOPE\""},
        {"find " + ext + " --signal CLK --pulse high --longer 1us", "external clock"},
        {"find " + wfa + " --pattern CLK=2", "CLK takes 0, 1 or ?"},
        {"find " + wfa + " --signal CLK --edge rising --frobnicate", "--frobnicate"},
        {"find " + (dir_ / "missing.wfa").string() + " --signal CLK --edge rising", "missing.wfa"},
        {"find " + wfa + " -P nosuchdecoder --text x", "nosuchdecoder"},
    };
    for (const auto& [args, message] : bad) {
        SCOPED_TRACE(args);
        const auto run = Cli(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(run.out.empty()) << run.out;
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    }
}

// find keeps a decoded capture; a decoder changed since (here a copy that marks every byte
// it reads) is run again, not answered for from the entry.
TEST_F(CliTest, FindDecodesAgainWhenTheDecoderChanged) {
    const fs::path system = "/usr/share/libsigrokdecode/decoders";
    if (!fs::exists(system / "uart" / "pd.py")) {
        GTEST_SKIP() << "no libsigrokdecode decoders in " << system;
    }
    const fs::path decoders = dir_ / "decoders";
    fs::create_directories(decoders);
    for (const char* package : {"uart", "common"}) {
        fs::copy(system / package, decoders / package, fs::copy_options::recursive);
    }
    auto capture = Traffic();
    const auto wfa = Save(*capture, "find.wfa");
    const std::string env = "SIGROKDECODE_DIR='" + decoders.string() + "'";
    const std::string marked =
        "find " + wfa + " -P uart:rx=RX:baudrate=115200 -A uart=rx-data --text X";
    const auto count = [&](const std::string& args) {
        const auto run = Cli(args, env);
        EXPECT_NE(run.status, 2) << run.err; // 0 or 1: counted
        return run.out;
    };
    EXPECT_EQ(count(marked + " --count"), "0\n");
    EXPECT_EQ(count(marked + " --count"), "0\n"); // from the entry
    EXPECT_FALSE(fs::is_empty(dir_ / "cache" / "pulsara" / "decoded"));

    std::ofstream(decoders / "uart" / "pd.py", std::ios::app)
        << "\n_format = Decoder.format_value\n"
           "Decoder.format_value = lambda self, v: 'X' + _format(self, v)\n";
    const std::string all = count(marked + " --count");
    EXPECT_NE(all, "0\n");
    EXPECT_EQ(all, count(marked + " --count --no-cache"));
    EXPECT_EQ(count(marked + "7 --count"), "4\n"); // p u s r: X70 X75 X73 X72
}

TEST_F(CliTest, DiffReportsRangesAndExitStatus) {
    const std::string rows = "#SYSPARM 5,0,0,0,0,0\r\nCLK 16\r\nDATA 8,9,10,11\r\n";
    // A 10-sample clock whose phase follows the trigger sample.
    const auto clock = [](Capture& capture, int trigger) {
        for (int s = 0; s < kSampleCount; ++s) {
            test::Fill(capture, 16, s, s + 1, ((s - trigger + 40000) / 5) % 2);
        }
    };
    auto a = test::MakeCapture(rows);
    clock(*a, 24);
    auto b = test::MakeCapture(rows);
    b->samples = a->samples;
    test::Fill(*b, 9, 120, 132, 1);
    test::Fill(*b, 10, 4000, 4001, 1);
    const auto wa = Save(*a, "a.wfa");
    const auto wb = Save(*b, "b.wfa");
    // The same signals captured at CENTER: the same when aligned at the trigger.
    auto centred = test::MakeCapture("#SYSPARM 5,1,0,0,0,0\r\nCLK 16\r\nDATA 8,9,10,11\r\n");
    clock(*centred, 16378);
    const auto wc = Save(*centred, "c.wfa");
    struct Case {
        std::string args;
        int status;
        std::string out; // stdout whole, or the start of the message on stderr for status 2
    };
    const Case cases[] = {
        {wa + " " + wa, 0, "CLK: 0 samples differ\nDATA: 0 samples differ\n"},
        {wa + " " + wb, 1, "CLK: 0 samples differ\nDATA: 13 samples differ: 120-131, 4000-4000\n"},
        {wa + " " + wb + " --signal DATA[1] -s 10 -s CLK", 1,
         "DATA[1]: 12 samples differ: 120-131\n10: 1 samples differ: 4000-4000\nCLK: 0 samples "
         "differ\n"},
        {wa + " " + wc, 0, "CLK: 0 samples differ\nDATA: 0 samples differ\n"},
        {"--align start " + wa + " " + wc + " -s CLK", 1,
         "CLK: 26215 samples differ: 0-2, 4-7, 9-12, "},
        {wa + " " + wb + " --signal NOPE", 2, "pulsara-cli: no row is named \"NOPE\""},
        {wa + " '" + (dir_ / "none.wfa").string() + "'", 2, "pulsara-cli: cannot open capture"},
        {wa + " " + wb + " --align middle", 2, "--align: middle not in {trigger,start}"},
        {wa, 2, "b is required"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const auto run = Cli("diff " + c.args);
        EXPECT_EQ(run.status, c.status) << run.err;
        if (c.status == 2) {
            EXPECT_TRUE(run.out.empty()) << run.out;
            EXPECT_NE(run.err.find(c.out), std::string::npos) << run.err;
        } else {
            EXPECT_EQ(run.out.substr(0, c.out.size()), c.out);
            EXPECT_EQ(run.out.back(), '\n');
        }
    }
    const auto json = Cli("diff --json " + wc + " " + wb + " --signal DATA");
    ASSERT_EQ(json.status, 1) << json.err;
    const auto j = nlohmann::json::parse(json.out);
    EXPECT_EQ(j["align"], "trigger");
    EXPECT_EQ(j["offset"], -16354);
    EXPECT_EQ(j["compared"]["first"], 16354);
    EXPECT_EQ(j["compared"]["last"], 32767);
    EXPECT_EQ(j["same"], false);
    EXPECT_EQ(j["signals"][0]["probes"], nlohmann::json::parse("[8,9,10,11]"));
    EXPECT_EQ(j["signals"][0]["samples"], 13);
    EXPECT_EQ(j["signals"][0]["ranges"], nlohmann::json::parse("[[16474,16485],[20354,20354]]"));
}

} // namespace
} // namespace pulsara
