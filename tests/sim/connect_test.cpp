// The start-up connect through the real host code against each power-on state of the
// simulated board, checked through the I/O controls the host issued.

#include "device/capture_protocol.h"
#include "device/firmware_loader.h"
#include "firmware/image.h"
#include "support/sim_fixture.h"

#include <array>
#include <cstring>
#include <sstream>

namespace pulsara::test {
namespace {

struct Events final : ConnectEvents {
    void ConnectFailed(std::string_view message, const ConnectResult&) override {
        failures.emplace_back(message);
    }
    std::vector<std::string> failures;
};

enum class Step { Open, Descriptor, Halt, Download, Run, Close, BulkWrite };

Step StepOf(const RecordedCall& c) {
    if (c.closed) {
        return Step::Close;
    }
    if (c.openedInstance >= 0) {
        return Step::Open;
    }
    switch (c.code) {
    case IOCTL_Ezusb_GET_STRING_DESCRIPTOR:
        return Step::Descriptor;
    case IOCTL_Ezusb_VENDOR_REQUEST:
        return c.input.size() == 10 && c.input[9] == 1 ? Step::Halt : Step::Run;
    case IOCTL_Ezusb_ANCHOR_DOWNLOAD:
        return Step::Download;
    default:
        return Step::BulkWrite;
    }
}

struct ConnectCase {
    const char* name;
    SimBoot boot;
    ConnectFailure failure;
    bool reloaded;
    std::vector<Step> steps;     // every call, in order
    std::vector<bool> succeeded; // its result
    std::vector<std::chrono::milliseconds> sleeps;
};

void PrintTo(const ConnectCase& c, std::ostream* os) {
    *os << c.name;
}

class SimConnect : public ::testing::TestWithParam<ConnectCase> {};

TEST_P(SimConnect, FollowsTheLoaderThroughTheDriver) {
    const ConnectCase& c = GetParam();
    VirtualClock clock;
    SimDriver sim{{1, c.boot, 1.0}, clock};
    RecordingDriver driver{sim};
    TempDir locks;
    std::ostringstream messages;
    DeviceLink link{driver, messages, locks.path()};
    Events events;

    const ConnectResult result = ConnectAtStartup(link, FirmwareImage(), clock, events);

    EXPECT_EQ(result.failure, c.failure) << ExplainConnectFailure(result);
    EXPECT_EQ(result.reloaded, c.reloaded);
    std::vector<Step> steps;
    std::vector<bool> succeeded;
    for (const auto& call : driver.calls) {
        steps.push_back(StepOf(call));
        succeeded.push_back(call.ok);
        if (StepOf(call) == Step::Download) {
            EXPECT_EQ(call.input.size(), kFirmwareImageSize);
        }
    }
    EXPECT_EQ(steps, c.steps);
    EXPECT_EQ(succeeded, c.succeeded);
    EXPECT_EQ(clock.sleeps, c.sleeps);
    EXPECT_EQ(events.failures.size(), c.failure == ConnectFailure::None ? 0u : 1u);
    EXPECT_TRUE(messages.str().empty()) << messages.str();

    if (result.ok()) {
        // Whatever it booted, the board now runs our firmware and takes commands.
        std::array<char, kStringTextSize> product{};
        ASSERT_EQ(GetStringDescriptor(link, 2, product), 0);
        EXPECT_STREQ(product.data(), "V100");
        EXPECT_EQ(sim.board(0).logic().mode(), 0);
    }
}

using enum Step;
using std::chrono::milliseconds;
INSTANTIATE_TEST_SUITE_P(
    Boots, SimConnect,
    ::testing::Values(ConnectCase{"Old",
                                  SimBoot::Old,
                                  ConnectFailure::None,
                                  true,
                                  {Open, Descriptor, Descriptor, Halt, Download, Run, Close, Open,
                                   BulkWrite},
                                  {true, true, true, true, true, true, true, true, true},
                                  {milliseconds(2000)}},
                      ConnectCase{"Current",
                                  SimBoot::Current,
                                  ConnectFailure::None,
                                  false,
                                  {Open, Descriptor, Descriptor, BulkWrite},
                                  {true, true, true, true},
                                  {}},
                      // The chip's default device has no strings: nothing is loaded, the start-up
                      // command is still sent, and fails on a device without our pipes.
                      ConnectCase{"Blank",
                                  SimBoot::Blank,
                                  ConnectFailure::Descriptor1,
                                  false,
                                  {Open, Descriptor, BulkWrite},
                                  {true, false, false},
                                  {}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace pulsara::test
