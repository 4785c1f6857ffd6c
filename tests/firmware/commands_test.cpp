// Command packets on endpoint 1 OUT and their replies on endpoint 2 IN.
#include "board_fixture.h"
#include "firmware/layout.h"

namespace pulsara::test {
namespace {

class Commands : public FirmwareBoard {
protected:
    void SetUp() override {
        bootAndConfigure();
        send({0x07, 0x10}); // what the host sends after connecting
    }
};

TEST_F(Commands, GathersTheRepliesOfOnePacket) {
    struct Case {
        const char* what;
        Bytes packet;
        std::optional<Bytes> reply;
        int mode;
    } cases[] = {
        {"mode 4, no reply", {0x14}, std::nullopt, 4},
        {"mode 0 alone", {0x10}, std::nullopt, 0},
        {"status", {0x24}, Bytes{0x04}, 4},
        {"status twice: one packet", {0x24, 0x24}, Bytes{0x04, 0x04}, 4},
        {"status after a mode change", {0x12, 0x21}, Bytes{0x01}, 1},
        {"unused high nibbles are skipped",
         {0x80, 0x9F, 0x23, 0xEE, 0xA5, 0x25},
         Bytes{0x03, 0x05},
         5},
        {"last byte unused", {0x26, 0xC1}, Bytes{0x06}, 6},
        {"unfilled count before any read-out", {0x70}, Bytes{0x00, 0x00}, 6},
        {"mixed", {0x70, 0x22, 0x70}, Bytes{0, 0, 0x02, 0, 0}, 2},
    };
    for (const Case& c : cases) {
        send(c.packet);
        EXPECT_EQ(receive(), c.reply) << c.what;
        EXPECT_EQ(board.mode(), c.mode) << c.what;
    }
}

TEST_F(Commands, StatusByteShowsModeStatusAndSpareLines) {
    struct Case {
        bool status;
        std::uint8_t spare;
        std::uint8_t expected;
    } cases[] = {{false, 0x00, 0x04}, {true, 0x00, 0x0C}, {true, 0xA0, 0xAC}, {false, 0x50, 0x54}};
    for (const Case& c : cases) {
        board.statusHigh = c.status;
        board.spareInputs = c.spare;
        send({0x24});
        EXPECT_EQ(receive(), Bytes{c.expected});
    }
}

TEST_F(FirmwareBoard, ModeLinesStayInputsUntilTheStartupCommand) {
    bootAndConfigure();
    send({0x14});
    EXPECT_EQ(board.mode(), CaptureDouble::kUndriven);
    send({0x24});
    EXPECT_EQ(receive(), Bytes{0x00}) << "undriven mode lines read low";
    send({0x07, 0x10});
    EXPECT_EQ(board.outputEnables(), 0x07);
    EXPECT_EQ(board.mode(), 0);
    EXPECT_FALSE(receive());
}

TEST_F(Commands, RegisterWritesAndReadsUseOneStrobeEach) {
    send({0x30, 0xA1});
    send({0x32, 0x4C, 0x14});
    ASSERT_EQ(board.writes.size(), 2u);
    EXPECT_EQ(board.writes[0].mode, 0);
    EXPECT_EQ(board.writes[0].byte, 0xA1);
    EXPECT_EQ(board.writes[1].mode, 2);
    EXPECT_EQ(board.writes[1].byte, 0x4C);
    EXPECT_EQ(board.mode(), 4);
    EXPECT_EQ(board.reads, 0u);

    board.registerByte = 0x3C;
    send({0x43, 0x24, 0x45});
    EXPECT_EQ(receive(), (Bytes{0x3C, 0x04, 0x3C}));
    EXPECT_EQ(board.reads, 2u);
    EXPECT_EQ(board.writes.size(), 2u);
}

TEST_F(Commands, CommandCutOffByThePacketEndIsIgnored) {
    struct Case {
        const char* what;
        Bytes packet;
        std::optional<Bytes> reply;
    } cases[] = {
        {"register write without its byte", {0x33}, std::nullopt},
        {"block read with two of three bytes", {0x24, 0x66, 0x05, 0x01}, Bytes{0x04}},
        {"bus timing without its byte", {0xF1}, std::nullopt},
    };
    for (const Case& c : cases) {
        send({0x14});
        send(c.packet);
        EXPECT_EQ(receive(), c.reply) << c.what;
        EXPECT_EQ(board.mode(), 4) << c.what;
        EXPECT_TRUE(board.writes.empty()) << c.what;
        EXPECT_EQ(board.reads, 0u) << c.what;
    }
    EXPECT_EQ(chip.peekXdata(fw::kTailBytes), 0);
    EXPECT_EQ(chip.cpu().sfrLatch(sfr::CKCON) & 7, 0);
}

TEST_F(Commands, ReplyLongerThanOnePacketIsCutAt64Bytes) {
    board.registerByte = 0x77;
    Bytes packet(40, 0x70); // 80 reply bytes
    packet.back() = 0x41;   // a register read with no room left
    send(packet);
    EXPECT_EQ(receive(), Bytes(64, 0x00));
    EXPECT_EQ(board.reads, 0u);
    // Nothing was written past IN2BUF: OUT1BUF behind it still holds the packet.
    constexpr std::size_t kOut1Buf = 0x7E40;
    EXPECT_EQ(
        Bytes(chip.memory().begin() + kOut1Buf, chip.memory().begin() + kOut1Buf + packet.size()),
        packet);
    // The next packet is read from an intact buffer.
    send({0x21});
    EXPECT_EQ(receive(), Bytes{0x01});
}

// A packet that waits for endpoint 2 IN is run by the main loop. A bus reset meanwhile
// must not open endpoint 1 OUT for the next packet before that one is done with.
TEST_F(Commands, BusResetWhileAHeldPacketRunsKeepsPacketsApart) {
    board.registerByte = 0x3C;
    send({0x24});
    send({0x24});                                       // both halves of endpoint 2 IN are full now
    ASSERT_TRUE(chip.bulkOut(1, Bytes(64, 0x41)).ok()); // 64 register reads
    chip.run(kCyclesPerFrame);
    ASSERT_EQ(board.reads, 0u) << "held until endpoint 2 IN has room";
    EXPECT_EQ(receive(), Bytes{0x04});
    ASSERT_TRUE(chip.runUntil([&] { return board.reads >= 8; }, kCyclesPerFrame));
    chip.busReset(); // while the main loop still reads OUT1BUF
    ASSERT_TRUE(chip.bulkOut(1, Bytes{0x21}).ok());
    chip.run(kCyclesPerFrame);
    EXPECT_EQ(receive(), Bytes{0x04});
    EXPECT_EQ(receive(), Bytes(64, 0x3C));
    EXPECT_EQ(receive(), Bytes{0x01});
    EXPECT_EQ(board.reads, 64u);
}

// A bus reset at every moment around a packet held for endpoint 2 IN: while it waits, and
// while the main loop takes it once a buffer frees. The packet runs whole or not at all,
// and endpoint 1 OUT is armed for the next one.
TEST_F(FirmwareBoard, BusResetAtAnyMomentAroundAHeldPacket) {
    for (const bool freed : {false, true}) {
        for (std::uint64_t at = 0; at < 120; ++at) {
            SCOPED_TRACE(testing::Message() << (freed ? "taking, " : "waiting, ") << at);
            chip.powerOn();
            board = CaptureDouble{};
            board.registerByte = 0x3C;
            bootAndConfigure();
            send({0x07, 0x10, 0x24});
            send({0x24});
            ASSERT_TRUE(chip.bulkOut(1, Bytes(64, 0x41)).ok());
            chip.run(kCyclesPerFrame);
            if (freed) {
                ASSERT_EQ(receive(), Bytes{0x04});
            }
            chip.run(at);
            chip.busReset();
            chip.run(3 * kCyclesPerFrame); // 64 register reads take most of a frame
            if (!freed) {
                EXPECT_EQ(receive(), Bytes{0x04});
            }
            EXPECT_EQ(receive(), Bytes{0x04});
            const bool ran = board.reads == 64;
            EXPECT_TRUE(ran || board.reads == 0) << board.reads << " reads";
            if (ran) {
                EXPECT_EQ(receive(), Bytes(64, 0x3C));
            }
            ASSERT_TRUE(chip.bulkOut(1, Bytes{0x21}, kCyclesPerFrame).ok())
                << "endpoint 1 OUT left unarmed";
            EXPECT_EQ(receive(), Bytes{0x01});
        }
    }
}

TEST_F(Commands, BusTimingSetsStretchAndKeepsFastTransfers) {
    send({0xF3, 0x1B});
    EXPECT_EQ(chip.cpu().sfrLatch(sfr::CKCON) & 7, 1);
    EXPECT_EQ(chip.peekXdata(0x7FE2), 0x5B);
    send({0xF0, 0x00});
    EXPECT_EQ(chip.cpu().sfrLatch(sfr::CKCON) & 7, 0);
    EXPECT_EQ(chip.peekXdata(0x7FE2), 0x40);
}

TEST_F(Commands, OtherOutEndpointsDropTheirPackets) {
    for (int ep : {4, 5, 6, 7}) {
        for (int i = 0; i < 3; ++i) { // re-armed after each packet
            EXPECT_TRUE(chip.bulkOut(ep, Bytes(64, 0x31)).ok()) << "endpoint " << ep;
        }
    }
    EXPECT_TRUE(board.writes.empty());
    EXPECT_FALSE(receive());
}

TEST_F(Commands, UsbResetKeepsBlockStateAndModeLines) {
    send({0x53, 0x07, 0x02, 0x01});
    chip.busReset();
    EXPECT_EQ(board.mode(), 3);
    EXPECT_EQ(chip.peekXdata(fw::kPacketsLeft), 0x01);
    EXPECT_EQ(chip.peekXdata(fw::kPacketsLeft + 1), 0x02);
    EXPECT_EQ(chip.peekXdata(fw::kTailBytes), 0x07);
    EXPECT_EQ(chip.peekXdata(fw::kDirection), 1);
    send({0x24}); // endpoint 1 OUT re-armed
    EXPECT_EQ(receive(), Bytes{0x04});
}

TEST_F(Commands, SuspendIdlesUntilResumeAndTheWakeUpPinSignalsOnlyWhenAllowed) {
    constexpr std::uint16_t kUsbcs = 0x7FD6;
    const auto signalling = [&] { return (chip.peekXdata(kUsbcs) & 0x01) != 0; };
    chip.suspendBus();
    chip.run(kCyclesPerFrame);
    ASSERT_TRUE(chip.cpu().idle());
    chip.wakeupPin();
    ASSERT_TRUE(chip.runUntil(signalling, kCyclesPerFrame)) << "remote wake-up is on";
    const std::uint64_t start = chip.cycles();
    ASSERT_TRUE(chip.runUntil([&] { return !signalling(); }, 100 * kCyclesPerFrame));
    // 10 ms: a device may drive resume for at most 15 ms.
    EXPECT_NEAR(static_cast<double>(chip.cycles() - start) / kCyclesPerFrame, 10.0, 1.0);

    ASSERT_TRUE(control({0x00, kClearFeature, 1, 0, 0}).ok());
    chip.suspendBus();
    chip.run(kCyclesPerFrame);
    chip.wakeupPin();
    chip.run(30 * kCyclesPerFrame);
    EXPECT_TRUE(chip.cpu().idle()) << "without remote wake-up the pin only idles again";
    EXPECT_FALSE(signalling());
    chip.resumeBus();
    chip.run(kCyclesPerFrame);
    EXPECT_FALSE(chip.cpu().idle());
    send({0x21});
    EXPECT_EQ(receive(), Bytes{0x01});
}

} // namespace
} // namespace pulsara::test
