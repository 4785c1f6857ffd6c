// Fixed points of the embedded image that the chip and the host rely on.
#include "firmware/image.h"
#include "firmware/layout.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace pulsara {
namespace {

std::uint16_t LongJumpTarget(std::span<const std::uint8_t, kFirmwareImageSize> img,
                             std::uint16_t at) {
    EXPECT_EQ(img[at], 0x02) << "no LJMP at 0x" << std::hex << at;
    return static_cast<std::uint16_t>(img[at + 1] << 8 | img[at + 2]);
}

bool InCode(std::uint16_t target) {
    return target >= 0x0080 && target < fw::kDescriptorTable;
}

TEST(FirmwareImage, VectorsLeadIntoTheCode) {
    const auto img = FirmwareImage();
    EXPECT_TRUE(InCode(LongJumpTarget(img, fw::kResetVector)));
    EXPECT_TRUE(InCode(LongJumpTarget(img, fw::kResumeVector)));
    EXPECT_EQ(LongJumpTarget(img, fw::kUsbVector), fw::kUsbJumpTable)
        << "autovectoring replaces only the low byte: the table must start a page";
    for (int slot = 0; slot < fw::kUsbJumpSlots; ++slot) {
        const auto at = static_cast<std::uint16_t>(fw::kUsbJumpTable + 4 * slot);
        EXPECT_TRUE(InCode(LongJumpTarget(img, at))) << "slot " << slot;
        EXPECT_EQ(img[at + 3], 0x00) << "slot " << slot;
    }
}

TEST(FirmwareImage, UnusedStretchesHoldTheFillByte) {
    const auto img = FirmwareImage();
    struct Range {
        std::uint16_t from, to; // inclusive
    } unused[] = {{0x0003, 0x0032},
                  {0x0036, 0x0042},
                  {0x0046, 0x007F},
                  {fw::kDescriptorTableEnd, 0x0AFF},
                  {0x0B58, 0x0FFF}};
    for (const Range& r : unused) {
        for (unsigned a = r.from; a <= r.to; ++a) {
            ASSERT_EQ(img[a], fw::kUnusedFill) << "at 0x" << std::hex << a;
        }
    }
    // The descriptor table starts with the device descriptor and ends with two zeros.
    EXPECT_EQ(img[fw::kDescriptorTable], 18);
    EXPECT_EQ(img[fw::kDescriptorTable + 1], 1);
    EXPECT_EQ(img[fw::kDescriptorTableEnd - 2], 0);
    EXPECT_EQ(img[fw::kDescriptorTableEnd - 1], 0);
}

} // namespace
} // namespace pulsara
