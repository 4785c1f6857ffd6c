// Fixed points of the embedded image that no board test reaches: the fill of unused bytes
// and the jump-table slots of USB sources the firmware never enables.
#include "firmware/image.h"
#include "firmware/layout.h"

#include <gtest/gtest.h>

namespace pulsara {
namespace {

TEST(FirmwareImage, UnusedBytesHoldTheFillAndEveryJumpSlotLeadsIntoTheCode) {
    const auto img = FirmwareImage();
    const std::pair<unsigned, unsigned> unused[] = {{0x0003, 0x0033},
                                                    {0x0036, 0x0043},
                                                    {0x0046, 0x0080},
                                                    {fw::kDescriptorTableEnd, fw::kUsbJumpTable},
                                                    {0x0B58, 0x1000}};
    for (auto [from, to] : unused) {
        for (unsigned a = from; a < to; ++a) {
            ASSERT_EQ(img[a], fw::kUnusedFill) << "at 0x" << std::hex << a;
        }
    }
    for (int slot = 0; slot < fw::kUsbJumpSlots; ++slot) {
        const unsigned at = fw::kUsbJumpTable + 4 * slot;
        const unsigned target = img[at + 1] << 8 | img[at + 2];
        EXPECT_EQ(img[at], 0x02) << "slot " << slot << " is no LJMP";
        EXPECT_EQ(img[at + 3], 0x00) << "slot " << slot;
        EXPECT_TRUE(target >= 0x0080 && target < fw::kDescriptorTable) << "slot " << slot;
    }
    EXPECT_EQ(img[fw::kUsbVector + 1] << 8 | img[fw::kUsbVector + 2], fw::kUsbJumpTable);
}

} // namespace
} // namespace pulsara
