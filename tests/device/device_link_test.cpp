#include "device/device_link.h"
#include "device/driver_records.h"
#include "fake_driver.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <numeric>
#include <sstream>

namespace pulsara {
namespace {

using test::DriverCall;
using test::FakeDriver;
using test::TempDir;
using Bytes = std::vector<std::uint8_t>;

class DeviceLinkTest : public ::testing::Test {
protected:
    TempDir locks;
    FakeDriver driver;
    std::ostringstream out;
    DeviceLink link{driver, out, locks.path()};

    void OpenInstanceZero() {
        driver.present = [](int n) { return n == 0; };
        ASSERT_EQ(OpenDevice(0, link), 0);
        driver.calls.clear();
    }
};

TEST_F(DeviceLinkTest, OperationsIssueTheDriversRecordsAndCodes) {
    OpenInstanceZero();
    const Bytes image(4096, 0x5A);
    std::array<char, kStringTextSize> text{};
    const Bytes data{0x66, 0x00, 0x00, 0x08};
    std::array<std::uint8_t, 3> buffer{};
    ASSERT_EQ(Halt8051(link), 0);
    ASSERT_EQ(DownloadFirmware(link, image), 0);
    ASSERT_EQ(Run8051(link), 0);
    ASSERT_EQ(GetStringDescriptor(link, 0x102, text), 0); // only the low 8 bits count
    ASSERT_EQ(BulkWrite(link, 0, data), 0);
    ASSERT_EQ(BulkRead(link, 8, buffer), 0);

    struct Expected {
        std::uint32_t code;
        Bytes input;
        std::size_t outputLength;
    };
    const std::vector<Expected> expected = {
        {0x222014, {0xA0, 0x00, 0x92, 0x7F, 0x00, 0x00, 0x01, 0x00, 0x00, 0x01}, 0},
        {0x22201C, image, 0},
        {0x222014, {0xA0, 0x00, 0x92, 0x7F, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00}, 0},
        {0x222044, {0x02, 0x00, 0x1B, 0x00}, 130},
        {0x222051, {0x00, 0x00, 0x00, 0x00}, 4},
        {0x22204E, {0x08, 0x00, 0x00, 0x00}, 3},
    };
    const auto io = driver.IoCalls();
    ASSERT_EQ(io.size(), expected.size());
    for (std::size_t i = 0; i < io.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(io[i].code, expected[i].code);
        EXPECT_EQ(io[i].input, expected[i].input);
        EXPECT_EQ(io[i].outputLength, expected[i].outputLength);
    }
    EXPECT_EQ(io[4].written, data); // the bulk write's data travels in the output buffer
    EXPECT_EQ(out.str(), "");
}

TEST_F(DeviceLinkTest, FailuresPrintTheirLineAndReturnMinusOne) {
    OpenInstanceZero();
    driver.reply = [](const DriverCall&, std::span<std::uint8_t>) { return IoResult{}; };
    const Bytes image(4096, 0);
    std::array<char, kStringTextSize> text{};
    text[0] = 'x';
    EXPECT_EQ(Halt8051(link), -1);
    EXPECT_EQ(DownloadFirmware(link, image), -1);
    EXPECT_EQ(Run8051(link), -1);
    EXPECT_EQ(GetStringDescriptor(link, 1, text), -1);
    EXPECT_EQ(text[0], 'x');
    EXPECT_EQ(out.str(), "i8051 halt err.\nusb dwnload err.\ni8051 run err.\n");
}

TEST_F(DeviceLinkTest, BulkTransfersSplitIntoChunksOf32768) {
    OpenInstanceZero();
    struct Case {
        const char* name;
        bool read;
        std::size_t count;
        std::vector<std::uint32_t> returned; // per chunk (reads); a gap ends in failure
        std::size_t failAt;                  // chunk index that fails, or SIZE_MAX
        std::vector<std::size_t> chunks;     // lengths the driver saw
        int result;
    };
    const std::vector<Case> cases = {
        {"write of 0", false, 0, {}, SIZE_MAX, {}, 0},
        {"write of 40000", false, 40000, {}, SIZE_MAX, {32768, 7232}, 0},
        {"write of 40000, second fails", false, 40000, {}, 1, {32768, 7232}, -1},
        {"read of 0", true, 0, {}, SIZE_MAX, {}, 0},
        {"read of 131072",
         true,
         131072,
         {32768, 32768, 32768, 32768},
         SIZE_MAX,
         {32768, 32768, 32768, 32768},
         131072},
        {"read of 40000, first short", true, 40000, {100, 7232}, SIZE_MAX, {32768, 7232}, 7332},
        {"read of 40000, second fails", true, 40000, {32768}, 1, {32768, 7232}, -1},
        {"read with an inflated count", true, 10, {500}, SIZE_MAX, {10}, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        driver.calls.clear();
        std::size_t chunk = 0;
        driver.reply = [&](const DriverCall&, std::span<std::uint8_t> output) {
            const std::size_t i = chunk++;
            if (i == c.failAt) {
                return IoResult{};
            }
            const std::uint32_t n = c.read ? c.returned.at(i) : 0;
            std::fill_n(output.begin(), std::min<std::size_t>(n, output.size()),
                        static_cast<std::uint8_t>(0xC0 + i));
            return IoResult{true, n};
        };
        Bytes buffer(c.count, 0x11);
        std::iota(buffer.begin(), buffer.end(), std::uint8_t{0});
        const Bytes before = buffer;
        const int result = c.read ? BulkRead(link, 8, buffer) : BulkWrite(link, 0, buffer);
        EXPECT_EQ(result, c.result);
        std::vector<std::size_t> chunks;
        for (const auto& call : driver.IoCalls()) {
            chunks.push_back(call.outputLength);
        }
        EXPECT_EQ(chunks, c.chunks);
        if (!c.read && !driver.IoCalls().empty()) {
            EXPECT_EQ(driver.IoCalls()[0].written, Bytes(before.begin(), before.begin() + 32768));
        }
        if (std::string(c.name) == "read of 40000, first short") {
            // The short chunk leaves the rest of its slot; the next lands at 32768.
            EXPECT_EQ(buffer[99], 0xC0);
            EXPECT_EQ(buffer[100], before[100]);
            EXPECT_EQ(buffer[32767], before[32767]);
            EXPECT_EQ(buffer[32768], 0xC1);
        }
    }
}

TEST_F(DeviceLinkTest, StringDescriptorKeepsTheLowByteOfEachReceivedUnit) {
    OpenInstanceZero();
    const Bytes wffw = {10, 3, 'W', 0, 'F', 0, 'F', 0, 'W', 0};
    struct Case {
        const char* name;
        Bytes reply;
        std::uint32_t returned;
        std::string text;
    };
    auto withLength = [&](std::uint8_t length) {
        Bytes r = wffw;
        r[0] = length;
        return r;
    };
    Bytes katakana = {4, 3, 0xAB, 0x30};
    Bytes full(130, 0);
    full[0] = 255; // claims 126 units; the buffer holds 64
    for (std::size_t k = 0; k < 64; ++k) {
        full[2 + 2 * k] = static_cast<std::uint8_t>('a' + k % 26);
    }
    std::string alphabet64;
    for (std::size_t k = 0; k < 64; ++k) {
        alphabet64 += static_cast<char>('a' + k % 26);
    }
    const std::vector<Case> cases = {
        {"length 10", wffw, 10, "WFFW"},
        {"length 11", withLength(11), 10, "WFFW"},
        {"length 3", withLength(3), 10, ""},
        {"length 2", withLength(2), 10, ""},
        {"length 1", withLength(1), 10, ""},
        {"length 0", withLength(0), 10, ""},
        {"U+30AB gives 0xAB", katakana, 4, "\xAB"},
        {"length beyond what arrived", wffw, 6, "WF"},
        {"nothing arrived", wffw, 0, ""},
        {"length beyond the buffer", full, 130, alphabet64},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        driver.reply = [&](const DriverCall&, std::span<std::uint8_t> output) {
            std::copy_n(c.reply.begin(), std::min(c.reply.size(), output.size()), output.begin());
            return IoResult{true, c.returned};
        };
        std::array<char, kStringTextSize> text;
        text.fill('?');
        ASSERT_EQ(GetStringDescriptor(link, 1, text), 0);
        EXPECT_EQ(std::string(text.data()), c.text);
    }
}

TEST_F(DeviceLinkTest, OpenScanSkipsClaimedAndAbsentInstances) {
    // Claims held by other open files behave as claims of another process (see the
    // two-process tests of InstanceClaim).
    InstanceClaim other0;
    InstanceClaim other1;
    ASSERT_EQ(other0.TryClaim(locks.path(), 0), InstanceClaim::Outcome::Claimed);
    ASSERT_EQ(other1.TryClaim(locks.path(), 1), InstanceClaim::Outcome::Claimed);
    driver.present = [](int n) { return n == 3 || n == 4; };

    ASSERT_EQ(OpenDevice(-1, link), 0);
    EXPECT_EQ(driver.OpenedInstances(), (std::vector<int>{2, 3}));
    EXPECT_EQ(link.openedInstance, 3);
    EXPECT_TRUE(link.claim.held());
    EXPECT_EQ(link.claim.instance(), 3);
    InstanceClaim probe;
    EXPECT_EQ(probe.TryClaim(locks.path(), 3), InstanceClaim::Outcome::HeldElsewhere);
    EXPECT_EQ(probe.TryClaim(locks.path(), 2), InstanceClaim::Outcome::Claimed); // 2 not kept
    probe.Release();

    // Closing releases the claim but keeps the closed handle value.
    const DriverHandle handle = link.handle;
    EXPECT_EQ(CloseDevice(link), 0);
    EXPECT_EQ(link.handle, handle);
    EXPECT_FALSE(link.claim.held());
    EXPECT_EQ(probe.TryClaim(locks.path(), 3), InstanceClaim::Outcome::Claimed);
}

TEST_F(DeviceLinkTest, OpenWithoutBoardsOrWithEverythingClaimed) {
    ASSERT_EQ(OpenDevice(-1, link), -1);
    EXPECT_EQ(driver.OpenedInstances(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(link.handle, kInvalidHandle);
    EXPECT_FALSE(link.claim.held());

    // All eight claimed elsewhere: no open is tried and the handle keeps its value.
    std::array<InstanceClaim, kMaxInstances> others;
    for (int n = 0; n < kMaxInstances; ++n) {
        ASSERT_EQ(others[static_cast<std::size_t>(n)].TryClaim(locks.path(), n),
                  InstanceClaim::Outcome::Claimed);
    }
    driver.present = [](int) { return true; };
    driver.calls.clear();
    FakeDriver fresh;
    DeviceLink untouched{fresh, out, locks.path()};
    EXPECT_EQ(OpenDevice(-1, untouched), -1);
    EXPECT_TRUE(fresh.calls.empty());
    EXPECT_EQ(untouched.handle, kNullHandle);

    // An explicit number opens a claimed instance without claiming it.
    ASSERT_EQ(OpenDevice(5, link), 0);
    EXPECT_FALSE(link.claim.held());
    driver.calls.clear();
    CloseDevice(link);
    ASSERT_EQ(driver.calls.size(), 1U);
    EXPECT_EQ(driver.calls[0].kind, DriverCall::Kind::Close);
}

TEST_F(DeviceLinkTest, OperationsOnAFailedOpenFailInTheDriver) {
    ASSERT_EQ(OpenDevice(-1, link), -1);
    driver.calls.clear();
    EXPECT_EQ(BulkWrite(link, 0, Bytes{0x07, 0x10}), -1);
    ASSERT_EQ(driver.IoCalls().size(), 1U);
    EXPECT_EQ(driver.IoCalls()[0].handle, kInvalidHandle);
}

TEST(DeviceLinkLifetime, DestroyingTheLinkClosesItsHandle) {
    TempDir locks;
    FakeDriver driver;
    driver.present = [](int) { return true; };
    std::ostringstream out;
    {
        DeviceLink link{driver, out, locks.path()};
        ASSERT_EQ(OpenDevice(-1, link), 0);
        ASSERT_EQ(OpenDevice(1, link), 0); // reopening closes the handle it replaces
        EXPECT_EQ(driver.openHandles.size(), 1U);
    }
    EXPECT_TRUE(driver.openHandles.empty());
}

} // namespace
} // namespace pulsara
