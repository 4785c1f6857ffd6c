// Search over a capture with glitches, values and bytes planted at known samples: at the
// first captured sample, at the last sample of the memory, in the cleared samples before
// the data (never found) and nowhere at all.

#include "analysis/search.h"

#include "support/signal_builder.h"

#include <gtest/gtest.h>

#include <utility>

namespace pulsara::analysis {
namespace {

using Ranges = std::vector<std::pair<int, int>>;

constexpr int kFirst = 100; // 50 unfilled pairs

std::unique_ptr<Capture> Planted() {
    auto capture =
        test::MakeCapture("#SYSPARM 5,0,0,0,0,0\r\nGL 1\r\nDATA 8,9,10,11,12,13,14,15\r\n"
                          "RX 4\r\nTWICE 5,5\r\n");
    capture->settings.unfilledPairs = kFirst / 2;
    auto& c = *capture;
    // GL: junk in the cleared part, high at the first captured sample, then pulses of 1, 3
    // and 50 samples, and a rise at the very last sample.
    test::Fill(c, 1, 40, 42, 1);
    test::Fill(c, 1, 90, 103, 1);
    test::Fill(c, 1, 5000, 5001, 1);
    test::Fill(c, 1, 9000, 9003, 1);
    test::Fill(c, 1, 20000, 20050, 1);
    test::Fill(c, 1, 32767, 32768, 1);
    const auto data = [&](int from, int to, int value) {
        for (int b = 0; b < 8; ++b) {
            test::Fill(c, 8 + b, from, to, (value >> b) & 1);
        }
    };
    data(0, 200, 0x3A); // from the cleared part into the data
    data(30000, 30010, 0x3A);
    data(31000, 31001, 0x5A);
    data(32767, 32768, 0x3B);
    // 115200 baud at 10 MHz: 87 samples a bit.
    test::WriteUart(c, 4, 1000, 87, {'A', 'B'}, 200);
    auto z = test::MakeCapture("");
    test::WriteUart(*z, 4, 31500, 87, {'Z'}, 0);
    for (int s = 31000; s < kSampleCount; ++s) {
        test::Fill(c, 4, s, s + 1, (z->samples[static_cast<std::size_t>(s) * 4] >> 4) & 1);
    }
    return capture;
}

Ranges RangesOf(const std::vector<Match>& matches) {
    Ranges out;
    for (const auto& m : matches) {
        out.emplace_back(m.start, m.end);
    }
    return out;
}

TEST(Search, FindsWhatWasPlantedAndNothingInTheClearedSamples) {
    const auto capture = Planted();
    struct Case {
        std::string match;
        Ranges want;
    };
    const Case cases[] = {
        // Edges: never the first captured sample (it has no predecessor), the last one is.
        {"--signal GL --edge rising", {{5000, 5000}, {9000, 9000}, {20000, 20000}, {32767, 32767}}},
        {"--signal 1 --edge falling", {{103, 103}, {5001, 5001}, {9003, 9003}, {20050, 20050}}},
        {"--signal GL --edge either",
         {{103, 103},
          {5000, 5000},
          {5001, 5001},
          {9000, 9000},
          {9003, 9003},
          {20000, 20000},
          {20050, 20050},
          {32767, 32767}}},
        {"--signal 30 --edge either", {}},
        // Pulses: complete ones only, so neither the one the data starts in nor the rise at
        // the end; limits in samples are strict, times exact at 100 ns a sample.
        {"--signal GL --pulse high --shorter 2", {{5000, 5001}}},
        {"--signal GL --pulse high --shorter 4", {{5000, 5001}, {9000, 9003}}},
        {"--signal GL --pulse high --shorter 300ns", {{5000, 5001}}},
        {"--signal GL --pulse high --shorter 301ns", {{5000, 5001}, {9000, 9003}}},
        {"--signal GL --pulse high --longer 2 --shorter 4", {{9000, 9003}}},
        {"--signal GL --pulse high --longer 4.9us", {{20000, 20050}}},
        {"--signal GL --pulse high --longer 5us", {}},
        {"--signal GL --pulse high", {{5000, 5001}, {9000, 9003}, {20000, 20050}}},
        {"--signal GL --pulse low --shorter 4000", {{5001, 9000}}},
        {"--signal GL --pulse low --longer 0.01s", {}},
        // Values: from the first captured sample on, up to the memory's last sample.
        {"--signal DATA --value 3A", {{kFirst, 199}, {30000, 30009}}},
        {"--signal DATA --value 0x0A --mask 0F", {{kFirst, 199}, {30000, 30009}, {31000, 31000}}},
        {"--signal DATA --value 3b", {{32767, 32767}}},
        {"--signal DATA --value FF", {}},
        {"--signal DATA --value 1 --mask 0", {{kFirst, 32767}}},
        {"--signal TWICE --value 1", {}}, // probe 5 both high and low
        {"--signal TWICE --value 0", {{kFirst, 32767}}},
        {"--pattern GL=1,DATA=0x3?", {{kFirst, 102}, {32767, 32767}}},
        {"--pattern 'DATA[1]=1,DATA[2]=0,GL=0'", {{103, 199}, {30000, 30009}, {31000, 31000}}},
        {"--pattern GL=?,DATA=0x?B", {{32767, 32767}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.match);
        const auto words = ParseMatchWords(c.match);
        ASSERT_TRUE(words) << words.error();
        const auto query = CompileMatch(*capture, *words);
        ASSERT_TRUE(query) << query.error();
        const auto all = FindMatches(*capture, *query);
        ASSERT_TRUE(all) << all.error();
        EXPECT_EQ(RangesOf(*all), c.want);
        const auto first = FindMatches(*capture, *query, {1});
        ASSERT_TRUE(first);
        EXPECT_EQ(RangesOf(*first), c.want.empty() ? Ranges{} : Ranges{c.want.front()});
    }

    // Decoded bytes, 0x41 'A' and 0x42 'B' from sample 1000, 0x5A 'Z' from 31500: each
    // match lies in its frame (a start bit and eight data bits).
    struct Decoded {
        std::string match;
        std::vector<std::pair<int, std::string>> want; // frame start, text
    };
    const std::string uart = "-P uart:rx=RX:baudrate=115200 -A uart=rx-data ";
    const Decoded decoded[] = {
        {uart + "--text 4", {{1000, "41"}, {1000 + 10 * 87 + 200, "42"}}},
        {uart + "--text '^5.$' --regex", {{31500, "5A"}}},
        {uart + "--text '42|5A' --regex", {{1000 + 10 * 87 + 200, "42"}, {31500, "5A"}}},
        {uart + "--text 00", {}},
    };
    for (const auto& d : decoded) {
        SCOPED_TRACE(d.match);
        const auto query = CompileMatch(*capture, *ParseMatchWords(d.match));
        ASSERT_TRUE(query) << query.error();
        const auto matches = FindMatches(*capture, *query);
        ASSERT_TRUE(matches) << matches.error();
        ASSERT_EQ(matches->size(), d.want.size());
        for (std::size_t i = 0; i < d.want.size(); ++i) {
            EXPECT_EQ((*matches)[i].kind, MatchKind::Decoded);
            EXPECT_EQ((*matches)[i].text, d.want[i].second);
            EXPECT_GE((*matches)[i].start, d.want[i].first);
            EXPECT_LT((*matches)[i].end, d.want[i].first + 10 * 87);
        }
    }
}

TEST(Search, BadMatchesSayWhatToWriteInstead) {
    auto capture = Planted();
    auto ext = Planted();
    ext->settings.rateIndex = 15;
    const std::pair<std::string, std::string> cases[] = {
        {"", "say what to find"},
        {"--signal GL --edge rising --pulse high", "give one match kind"},
        {"--signal NOPE --edge rising", "no row is named \"NOPE\"; name one of the rows (GL, "
                                        "DATA[0..7], RX"},
        {"--edge rising", "--edge needs --signal (one of GL, DATA[0..7]"},
        {"--signal GL --edge up", "--edge is rising, falling or either"},
        {"--signal GL --pulse high --shorter 3furlongs", "--shorter takes a number of samples"},
        {"--signal GL --pulse high --shorter 1.5", "--shorter takes a number of samples"},
        {"--signal GL --shorter 3", "--shorter and --longer limit a --pulse"},
        {"--signal DATA --value 1FF", "takes a hex value of DATA's 8 bits (0 to FF)"},
        {"--signal DATA --value 3G", "takes a hex value of DATA's 8 bits"},
        {"--signal DATA --mask 3", "--mask goes with --value"},
        {"--pattern GL", "--pattern takes SIGNAL=LEVEL terms"},
        {"--pattern GL=2", "GL takes 0, 1 or ?"},
        {"--pattern DATA=0x1FF", "DATA takes a hex value of its 8 bits"},
        {"--pattern GL=1,1=0", "--pattern can never match: probe 1 (in 1) would have to be both"},
        {"--pattern GL=1 --signal GL", "leave out --signal"},
        {"--text A", "give the decoder stack with -P"},
        {"-P uart:rx=RX", "needs --text TEXT"},
        {"-P uart:rx=RX --text '(' --regex", "is not a regular expression"},
        {"--signal GL --edge rising --frobnicate 3", "does not take \"--frobnicate\""},
        {"--signal 'GL", "unclosed ' quote"},
    };
    for (const auto& [match, message] : cases) {
        SCOPED_TRACE(match);
        const auto words = ParseMatchWords(match);
        const std::string error = words ? CompileMatch(*capture, *words).error() : words.error();
        EXPECT_NE(error.find(message), std::string::npos) << error;
    }
    // A time needs a known period; samples do not.
    const auto time = CompileMatch(*ext, *ParseMatchWords("--signal GL --pulse high --longer 1us"));
    EXPECT_NE(time.error().find("external clock"), std::string::npos) << time.error();
    const auto samples =
        CompileMatch(*ext, *ParseMatchWords("--signal GL --pulse high --longer 3"));
    ASSERT_TRUE(samples) << samples.error();
    EXPECT_EQ(RangesOf(*FindMatches(*ext, *samples)), (Ranges{{20000, 20050}}));
}

TEST(Search, AMatchWrittenOutReadsBackTheSame) {
    MatchWords words;
    words.stacks = {"uart:rx=RX:baudrate=115200"};
    words.annotations = {"uart=rx-data"};
    words.text = "it's \"a\" b\\c";
    words.regex = true;
    const auto back = ParseMatchWords(MatchWordsText(words));
    ASSERT_TRUE(back) << back.error();
    EXPECT_EQ(back->stacks, words.stacks);
    EXPECT_EQ(back->annotations, words.annotations);
    EXPECT_EQ(back->text, words.text);
    EXPECT_TRUE(back->regex);
    EXPECT_FALSE(back->signal);
}

} // namespace
} // namespace pulsara::analysis
