#include "device/device_link.h"
#include "device/libusb_driver.h"
#include "support/fake_driver.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <numeric>
#include <sstream>

namespace pulsara {
namespace {

using test::Bytes;
using test::DriverCall;

class DeviceLinkTest : public ::testing::Test {
protected:
    test::TempDir locks;
    test::FakeDriver driver;
    std::ostringstream out;
    DeviceLink link{driver, out, locks.path()};

    void OpenBoard() {
        driver.present = [](int n) { return n == 0; };
        ASSERT_EQ(OpenDevice(0, link), 0);
        driver.calls.clear();
    }
};

TEST_F(DeviceLinkTest, OperationsIssueTheDriversRecordsAndCodes) {
    OpenBoard();
    const Bytes image(4096, 0x5A);
    const Bytes data{0x66, 0x00, 0x00, 0x08};
    std::array<char, kStringTextSize> text{};
    std::array<std::uint8_t, 3> buffer{};
    ASSERT_EQ(Halt8051(link), 0);
    ASSERT_EQ(DownloadFirmware(link, image), 0);
    ASSERT_EQ(Run8051(link), 0);
    ASSERT_EQ(GetStringDescriptor(link, 0x102, text), 0); // only the low 8 bits count
    ASSERT_EQ(BulkWrite(link, 0, data), 0);
    ASSERT_EQ(BulkRead(link, 8, buffer), 0);
    const std::vector<DriverCall> expected = {
        {-1, 0x222014, {0xA0, 0, 0x92, 0x7F, 0, 0, 1, 0, 0, 1}, 0, {}},
        {-1, 0x22201C, image, 0, {}},
        {-1, 0x222014, {0xA0, 0, 0x92, 0x7F, 0, 0, 1, 0, 0, 0}, 0, {}},
        {-1, 0x222044, {0x02, 0, 0x1B, 0}, 130, {}},
        {-1, 0x222051, {0, 0, 0, 0}, 4, data}, // the data travels in the output buffer
        {-1, 0x22204E, {8, 0, 0, 0}, 3, {}},
    };
    const auto io = driver.IoCalls();
    ASSERT_EQ(io.size(), expected.size());
    for (std::size_t i = 0; i < io.size(); ++i) {
        EXPECT_EQ(std::tie(io[i].code, io[i].input, io[i].outputLength, io[i].written),
                  std::tie(expected[i].code, expected[i].input, expected[i].outputLength,
                           expected[i].written))
            << "call " << i;
    }

    driver.reply = [](const DriverCall&, std::span<std::uint8_t>) { return IoResult{}; };
    text[0] = 'x';
    EXPECT_EQ(Halt8051(link) + DownloadFirmware(link, image) + Run8051(link), -3);
    EXPECT_EQ(GetStringDescriptor(link, 1, text), -1);
    EXPECT_EQ(text[0], 'x');
    EXPECT_EQ(out.str(), "i8051 halt err.\nusb dwnload err.\ni8051 run err.\n");
}

TEST_F(DeviceLinkTest, BulkTransfersSplitIntoChunksOf32768) {
    OpenBoard();
    struct Case {
        bool read;
        std::size_t count;
        std::vector<std::uint32_t> returned; // per chunk; a chunk past the list fails
        std::vector<std::size_t> chunks;     // lengths the driver saw
        int result;
    };
    const std::vector<Case> cases = {
        {false, 0, {}, {}, 0},
        {false, 40000, {0, 0}, {32768, 7232}, 0},
        {false, 40000, {0}, {32768, 7232}, -1}, // second chunk fails; first stays sent
        {true, 0, {}, {}, 0},
        {true, 131072, {32768, 32768, 32768, 32768}, {32768, 32768, 32768, 32768}, 131072},
        {true, 40000, {100, 7232}, {32768, 7232}, 7332}, // first chunk short
        {true, 40000, {32768}, {32768, 7232}, -1},
        {true, 10, {500}, {10}, 10}, // a backend claiming more cannot inflate the total
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.read ? "read " : "write ") << c.count);
        driver.calls.clear();
        driver.reply = [&, chunk = std::size_t{0}](const DriverCall&,
                                                   std::span<std::uint8_t> output) mutable {
            const std::size_t i = chunk++;
            if (i >= c.returned.size()) {
                return IoResult{};
            }
            std::fill_n(output.begin(), std::min<std::size_t>(c.returned[i], output.size()),
                        static_cast<std::uint8_t>(0xC0 + i));
            return IoResult{true, c.returned[i]};
        };
        Bytes buffer(c.count);
        std::iota(buffer.begin(), buffer.end(), std::uint8_t{0});
        const Bytes before = buffer;
        EXPECT_EQ(c.read ? BulkRead(link, 8, buffer) : BulkWrite(link, 0, buffer), c.result);
        std::vector<std::size_t> chunks;
        for (const auto& call : driver.IoCalls()) {
            chunks.push_back(call.outputLength);
        }
        EXPECT_EQ(chunks, c.chunks);
        if (c.read && c.returned == std::vector<std::uint32_t>{100, 7232}) {
            // The short chunk leaves the rest of its slot; the next one lands at 32768.
            EXPECT_EQ(Bytes(buffer.begin() + 99, buffer.begin() + 101), (Bytes{0xC0, before[100]}));
            EXPECT_EQ(Bytes(buffer.begin() + 32767, buffer.begin() + 32769),
                      (Bytes{before[32767], 0xC1}));
        }
    }
}

TEST_F(DeviceLinkTest, StringDescriptorKeepsTheLowByteOfEachReceivedUnit) {
    OpenBoard();
    const Bytes wffw = {10, 3, 'W', 0, 'F', 0, 'F', 0, 'W', 0};
    Bytes long64(130, 'z');
    long64[0] = 255; // claims 126 units where the buffer holds 64
    struct Case {
        std::uint8_t lengthByte; // replaces byte 0 unless 0xFF
        const Bytes& reply;
        std::uint32_t returned;
        std::string text;
    };
    const Bytes katakana = {4, 3, 0xAB, 0x30}; // U+30AB
    const std::vector<Case> cases = {
        {10, wffw, 10, "WFFW"},   {11, wffw, 10, "WFFW"},
        {3, wffw, 10, ""},        {2, wffw, 10, ""},
        {1, wffw, 10, ""},        {0, wffw, 10, ""},
        {4, katakana, 4, "\xAB"}, {10, wffw, 6, "WF"}, // more claimed than arrived
        {10, wffw, 0, ""},        {0xFF, long64, 130, std::string(64, 'z')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << int{c.lengthByte} << " " << c.returned);
        driver.reply = [&](const DriverCall&, std::span<std::uint8_t> output) {
            std::copy(c.reply.begin(), c.reply.end(), output.begin());
            if (c.lengthByte != 0xFF) {
                output[0] = c.lengthByte;
            }
            return IoResult{true, c.returned};
        };
        std::array<char, kStringTextSize> text;
        text.fill('?');
        ASSERT_EQ(GetStringDescriptor(link, 1, text), 0);
        EXPECT_EQ(std::string(text.data()), c.text);
    }
}

TEST_F(DeviceLinkTest, OpenScanSkipsClaimedAndAbsentInstances) {
    // Claims of other open files count as claims of another process (see the two-process
    // tests of InstanceClaim).
    std::array<InstanceClaim, kMaxInstances> others;
    ASSERT_EQ(others[0].TryClaim(locks.path(), 0), InstanceClaim::Outcome::Claimed);
    ASSERT_EQ(others[1].TryClaim(locks.path(), 1), InstanceClaim::Outcome::Claimed);
    driver.present = [](int n) { return n >= 3; };
    ASSERT_EQ(OpenDevice(-1, link), 0);
    EXPECT_EQ(driver.Opened(), (std::vector<int>{2, 3}));
    EXPECT_EQ(link.claim.instance(), 3);
    InstanceClaim probe;
    EXPECT_EQ(probe.TryClaim(locks.path(), 2), InstanceClaim::Outcome::Claimed); // not kept
    EXPECT_EQ(probe.TryClaim(locks.path(), 3), InstanceClaim::Outcome::HeldElsewhere);

    const DriverHandle handle = link.handle;
    EXPECT_EQ(CloseDevice(link), 0);
    EXPECT_EQ(link.handle, handle);
    EXPECT_TRUE(driver.openHandles.empty());
    EXPECT_EQ(probe.TryClaim(locks.path(), 3), InstanceClaim::Outcome::Claimed);
    probe.Release();

    // No board: eight attempts, the failed handle kept, nothing claimed.
    others[0].Release();
    others[1].Release();
    driver.present = [](int) { return false; };
    driver.calls.clear();
    EXPECT_EQ(OpenDevice(-1, link), -1);
    EXPECT_EQ(driver.Opened(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(link.handle, kInvalidHandle);
    EXPECT_FALSE(link.claim.held());

    // All eight claimed elsewhere: no open at all and the handle keeps its value.
    for (int n = 0; n < kMaxInstances; ++n) {
        ASSERT_EQ(others[static_cast<std::size_t>(n)].TryClaim(locks.path(), n),
                  InstanceClaim::Outcome::Claimed);
    }
    driver.present = [](int) { return true; };
    driver.calls.clear();
    EXPECT_EQ(OpenDevice(-1, link), -1);
    EXPECT_TRUE(driver.calls.empty());
    EXPECT_EQ(link.handle, kInvalidHandle);

    // An explicit number opens a claimed instance without claiming it.
    ASSERT_EQ(OpenDevice(5, link), 0);
    EXPECT_FALSE(link.claim.held());
}

TEST_F(DeviceLinkTest, AnUnusableLockFolderIsReportedAndTheBoardStillOpens) {
    const auto folder = locks.path() / "shared";
    std::filesystem::create_directory(folder);
    std::filesystem::permissions(folder, std::filesystem::perms::all);
    DeviceLink shared{driver, out, folder};
    driver.present = [](int n) { return n == 2; };
    ASSERT_EQ(OpenDevice(-1, shared), 0);
    EXPECT_EQ(shared.openedInstance, 2);
    EXPECT_FALSE(shared.claim.held());
    EXPECT_NE(shared.claimError.find("other users"), std::string::npos) << shared.claimError;
    // The next scan reports only what it meets itself.
    EXPECT_EQ(OpenDevice(-1, link), 0);
    EXPECT_EQ(link.openedInstance, 2);
    EXPECT_TRUE(link.claim.held());
    EXPECT_EQ(link.claimError, "");
}

TEST(LibusbDriver, WithoutABoardNothingOpens) {
    LibusbDriver driver;
    if (driver.CountInstances() > 0) {
        GTEST_SKIP() << "a board is attached";
    }
    for (int n = 0; n < kMaxInstances; ++n) {
        EXPECT_EQ(driver.Open(n), kInvalidHandle);
        EXPECT_EQ(driver.DescribeInstance(n), "");
    }
    std::array<std::uint8_t, 4> pipe{};
    std::array<std::uint8_t, 1> data{0x24};
    EXPECT_FALSE(driver.IoControl(1, IOCTL_EZUSB_BULK_WRITE, pipe, data).ok);
}

} // namespace
} // namespace pulsara
