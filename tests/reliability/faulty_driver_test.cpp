// What the fault wrapper does to the one call it spoils, and that it leaves the others be.

#include "support/fake_driver.h"
#include "support/faulty_driver.h"

#include <gtest/gtest.h>

namespace pulsara::test {
namespace {

TEST(FaultyDriver, SpoilsOnlyTheKthCall) {
    struct Case {
        const char* name;
        IoFault fault;
        std::uint32_t code;
        bool ok;
        std::uint32_t returned;   // of the spoilt call
        std::size_t reachedBoard; // bytes of a write the board saw, or calls for a read
    };
    const Case cases[] = {
        {"failed write", IoFault::Fail, IOCTL_EZUSB_BULK_WRITE, false, 0, 0},
        {"short write", IoFault::Short, IOCTL_EZUSB_BULK_WRITE, true, 2, 2},
        {"failed read", IoFault::Fail, IOCTL_EZUSB_BULK_READ, false, 0, 0},
        {"short read", IoFault::Short, IOCTL_EZUSB_BULK_READ, true, 2, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDriver fake;
        fake.present = [](int) { return true; };
        fake.reply = [](const DriverCall& call, std::span<std::uint8_t> out) {
            std::fill(out.begin(), out.end(), std::uint8_t{0x77});
            return IoResult{true, static_cast<std::uint32_t>(call.outputLength)};
        };
        FaultyDriver faulty{fake, 2, c.fault};
        const DriverHandle h = faulty.Open(0);
        std::vector<std::uint8_t> buffer(4, 0x11);
        const auto first = faulty.IoControl(h, c.code, {}, buffer);
        EXPECT_TRUE(first.ok);
        EXPECT_EQ(first.bytesReturned, 4u);
        EXPECT_FALSE(faulty.fired());

        std::fill(buffer.begin(), buffer.end(), std::uint8_t{0x11});
        const std::size_t before = fake.IoCalls().size();
        const auto spoilt = faulty.IoControl(h, c.code, {}, buffer);
        EXPECT_EQ(spoilt.ok, c.ok);
        EXPECT_EQ(spoilt.bytesReturned, c.returned);
        EXPECT_TRUE(faulty.fired());
        EXPECT_EQ(faulty.firedCode(), c.code);
        const auto calls = fake.IoCalls();
        if (c.code == IOCTL_EZUSB_BULK_WRITE) {
            const std::size_t seen = calls.size() > before ? calls.back().written.size() : 0;
            EXPECT_EQ(seen, c.reachedBoard);
        } else {
            EXPECT_EQ(calls.size() - before, c.reachedBoard);
            // Only the bytes said to have arrived are in the buffer; the rest stay.
            const std::size_t arrived = c.ok ? c.returned : 0;
            for (std::size_t i = 0; i < buffer.size(); ++i) {
                EXPECT_EQ(buffer[i], i < arrived ? 0x77 : 0x11) << i;
            }
        }
        EXPECT_TRUE(faulty.IoControl(h, c.code, {}, buffer).ok);
    }
}

} // namespace
} // namespace pulsara::test
