#include "capture/capture_files.h"
#include "capture/definition_text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace pulsara {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void FillPattern(SampleMemory& memory, std::uint8_t seed) {
    for (std::size_t i = 0; i < memory.size(); ++i) {
        memory[i] = static_cast<std::uint8_t>(i * 7 + seed);
    }
}

TEST(CompanionPath, CutsAtTheFirstDotOfTheFileName) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a.wfa", "a.wfd"},
        {"/tmp/x/a.wfa", "/tmp/x/a.wfd"},
        {"/tmp/x.y/a.wfa", "/tmp/x.y/a.wfd"},
        {"dir.d/a.b.wfa", "dir.d/a.wfd"},
        {"/data/capture", "/data/capture.wfd"},
        {"my.dir/noext", "my.dir/noext.wfd"},
    };
    for (const auto& [raw, companion] : cases) {
        EXPECT_EQ(CompanionPath(raw).string(), companion) << raw;
    }
}

TEST(CompanionText, ReplacesEverySettingsLineAndKeepsTheRest) {
    auto capture = std::make_unique<Capture>();
    SetDefinitionText("; rows\nA 1\r\n#SYSPARM 0\r\nB 2 3", *capture);
    capture->settings = {3, 1, 2, 15, 40000, 0};
    EXPECT_EQ(CompanionText(*capture, -77), "; rows\nA 1\r\n#SYSPARM\t3,1,2,15,40000,-77\r\nB 2 3");
}

class CaptureFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(dir_);
        capture_ = std::make_unique<Capture>();
        SetDefinitionText(DefaultDefinitionText(), *capture_);
    }
    const test::TempDir temp_;
    const fs::path dir_ = temp_ / "capture.files"; // a dot in the folder's name
    std::unique_ptr<Capture> capture_;
};

TEST_F(CaptureFilesTest, SaveThenLoadRestoresEverything) {
    auto& saved = *capture_;
    SetDefinitionText("#SYSPARM 0,0,0,0,0,0\r\nDATA 0 1 2 3\r\nCLK 4\r\n", saved);
    FillPattern(saved.samples, 3);
    saved.settings = {7, 2, 3, 15, 1234, 0};
    const fs::path raw = dir_ / "run.1.wfa"; // dots in the folder and in the name
    ASSERT_TRUE(SaveCapture(saved, raw, -4000).ok);
    EXPECT_EQ(saved.settings.savedScrollPos, -4000);
    EXPECT_EQ(fs::file_size(raw), kSampleMemoryBytes);
    EXPECT_TRUE(fs::exists(dir_ / "run.wfd"));

    auto loaded = std::make_unique<Capture>();
    SetDefinitionText(DefaultDefinitionText(), *loaded);
    const auto load = LoadCapture(*loaded, raw);
    ASSERT_TRUE(load.ok) << load.error;
    EXPECT_EQ(load.sampleBytesRead, kSampleMemoryBytes);
    EXPECT_FALSE(load.shortFile);
    ASSERT_TRUE(load.companionRead.has_value());
    EXPECT_EQ(*load.companionRead, dir_ / "run.wfd");
    EXPECT_EQ(loaded->samples, saved.samples);
    EXPECT_EQ(loaded->settings, saved.settings);
    ASSERT_EQ(loaded->channels.rowCount, 2);
    EXPECT_STREQ(loaded->channels.rows[0].name.data(), "DATA");
    EXPECT_EQ(loaded->channels.rows[0].probeCount, 4);
    EXPECT_STREQ(loaded->channels.rows[1].name.data(), "CLK");
}

TEST_F(CaptureFilesTest, TextWithoutSettingsLineLeavesIndicesOnLoad) {
    SetDefinitionText("ONLY 1\r\n", *capture_);
    capture_->settings = {5, 1, 1, 1, 0, 0};
    ASSERT_TRUE(SaveCapture(*capture_, dir_ / "a.wfa", 10).ok);
    EXPECT_EQ(ReadAll(dir_ / "a.wfd"), "ONLY 1\r\n");

    capture_->settings.rateIndex = 9;
    ASSERT_TRUE(LoadCapture(*capture_, dir_ / "a.wfa").ok);
    EXPECT_EQ(capture_->settings.rateIndex, 9);
}

TEST_F(CaptureFilesTest, FailedSaveLeavesOldFilesAndMemoryAlone) {
    FillPattern(capture_->samples, 1);
    const fs::path raw = dir_ / "keep.wfa";
    ASSERT_TRUE(SaveCapture(*capture_, raw, 5).ok);
    const auto oldRaw = ReadAll(raw);
    // The companion's place is taken by a folder, so the second file cannot be written.
    fs::remove(dir_ / "keep.wfd");
    fs::create_directory(dir_ / "keep.wfd");
    FillPattern(capture_->samples, 2);
    const auto result = SaveCapture(*capture_, raw, 99);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("keep.wfd"), std::string::npos) << result.error;
    EXPECT_TRUE(ReadAll(raw) == oldRaw) << "the previous samples were replaced";
    EXPECT_EQ(capture_->settings.savedScrollPos, 5);

    // No temporary files are left behind.
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_)) {
        ++entries;
    }
    EXPECT_EQ(entries, 2);
}

TEST_F(CaptureFilesTest, RawFileThatCannotBeReplacedLeavesTheCompanionAsItWas) {
    // With an old companion it is restored; without one, none is left behind.
    for (const bool hadCompanion : {true, false}) {
        fs::remove_all(dir_ / "r.wfd");
        if (hadCompanion) {
            std::ofstream(dir_ / "r.wfd", std::ios::binary) << "OLD\r\n";
        }
        fs::create_directories(dir_ / "r.wfa" / "inside");
        const auto result = SaveCapture(*capture_, dir_ / "r.wfa", 0);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(fs::exists(dir_ / "r.wfd"), hadCompanion);
        if (hadCompanion) {
            EXPECT_EQ(ReadAll(dir_ / "r.wfd"), "OLD\r\n");
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()),
                  hadCompanion ? 2 : 1);
    }
}

TEST_F(CaptureFilesTest, SaveIntoMissingFolderFailsCleanly) {
    const auto result = SaveCapture(*capture_, dir_ / "nope" / "a.wfa", 0);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("nope"), std::string::npos);
}

TEST_F(CaptureFilesTest, RawNameEndingInWfdIsRefused) {
    const auto result = SaveCapture(*capture_, dir_ / "x.wfd", 0);
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(fs::exists(dir_ / "x.wfd"));
}

TEST_F(CaptureFilesTest, ShortRawFileClearsTheRest) {
    FillPattern(capture_->samples, 9);
    {
        std::ofstream out(dir_ / "short.wfa", std::ios::binary);
        out << std::string(1000, '\x5A');
    }
    const auto load = LoadCapture(*capture_, dir_ / "short.wfa");
    ASSERT_TRUE(load.ok);
    EXPECT_TRUE(load.shortFile);
    EXPECT_EQ(load.sampleBytesRead, 1000U);
    EXPECT_FALSE(load.companionRead.has_value());
    EXPECT_EQ(capture_->samples[999], 0x5A);
    EXPECT_EQ(capture_->samples[1000], 0);
    EXPECT_EQ(capture_->samples[kSampleMemoryBytes - 1], 0);
}

TEST_F(CaptureFilesTest, LongRawFileIsReadToItsFirst131072Bytes) {
    {
        std::ofstream out(dir_ / "long.wfa", std::ios::binary);
        out << std::string(kSampleMemoryBytes + 10, '\x11');
    }
    const auto load = LoadCapture(*capture_, dir_ / "long.wfa");
    ASSERT_TRUE(load.ok);
    EXPECT_EQ(load.sampleBytesRead, kSampleMemoryBytes);
    EXPECT_FALSE(load.shortFile);
}

TEST_F(CaptureFilesTest, MissingRawFileChangesNothing) {
    FillPattern(capture_->samples, 4);
    const auto before = capture_->samples;
    const auto load = LoadCapture(*capture_, dir_ / "absent.wfa");
    EXPECT_FALSE(load.ok);
    EXPECT_NE(load.error.find("absent.wfa"), std::string::npos);
    EXPECT_EQ(capture_->samples, before);
    EXPECT_EQ(capture_->channels.rowCount, 32);
}

} // namespace
} // namespace pulsara
