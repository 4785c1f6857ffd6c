#include "device/driver_records.h"
#include "device/firmware_loader.h"
#include "fake_driver.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>

namespace pulsara {
namespace {

using namespace std::chrono_literals;
using test::DriverCall;

// A board on instance 0 that answers with two descriptor texts and, once its 8051 is
// released after a download, is off the bus until `backAfter` has passed.
struct LoaderBoard {
    std::optional<std::string> descriptor1 = "WFFW"; // nothing: the request fails
    std::optional<std::string> descriptor2 = "V100";
    bool failHalt = false;
    bool failDownload = false;
    bool failRun = false;
    std::optional<std::chrono::milliseconds> backAfter = 0ms; // nothing: never back
    std::optional<std::chrono::milliseconds> leftAt;

    void Attach(test::FakeDriver& driver, test::FakeClock& clock) {
        driver.present = [this, &clock](int n) {
            if (n != 0) {
                return false;
            }
            return !leftAt || (backAfter && clock.now - *leftAt >= *backAfter);
        };
        driver.reply = [this, &clock](const DriverCall& call, std::span<std::uint8_t> out) {
            switch (call.code) {
            case IOCTL_Ezusb_GET_STRING_DESCRIPTOR: {
                const auto& text = call.input[0] == 1 ? descriptor1 : descriptor2;
                if (!text) {
                    return IoResult{};
                }
                out[0] = static_cast<std::uint8_t>(2 + 2 * text->size());
                out[1] = 3;
                for (std::size_t k = 0; k < text->size(); ++k) {
                    out[2 + 2 * k] = static_cast<std::uint8_t>((*text)[k]);
                }
                return IoResult{true, out[0]};
            }
            case IOCTL_Ezusb_VENDOR_REQUEST: {
                const bool halt = call.input[9] == 1;
                if (halt ? failHalt : failRun) {
                    return IoResult{};
                }
                if (!halt) {
                    leftAt = clock.now;
                }
                return IoResult{true, 0};
            }
            case IOCTL_Ezusb_ANCHOR_DOWNLOAD:
                return IoResult{!failDownload, 0};
            default:
                return IoResult{true, 0};
            }
        };
    }
};

struct RecordingEvents : ConnectEvents {
    std::vector<std::string> progress;
    std::vector<std::string> failures;
    void Progress(std::string_view line) override { progress.emplace_back(line); }
    void ConnectFailed(std::string_view message, const ConnectResult& result) override {
        failures.push_back(std::string(message) + " | " + ExplainConnectFailure(result));
    }
};

class FirmwareLoaderTest : public ::testing::Test {
protected:
    test::TempDir locks;
    test::FakeDriver driver;
    test::FakeClock clock;
    std::ostringstream out;
    DeviceLink link{driver, out, locks.path()};
    LoaderBoard board;
    RecordingEvents events;
    std::vector<std::uint8_t> image = std::vector<std::uint8_t>(4096, 0xAA);

    ConnectResult Connect() {
        board.Attach(driver, clock);
        return ConnectBoard(-1, link, image, "WFFW", "V100", clock, &events);
    }

    [[nodiscard]] std::vector<std::uint32_t> Codes() const {
        std::vector<std::uint32_t> codes;
        for (const auto& c : driver.IoCalls()) {
            codes.push_back(c.code);
        }
        return codes;
    }
};

const std::vector<std::uint32_t> kIdentify = {IOCTL_Ezusb_GET_STRING_DESCRIPTOR,
                                              IOCTL_Ezusb_GET_STRING_DESCRIPTOR};
const std::vector<std::uint32_t> kReload = {
    IOCTL_Ezusb_GET_STRING_DESCRIPTOR, IOCTL_Ezusb_GET_STRING_DESCRIPTOR,
    IOCTL_Ezusb_VENDOR_REQUEST, IOCTL_Ezusb_ANCHOR_DOWNLOAD, IOCTL_Ezusb_VENDOR_REQUEST};

TEST_F(FirmwareLoaderTest, MatchingBoardStaysOpenAndClaimedWithoutDownload) {
    const auto result = Connect();
    EXPECT_TRUE(result.ok());
    EXPECT_FALSE(result.reloaded);
    EXPECT_EQ(Codes(), kIdentify);
    EXPECT_TRUE(link.handleOpen);
    EXPECT_TRUE(link.claim.held());
    EXPECT_TRUE(clock.sleeps.empty());
}

TEST_F(FirmwareLoaderTest, AnyOtherIdentityIsReloaded) {
    const std::vector<std::pair<std::string, std::string>> identities = {
        {"WFFW", "V200"}, {"wffw", "V100"}, {"WFFWX", "V100"}, {"", ""}, {"ABCD", "V100"}};
    for (const auto& [d1, d2] : identities) {
        SCOPED_TRACE(d1 + "/" + d2);
        driver.calls.clear();
        clock.sleeps.clear();
        board = LoaderBoard{};
        board.descriptor1 = d1;
        board.descriptor2 = d2;
        const auto result = Connect();
        EXPECT_TRUE(result.ok());
        EXPECT_TRUE(result.reloaded);
        EXPECT_EQ(Codes(), kReload);
        const auto io = driver.IoCalls();
        EXPECT_EQ(io[2].input[9], 1); // reset on
        EXPECT_EQ(io[3].input.size(), 4096U);
        EXPECT_EQ(io[4].input[9], 0); // reset off
        // Closed (claim released) before the pause, then reopened once.
        EXPECT_EQ(clock.sleeps, (std::vector<std::chrono::milliseconds>{2000ms}));
        EXPECT_TRUE(link.handleOpen);
        EXPECT_TRUE(link.claim.held());
        CloseDevice(link);
    }
}

TEST_F(FirmwareLoaderTest, BoardBackAfterFiveSecondsIsOpenedOnTheThirdAttempt) {
    board.descriptor2 = "V099";
    board.backAfter = 5000ms;
    const auto result = Connect();
    EXPECT_TRUE(result.ok());
    EXPECT_EQ(clock.sleeps, (std::vector<std::chrono::milliseconds>{2000ms, 2000ms, 2000ms}));
    // One open before the reload, then three scans; the last finds instance 0 at once.
    EXPECT_EQ(driver.OpenedInstances().size(), 1U + 8U + 8U + 1U);
    EXPECT_EQ(link.openedInstance, 0);
}

TEST_F(FirmwareLoaderTest, FailuresStopTheConnectAtTheirStep) {
    struct Case {
        const char* name;
        void (*setUp)(LoaderBoard&);
        ConnectFailure failure;
        std::size_t ioCalls;
        const char* printed;
        bool noImage = false;
    };
    const std::vector<Case> cases = {
        {"descriptor 1", [](LoaderBoard& b) { b.descriptor1.reset(); }, ConnectFailure::Descriptor1,
         1, ""},
        {"descriptor 2", [](LoaderBoard& b) { b.descriptor2.reset(); }, ConnectFailure::Descriptor2,
         2, ""},
        {"halt",
         [](LoaderBoard& b) {
             b.descriptor1 = "X";
             b.failHalt = true;
         },
         ConnectFailure::Halt, 3, "i8051 halt err.\n"},
        {"download",
         [](LoaderBoard& b) {
             b.descriptor1 = "X";
             b.failDownload = true;
         },
         ConnectFailure::Download, 4, "usb dwnload err.\n"},
        {"run",
         [](LoaderBoard& b) {
             b.descriptor1 = "X";
             b.failRun = true;
         },
         ConnectFailure::Run, 5, "i8051 run err.\n"},
        {"no image", [](LoaderBoard& b) { b.descriptor1 = "X"; }, ConnectFailure::NoImage, 2, "",
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::FakeDriver fresh;
        std::ostringstream printed;
        DeviceLink own{fresh, printed, locks.path()};
        LoaderBoard b;
        c.setUp(b);
        b.Attach(fresh, clock);
        const auto result =
            ConnectBoard(-1, own, c.noImage ? std::span<const std::uint8_t>{} : image, "WFFW",
                         "V100", clock, &events);
        EXPECT_EQ(result.failure, c.failure);
        EXPECT_EQ(result.status(), -1);
        EXPECT_EQ(fresh.IoCalls().size(), c.ioCalls);
        EXPECT_EQ(printed.str(), c.printed);
        EXPECT_TRUE(own.handleOpen); // a failed connect keeps the link as it was
    }
}

TEST_F(FirmwareLoaderTest, NoBoardAndABoardThatNeverComesBack) {
    driver.present = [](int) { return false; };
    auto result = ConnectBoard(-1, link, image, "WFFW", "V100", clock, &events);
    EXPECT_EQ(result.failure, ConnectFailure::NoInstance);
    EXPECT_TRUE(driver.IoCalls().empty());

    board.descriptor1 = "OLD";
    board.backAfter.reset();
    result = Connect();
    EXPECT_EQ(result.failure, ConnectFailure::NotBack);
    EXPECT_TRUE(result.reloaded);
    EXPECT_EQ(clock.sleeps.size(), 15U);
    EXPECT_EQ(clock.now, 30000ms);
    EXPECT_FALSE(link.claim.held());
    EXPECT_NE(ExplainConnectFailure(result).find("did not come back"), std::string::npos);
}

TEST_F(FirmwareLoaderTest, StartupShowsTheFailureAndAlwaysSendsTheStartupCommand) {
    for (const bool attached : {true, false}) {
        SCOPED_TRACE(attached ? "board attached" : "no board");
        test::FakeDriver fresh;
        DeviceLink own{fresh, out, locks.path()};
        RecordingEvents seen;
        board.Attach(fresh, clock);
        if (!attached) {
            fresh.present = [](int) { return false; };
        }
        const auto result = ConnectAtStartup(own, image, clock, seen);
        EXPECT_EQ(result.ok(), attached);
        EXPECT_EQ(seen.failures.size(), attached ? 0U : 1U);
        if (!attached) {
            EXPECT_EQ(seen.failures[0].rfind(std::string(kConnectFailureMessage), 0), 0U);
        }
        const auto last = fresh.IoCalls().back();
        EXPECT_EQ(last.code, IOCTL_EZUSB_BULK_WRITE);
        EXPECT_EQ(last.written, (std::vector<std::uint8_t>{0x07, 0x10}));
        CloseDevice(own);
    }
}

} // namespace
} // namespace pulsara
