#include "device/firmware_loader.h"
#include "support/fake_driver.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sstream>

namespace pulsara {
namespace {

using namespace std::chrono_literals;
using test::milliseconds;

struct RecordingEvents : ConnectEvents {
    std::vector<std::string> failures;
    void ConnectFailed(std::string_view message, const ConnectResult& result) override {
        failures.push_back(std::string(message) + " | " + ExplainConnectFailure(result));
    }
};

class FirmwareLoaderTest : public ::testing::Test, protected test::LinkedBoard {
protected:
    const test::Bytes image = test::Bytes(4096, 0xAA);

    ConnectResult Connect(std::span<const std::uint8_t> withImage) {
        driver.calls.clear();
        clock.sleeps.clear();
        return ConnectBoard(-1, link, withImage, "WFFW", "V100", clock);
    }
    [[nodiscard]] std::vector<std::uint32_t> Codes() const {
        std::vector<std::uint32_t> codes;
        for (const auto& c : driver.IoCalls()) {
            codes.push_back(c.code);
        }
        return codes;
    }
};

constexpr auto kString = IOCTL_Ezusb_GET_STRING_DESCRIPTOR;
constexpr auto kVendor = IOCTL_Ezusb_VENDOR_REQUEST;
constexpr auto kDownload = IOCTL_Ezusb_ANCHOR_DOWNLOAD;

TEST_F(FirmwareLoaderTest, OnlyTheExactIdentityAvoidsAReload) {
    struct Case {
        std::string d1, d2;
        bool reload;
    };
    const std::vector<Case> cases = {{"WFFW", "V100", false}, {"WFFW", "V200", true},
                                     {"wffw", "V100", true},  {"WFFWX", "V100", true},
                                     {"ABCD", "V100", true},  {"", "", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.d1 + "/" + c.d2);
        board.descriptor1 = c.d1;
        board.descriptor2 = c.d2;
        const auto result = Connect(image);
        EXPECT_TRUE(result.ok());
        EXPECT_EQ(result.reloaded, c.reload);
        if (c.reload) {
            EXPECT_EQ(Codes(), (std::vector{kString, kString, kVendor, kDownload, kVendor}));
            const auto io = driver.IoCalls();
            EXPECT_EQ(io[2].input[9], 1); // reset on, the whole image, reset off
            EXPECT_EQ(io[3].input, image);
            EXPECT_EQ(io[4].input[9], 0);
            // Closed (claim released) before the pause, then reopened once.
            EXPECT_EQ(clock.sleeps, std::vector<milliseconds>{2000ms});
            EXPECT_EQ(driver.Opened(), (std::vector<int>{0, 0}));
        } else {
            EXPECT_EQ(Codes(), (std::vector{kString, kString}));
            EXPECT_TRUE(clock.sleeps.empty());
        }
        EXPECT_TRUE(link.claim.held());
        EXPECT_EQ(driver.openHandles.size(), 1U);
        CloseDevice(link);
    }
}

TEST_F(FirmwareLoaderTest, BoardBackAfterFiveSecondsOpensOnTheThirdAttempt) {
    board.descriptor2 = "V099";
    board.backAfter = 5000ms;
    EXPECT_TRUE(Connect(image).ok());
    EXPECT_EQ(clock.sleeps, (std::vector<milliseconds>{2000ms, 2000ms, 2000ms}));
    EXPECT_EQ(driver.Opened().size(), 1U + 8U + 8U + 1U); // two full scans fail
}

TEST_F(FirmwareLoaderTest, EachFailingStepEndsTheConnect) {
    struct Case {
        std::optional<std::string> d1;
        std::optional<std::string> d2;
        std::string failing;
        bool withImage;
        ConnectFailure failure;
        std::size_t ioCalls;
        std::string printed;
    };
    const std::vector<Case> cases = {
        {std::nullopt, "V100", "", true, ConnectFailure::Descriptor1, 1, ""},
        {"WFFW", std::nullopt, "", true, ConnectFailure::Descriptor2, 2, ""},
        {"OLD", "V1", "halt", true, ConnectFailure::Halt, 3, "i8051 halt err.\n"},
        {"OLD", "V1", "download", true, ConnectFailure::Download, 4, "usb dwnload err.\n"},
        {"OLD", "V1", "run", true, ConnectFailure::Run, 5, "i8051 run err.\n"},
        {"OLD", "V1", "", false, ConnectFailure::NoImage, 2, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ExplainConnectFailure({c.failure, false, {}}));
        board.descriptor1 = c.d1;
        board.descriptor2 = c.d2;
        board.failing = {c.failing};
        out.str("");
        const auto result =
            Connect(c.withImage ? std::span(image) : std::span<const std::uint8_t>{});
        EXPECT_EQ(result.failure, c.failure);
        EXPECT_EQ(result.status(), -1);
        EXPECT_EQ(driver.IoCalls().size(), c.ioCalls);
        EXPECT_EQ(out.str(), c.printed);
        EXPECT_TRUE(link.claim.held()); // a failed connect keeps the link as it was
        CloseDevice(link);
    }
}

TEST_F(FirmwareLoaderTest, NoBoardAndABoardThatNeverComesBack) {
    driver.present = [](int) { return false; };
    EXPECT_EQ(Connect(image).failure, ConnectFailure::NoInstance);
    EXPECT_TRUE(driver.IoCalls().empty());

    test::FakeBoard gone{driver, clock};
    gone.descriptor1 = "OLD";
    gone.backAfter.reset();
    const auto result = Connect(image);
    EXPECT_EQ(result.failure, ConnectFailure::NotBack);
    EXPECT_EQ(clock.sleeps.size(), 15U); // 2 s apart until 30 s have passed
    EXPECT_EQ(clock.now, 30000ms);
    EXPECT_FALSE(link.claim.held());
    EXPECT_NE(ExplainConnectFailure(result).find("did not come back"), std::string::npos);
}

TEST_F(FirmwareLoaderTest, ProgressNamesTheInstanceAndAClaimProblemIsReportedOnce) {
    struct Events : RecordingEvents {
        std::vector<std::string> lines;
        void Progress(std::string_view line) override { lines.emplace_back(line); }
    };
    const auto shared = locks.path() / "shared";
    std::filesystem::create_directory(shared);
    std::filesystem::permissions(shared, std::filesystem::perms::all);
    for (const bool sharedFolder : {false, true}) {
        SCOPED_TRACE(sharedFolder ? "lock folder others may write" : "private lock folder");
        link.lockDirectory = sharedFolder ? shared : locks.path();
        driver.present = [](int n) { return n == 2; };
        Events events;
        ASSERT_TRUE(ConnectBoard(-1, link, image, "WFFW", "V100", clock, &events).ok());
        ASSERT_FALSE(events.lines.empty());
        EXPECT_NE(events.lines.back().find("board instance 2 runs the firmware"),
                  std::string::npos);
        const bool noted = events.lines.front().find("other users") != std::string::npos;
        EXPECT_EQ(noted, sharedFolder);
        EXPECT_EQ(link.claimError, "");
        // A later failure of another kind does not carry the claim problem along.
        board.descriptor1.reset();
        const auto failed = ConnectBoard(2, link, image, "WFFW", "V100", clock, &events);
        EXPECT_EQ(failed.failure, ConnectFailure::Descriptor1);
        EXPECT_EQ(failed.detail, "");
        board.descriptor1 = "WFFW";
        CloseDevice(link);
    }
}

TEST_F(FirmwareLoaderTest, StartupReportsAFailureAndAlwaysSendsTheStartupCommand) {
    for (const bool attached : {true, false}) {
        SCOPED_TRACE(attached);
        board.writes.clear();
        driver.calls.clear();
        if (!attached) {
            driver.present = [](int) { return false; };
        }
        RecordingEvents events;
        EXPECT_EQ(ConnectAtStartup(link, image, clock, events).ok(), attached);
        ASSERT_EQ(events.failures.size(), attached ? 0U : 1U);
        if (!attached) {
            EXPECT_EQ(events.failures[0].rfind(kConnectFailureMessage, 0), 0U);
        }
        // After a failed connect the write goes to the unopened link and fails silently.
        EXPECT_EQ(driver.IoCalls().back().written, (test::Bytes{0x07, 0x10}));
        EXPECT_EQ(board.writes.size(), attached ? 1U : 0U);
        CloseDevice(link);
    }
}

} // namespace
} // namespace pulsara
