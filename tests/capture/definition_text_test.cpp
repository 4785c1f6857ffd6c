#include "capture/definition_text.h"
#include "capture/samples.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <variant>
#include <vector>

namespace pulsara {
namespace {

std::string Name(const ChannelRow& row) {
    return std::string(row.name.data());
}

std::vector<int> Probes(const ChannelRow& row) {
    return {row.probes.begin(), row.probes.begin() + row.probeCount};
}

std::unique_ptr<Capture> Parsed(const std::string& text) {
    auto capture = std::make_unique<Capture>();
    SetDefinitionText(text, *capture);
    return capture;
}

TEST(ReadLine, SplitsAtLineFeedNulAndLimit) {
    struct Case {
        std::string text;
        int max;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {"ab\r\ncd", 1023, {"ab\r\n", "cd"}},
        {"\n\n", 1023, {"\n", "\n"}},
        {"", 1023, {}},
        {"abcdef", 4, {"abcd", "ef"}},
        {"abc", 0, {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> lines;
        char line[1024];
        const char* cursor = c.text.c_str();
        while (const int n = ReadLine(line, c.max, cursor)) {
            ASSERT_EQ(n, static_cast<int>(std::string(line).size()));
            lines.emplace_back(line);
        }
        EXPECT_EQ(lines, c.lines) << "text: " << c.text;
        if (c.max > 0) {
            EXPECT_EQ(*cursor, '\0');
        }
    }
}

TEST(ConvertNumber, BehavesLikeA32BitStrtol) {
    const std::vector<std::pair<std::string, std::int32_t>> cases = {
        {"12", 12},
        {"-7", -7},
        {"+5", 5},
        {"\r\n", 0},
        {"\r\n42", 42},
        {"12ab", 12},
        {"abc", 0},
        {"99999999999", 2147483647},
        {"-99999999999", -2147483647 - 1},
        {"-", 0},
    };
    for (const auto& [token, expected] : cases) {
        EXPECT_EQ(ConvertNumber(token), expected) << token;
    }
}

TEST(ParseDefinitionText, DefaultTextGivesThirtyTwoSingleProbeRows) {
    EXPECT_EQ(DefaultDefinitionText().size(), 428U);
    auto capture = std::make_unique<Capture>();
    capture->settings.rateIndex = 9;
    SetDefinitionText(DefaultDefinitionText(), *capture);
    ASSERT_EQ(capture->channels.rowCount, 32);
    EXPECT_EQ(capture->settings, CaptureSettings{});
    for (int i = 0; i < 32; ++i) {
        const auto& row = capture->channels.rows[static_cast<std::size_t>(i)];
        EXPECT_EQ(Name(row), (i < 10 ? "PROBE0" : "PROBE") + std::to_string(i));
        EXPECT_EQ(Probes(row), std::vector<int>{i});
    }
}

TEST(ParseDefinitionText, SettingsLinesAcceptAnyRunOfDelimiters) {
    const std::vector<std::string> lines = {
        "#SYSPARM 1 2 3 4 5 6\r\n",
        "#SYSPARM\t1,2,3,4,5,6\r\n",
        "#SYSPARM,,\t1,,\t2 , 3\t\t4,5,6\r\n",
        "#SYSPARM 1,2,3,4,5,6",
    };
    const CaptureSettings expected{1, 2, 3, 4, 5, 6};
    for (const auto& line : lines) {
        EXPECT_EQ(Parsed(line)->settings, expected) << line;
    }
}

TEST(ParseDefinitionText, SettingsValuesKeepOrLeaveFields) {
    struct Case {
        std::string text;
        CaptureSettings expected;
    };
    const CaptureSettings start{9, 9, 9, 9, 9, 9};
    const std::vector<Case> cases = {
        // No settings line: nothing changes.
        {"A 1\r\n", start},
        // Several: each is applied in turn, the last wins.
        {"#SYSPARM 1,1,1,1,1,1\r\n#SYSPARM 2,2,2,2,2,2\r\n", {2, 2, 2, 2, 2, 2}},
        // Fewer than six numbers leave the remaining fields as they were.
        {"#SYSPARM 1,2,3\r\n", {1, 2, 3, 9, 9, 9}},
        // The fifth number keeps its low 16 bits.
        {"#SYSPARM 0,0,0,0,70000,0\r\n", {0, 0, 0, 0, 4464, 0}},
        {"#SYSPARM 0,0,0,0,-1,-8190\r\n", {0, 0, 0, 0, 65535, -8190}},
        // A trailing delimiter before CR LF makes the line end a sixth token worth 0.
        {"#SYSPARM 1,2,3,4,5, \r\n", {1, 2, 3, 4, 5, 0}},
        // Whatever follows the keyword is split the same way: "x1" reads as 0.
        {"#SYSPARMx1,2,3,4,5,6", {0, 2, 3, 4, 5, 6}},
    };
    for (const auto& c : cases) {
        auto capture = std::make_unique<Capture>();
        capture->settings = start;
        SetDefinitionText(c.text, *capture);
        EXPECT_EQ(capture->settings, c.expected) << c.text;
    }
}

TEST(ParseDefinitionText, RowLines) {
    struct Case {
        std::string line;
        std::string name;
        std::vector<int> probes;
    };
    const std::vector<Case> cases = {
        {"\r\n", "\r\n", {}},
        {"CLK\r\n", "CLK\r\n", {}},
        {"CLK \r\n", "CLK", {}},
        {"#DATA 3\r\n", "#DATA", {3}},
        {"BUS 0, 1\t2 ,\t3,,4 \t 5\r\n", "BUS", {0, 1, 2, 3, 4, 5}},
        {"ABCDEFGHIJKLMNOPQRST 1\r\n", "ABCDEFGHIJKL", {1}},
        {"X 12ab zz 7\r\n", "X", {12, 0, 7}},
        {"X 300 -1\r\n", "X", {44, 255}},
        {"LAST 4", "LAST", {4}},
        {"LF 4 \n", "LF", {4}},
        {"LF 4\n", "LF", {4}},
        {"  INDENT 2\r\n", "INDENT", {2}},
    };
    for (const auto& c : cases) {
        const auto capture = Parsed(c.line);
        ASSERT_EQ(capture->channels.rowCount, 1) << c.line;
        EXPECT_EQ(Name(capture->channels.rows[0]), c.name) << c.line;
        EXPECT_EQ(Probes(capture->channels.rows[0]), c.probes) << c.line;
    }
}

TEST(ParseDefinitionText, RowKeepsAtMostThirtyTwoProbes) {
    std::string line = "WIDE";
    for (int i = 0; i < 40; ++i) {
        line += " " + std::to_string(i % 32);
    }
    const auto capture = Parsed(line + "\r\n");
    EXPECT_EQ(capture->channels.rows[0].probeCount, 32);
    EXPECT_EQ(capture->channels.rows[0].probes[31], 31);
}

TEST(ParseDefinitionText, CommentsAndLimits) {
    std::string text = ";comment\r\n";
    for (int i = 0; i < 70; ++i) {
        text += "R" + std::to_string(i) + " 1\r\n";
    }
    const auto capture = Parsed(text);
    EXPECT_EQ(capture->channels.rowCount, 64);
    EXPECT_EQ(Name(capture->channels.rows[0]), "R0");
    EXPECT_EQ(Name(capture->channels.rows[63]), "R63");

    // A line longer than 1023 characters is read as several lines.
    const auto longLine = Parsed(std::string(1023, 'A') + "BBB 5\r\n");
    ASSERT_EQ(longLine->channels.rowCount, 2);
    EXPECT_EQ(Name(longLine->channels.rows[1]), "BBB");
    EXPECT_EQ(Probes(longLine->channels.rows[1]), std::vector<int>{5});
}

TEST(ParseDefinitionText, ShorterParseLeavesLaterRowsInPlace) {
    auto capture = Parsed("A 1\r\nB 2\r\nC 3\r\n");
    SetDefinitionText("Z 9\r\n", *capture);
    EXPECT_EQ(capture->channels.rowCount, 1);
    EXPECT_EQ(Name(capture->channels.rows[0]), "Z");
    EXPECT_EQ(Name(capture->channels.rows[2]), "C");
}

TEST(SetDefinitionText, CutsTextAt16383Bytes) {
    std::string text;
    while (text.size() < 20000) {
        text += "ROW 1\r\n";
    }
    auto capture = std::make_unique<Capture>();
    SetDefinitionText(text, *capture);
    EXPECT_EQ(std::string(capture->definition.data()).size(), 16383U);
}

TEST(Samples, ReadsStayInsideTheMemory) {
    auto capture = std::make_unique<Capture>();
    capture->samples[4 * 32767 + 3] = 0x80;
    EXPECT_EQ(SampleWord(capture->samples, 32767), 0x80000000U);
    EXPECT_EQ(SampleProbe(capture->samples, 32767, 31), 1);
    EXPECT_EQ(SampleProbe(capture->samples, 32767, 32), 0);
    EXPECT_EQ(SampleWord(capture->samples, 32768), 0U);
    EXPECT_EQ(SampleWord(capture->samples, -1), 0U);
}

// What LoadDefinitionFile did, as the parent process sees it.
struct LoadOutcome {
    DefinitionFileLoad::Source source = DefinitionFileLoad::Source::ReadFromFile;
    std::string warning;
    int rowCount = 0;
};

constexpr uid_t kNobody = 65534;

// LoadDefinitionFile on `dir` as a user whom file permissions bind. Root reads and writes
// past permission bits, so as root `dir` and everything in it is handed to uid 65534 and
// the load runs in a child process that has dropped to that user for good.
std::variant<LoadOutcome, std::string> LoadAsUnprivilegedUser(const std::filesystem::path& dir) {
    const auto load = [&dir] {
        auto capture = std::make_unique<Capture>();
        const DefinitionFileLoad result = LoadDefinitionFile(*capture, dir);
        return LoadOutcome{result.source, result.warning, capture->channels.rowCount};
    };
    if (::geteuid() != 0) {
        return load();
    }
    for (const auto& path : {dir, dir / "def.txt"}) {
        if (::lchown(path.c_str(), kNobody, kNobody) != 0 && errno != ENOENT) {
            return "chown " + path.string() + ": " + std::strerror(errno);
        }
    }
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        return std::string("pipe: ") + std::strerror(errno);
    }
    const pid_t child = ::fork();
    if (child < 0) {
        return std::string("fork: ") + std::strerror(errno);
    }
    if (child == 0) {
        ::close(pipeFds[0]);
        std::string report;
        struct stat folder {};
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
            report = std::string("cannot drop to uid 65534: ") + std::strerror(errno);
        } else if (::setuid(0) == 0 || ::geteuid() == 0) {
            report = "uid 65534 could become root again";
        } else if (::stat(dir.c_str(), &folder) != 0) {
            report = "uid 65534 cannot reach " + dir.string() +
                     "; set TMPDIR to a folder every user can reach";
        } else {
            const LoadOutcome outcome = load();
            report = std::to_string(static_cast<int>(outcome.source)) + "\n" +
                     std::to_string(outcome.rowCount) + "\n" + outcome.warning;
        }
        const bool sent = ::write(pipeFds[1], report.data(), report.size()) ==
                          static_cast<ssize_t>(report.size());
        ::_exit(sent ? 0 : 1);
    }
    ::close(pipeFds[1]);
    std::string report;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno != EINTR) {
            break;
        }
        report.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    }
    ::close(pipeFds[0]);
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return "the unprivileged child failed: " + report;
    }
    LoadOutcome outcome;
    std::istringstream lines(report);
    int source = -1;
    if (!(lines >> source >> outcome.rowCount) || source < 0 || source > 2) {
        return report;
    }
    outcome.source = static_cast<DefinitionFileLoad::Source>(source);
    lines.ignore(1);
    std::getline(lines, outcome.warning, '\0');
    return outcome;
}

class DefinitionFileTest : public ::testing::Test {
protected:
    // The unprivileged child must reach the folder, which mkdtemp makes 0700.
    void SetUp() override { ::chmod(dir_.c_str(), 0755); }
    const test::TempDir temp_;
    const std::filesystem::path dir_ = temp_.path();
};

TEST_F(DefinitionFileTest, MissingFileIsCreatedWithTheDefaultText) {
    auto capture = std::make_unique<Capture>();
    const auto load = LoadDefinitionFile(*capture, dir_);
    EXPECT_EQ(load.source, DefinitionFileLoad::Source::CreatedDefault);
    EXPECT_EQ(std::filesystem::file_size(dir_ / "def.txt"), 428U);
    EXPECT_EQ(capture->channels.rowCount, 32);

    // A second start reads what the first one wrote.
    auto again = std::make_unique<Capture>();
    EXPECT_EQ(LoadDefinitionFile(*again, dir_).source, DefinitionFileLoad::Source::ReadFromFile);
    EXPECT_EQ(again->channels.rowCount, 32);
}

TEST_F(DefinitionFileTest, UnwritableFolderFallsBackToTheDefaultInMemory) {
    ::chmod(dir_.c_str(), 0555);
    const auto loaded = LoadAsUnprivilegedUser(dir_);
    ASSERT_TRUE(std::holds_alternative<LoadOutcome>(loaded)) << std::get<std::string>(loaded);
    const auto& load = std::get<LoadOutcome>(loaded);
    EXPECT_EQ(load.source, DefinitionFileLoad::Source::DefaultInMemory);
    EXPECT_NE(load.warning.find((dir_ / "def.txt").string()), std::string::npos) << load.warning;
    EXPECT_EQ(load.rowCount, 32);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "def.txt"));
}

TEST_F(DefinitionFileTest, UnreadableFileIsKeptAndTheDefaultUsedInMemory) {
    std::ofstream(dir_ / "def.txt", std::ios::binary) << "MINE 3\r\n";
    ::chmod((dir_ / "def.txt").c_str(), 0200);
    const auto loaded = LoadAsUnprivilegedUser(dir_);
    ASSERT_TRUE(std::holds_alternative<LoadOutcome>(loaded)) << std::get<std::string>(loaded);
    EXPECT_EQ(std::get<LoadOutcome>(loaded).source, DefinitionFileLoad::Source::DefaultInMemory);
    EXPECT_EQ(std::get<LoadOutcome>(loaded).rowCount, 32);
    ::chmod((dir_ / "def.txt").c_str(), 0600);
    std::ifstream kept(dir_ / "def.txt", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "MINE 3\r\n");
}

TEST_F(DefinitionFileTest, FolderNamedDefTxtFallsBackToTheDefaultInMemory) {
    // Works as root too: a folder can neither be read as text nor replaced by a file.
    std::filesystem::create_directory(dir_ / "def.txt");
    auto capture = std::make_unique<Capture>();
    const auto load = LoadDefinitionFile(*capture, dir_);
    EXPECT_EQ(load.source, DefinitionFileLoad::Source::DefaultInMemory);
    EXPECT_EQ(capture->channels.rowCount, 32);
}

TEST_F(DefinitionFileTest, NulEndsTheText) {
    std::ofstream(dir_ / "def.txt", std::ios::binary) << std::string("A 1\r\n\0B 2\r\n", 12);
    auto capture = std::make_unique<Capture>();
    EXPECT_EQ(LoadDefinitionFile(*capture, dir_).source, DefinitionFileLoad::Source::ReadFromFile);
    EXPECT_EQ(capture->channels.rowCount, 1);
}

} // namespace
} // namespace pulsara
