#include "capture/capture_files.h"
#include "capture/definition_text.h"
#include "cli/commands.h"
#include "support/temp_dir.h"

#include <CLI/CLI.hpp>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <unistd.h>

namespace pulsara::cli {
namespace {

namespace fs = std::filesystem;

struct Run {
    int status;
    std::string out;
    std::string err;
};

Run RunCli(std::vector<std::string> args) {
    std::ostringstream out;
    std::ostringstream err;
    CommandContext context{out, err};
    CLI::App app;
    app.require_subcommand(1);
    AddInfoCommand(app, context);
    AddCopyCommand(app, context);
    std::reverse(args.begin(), args.end());
    try {
        app.parse(args);
    } catch (const CLI::ParseError& e) {
        return {app.exit(e, out, err), out.str(), err.str()};
    }
    return {context.exitCode, out.str(), err.str()};
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = fs::current_path();
        // The working folder has no def.txt, so start-up uses the built-in text.
        fs::current_path(dir_);
    }
    void TearDown() override { fs::current_path(previous_); }
    void Write(const fs::path& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    const test::TempDir temp_;
    const fs::path dir_ = temp_.path();
    fs::path previous_;
};

TEST_F(CliTest, InfoJsonDescribesAHandWrittenDefinition) {
    // "データ" in Shift-JIS, a label index outside its table, a bus and a comment.
    Write(dir_ / "mine.txt", "; my board\r\n#SYSPARM 3,1,2,20,7,-100\r\n"
                             "\x83\x66\x81\x5B\x83\x5E 0,1,2,3\r\nCLK\t4\r\n");
    const auto run = RunCli({"info", "--json", "--def", (dir_ / "mine.txt").string()});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto info = nlohmann::json::parse(run.out);
    EXPECT_EQ(info["settings"]["rateIndex"], 3);
    EXPECT_EQ(info["settings"]["savedScrollPos"], -100);
    EXPECT_EQ(info["labels"]["rate"], "16.6MHz");
    EXPECT_EQ(info["labels"]["triggerCondition"], "\uFF28");
    EXPECT_TRUE(info["labels"]["triggerProbe"].is_null());
    EXPECT_EQ(info["rowCount"], 2);
    EXPECT_EQ(info["rows"][0]["name"], "\u30C7\u30FC\u30BF");
    EXPECT_EQ(info["rows"][0]["nameHex"], "8366815b835e");
    EXPECT_EQ(info["rows"][0]["probes"], nlohmann::json::array({0, 1, 2, 3}));
    EXPECT_EQ(info["rows"][1]["name"], "CLK");
    EXPECT_TRUE(info["sampleBytesRead"].is_null());
    EXPECT_TRUE(info["companion"].is_null());
    // SHA-256 of 131072 zero bytes (head -c 131072 /dev/zero | sha256sum).
    EXPECT_EQ(info["sampleMemorySha256"],
              "fa43239bcee7b97ca62f007cc68487560a39e19f74f3dde7486db3f98df8e471");
}

TEST_F(CliTest, InfoSummaryLinesUpWideNames) {
    Write(dir_ / "d.txt", "ABC 1\r\n\x83\x66\x81\x5B\x83\x5E 2\r\n\xB1\xB2 3\r\n");
    const auto run = RunCli({"info", "--def", (dir_ / "d.txt").string()});
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream lines(run.out);
    std::vector<std::size_t> columns;
    for (std::string line; std::getline(lines, line);) {
        if (const auto at = line.find("trace"); at != std::string::npos) {
            // Count columns: the full-width katakana take two each, half-width ones one.
            const auto prefix = line.substr(0, at);
            std::size_t width = 0;
            for (std::size_t i = 0; i < prefix.size();) {
                const auto c = static_cast<unsigned char>(prefix[i]);
                const bool three = c >= 0xE0;
                const bool halfWidth = three && prefix.compare(i, 2, "\xEF\xBD") == 0;
                width += three && !halfWidth ? 2 : 1;
                i += c < 0x80 ? 1 : c < 0xE0 ? 2 : 3;
            }
            columns.push_back(width);
        }
    }
    ASSERT_EQ(columns.size(), 3U);
    EXPECT_EQ(columns[0], columns[1]);
    EXPECT_EQ(columns[0], columns[2]);
}

TEST_F(CliTest, InfoReadsCaptureAndReportsShortFile) {
    Write(dir_ / "s.wfa", std::string(400, '\x01'));
    Write(dir_ / "s.wfd", "#SYSPARM\t15,2,3,15,0,77\r\nONE 0\r\n");
    const auto run = RunCli({"info", "--json", (dir_ / "s.wfa").string()});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto info = nlohmann::json::parse(run.out);
    EXPECT_EQ(info["sampleBytesRead"], 400);
    EXPECT_EQ(info["companion"], (dir_ / "s.wfd").string());
    EXPECT_EQ(info["labels"]["rate"], "EXT");
    EXPECT_EQ(info["rowCount"], 1);
    EXPECT_NE(run.err.find("400 of 131072"), std::string::npos);
}

TEST_F(CliTest, InfoJsonCopesWithAFileNameThatIsNotUtf8) {
    // "\x83\x66" is Shift-JIS, as a name copied from an old Windows disk may be.
    Write(dir_ / "\x83\x66.wfa", std::string(kSampleMemoryBytes, '\0'));
    Write(dir_ / "\x83\x66.wfd", "A 1\r\n");
    const auto run = RunCli({"info", "--json", (dir_ / "\x83\x66.wfa").string()});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto info = nlohmann::json::parse(run.out);
    EXPECT_EQ(info["rowCount"], 1);
    EXPECT_NE(info["companion"].get<std::string>().find("\uFFFD"), std::string::npos);
}

TEST_F(CliTest, ErrorsNameTheFileAndFail) {
    const std::vector<std::vector<std::string>> cases = {
        {"info", (dir_ / "missing.wfa").string()},
        {"info", "--def", (dir_ / "nodef.txt").string()},
        {"copy", (dir_ / "missing.wfa").string(), (dir_ / "out.wfa").string()},
        {"copy", "--h", "9000", "a.wfa", "b.wfa"},
    };
    for (const auto& args : cases) {
        const auto run = RunCli(args);
        EXPECT_NE(run.status, 0) << args.back();
        EXPECT_FALSE(run.err.empty()) << args.back();
    }
    EXPECT_NE(RunCli(cases[0]).err.find("missing.wfa"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir_ / "out.wfa"));
}

TEST_F(CliTest, CopyKeepsCaptureAndClampsThePosition) {
    auto capture = std::make_unique<Capture>();
    SetDefinitionText("#SYSPARM 2,1,0,5,3,9999\r\nBUS 1 2\r\n", *capture);
    for (std::size_t i = 0; i < capture->samples.size(); ++i) {
        capture->samples[i] = static_cast<std::uint8_t>(i * 13);
    }
    ASSERT_TRUE(SaveCapture(*capture, dir_ / "in.wfa", 9999).ok);

    struct Case {
        std::vector<std::string> extra;
        std::int32_t expectedPos;
    };
    const std::vector<Case> cases = {{{}, 8158}, {{"--h", "-12"}, -12}};
    for (const auto& c : cases) {
        std::vector<std::string> args = {"copy"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        args.push_back((dir_ / "in.wfa").string());
        args.push_back((dir_ / "copy.x.wfa").string());
        const auto run = RunCli(args);
        ASSERT_EQ(run.status, 0) << run.err;

        auto copied = std::make_unique<Capture>();
        ASSERT_TRUE(LoadCapture(*copied, dir_ / "copy.x.wfa").ok);
        EXPECT_TRUE(copied->samples == capture->samples);
        EXPECT_EQ(copied->settings.rateIndex, 2);
        EXPECT_EQ(copied->settings.unfilledPairs, 3);
        EXPECT_EQ(copied->settings.savedScrollPos, c.expectedPos);
        EXPECT_EQ(copied->channels.rowCount, 1);
    }
}

} // namespace
} // namespace pulsara::cli
