#include "device/device_link.h"
#include "device/libusb_driver.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <sstream>

namespace pulsara {
namespace {

TEST(LibusbDriver, WithoutABoardNothingOpensAndNothingHangs) {
    LibusbDriver driver;
    if (driver.CountInstances() > 0) {
        GTEST_SKIP() << "a board is attached; this test needs a machine without one";
    }
    for (int n = 0; n < kMaxInstances; ++n) {
        EXPECT_EQ(driver.Open(n), kInvalidHandle);
        EXPECT_EQ(driver.DescribeInstance(n), "");
    }
    EXPECT_FALSE(driver.lastOpenError().empty());
    std::array<std::uint8_t, 4> pipe{};
    std::array<std::uint8_t, 1> data{0x24};
    for (const DriverHandle h : {kNullHandle, kInvalidHandle, DriverHandle{1}}) {
        EXPECT_FALSE(driver.IoControl(h, IOCTL_EZUSB_BULK_WRITE, pipe, data).ok);
    }

    test::TempDir locks;
    std::ostringstream out;
    DeviceLink link{driver, out, locks.path()};
    EXPECT_EQ(OpenDevice(-1, link), -1);
    EXPECT_EQ(link.handle, kInvalidHandle);
}

} // namespace
} // namespace pulsara
