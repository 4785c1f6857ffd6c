// The EZ-USB chip model driven from both sides: small firmware programs on the 8051 and
// host-side transfers, with a fake board on the pins and strobes.

#include "sim/ezusb/ezusb.h"
#include "test_machine.h"

#include <gtest/gtest.h>

#include <ostream>

namespace pulsara {
using namespace sim;
namespace {

using test::Code;

constexpr std::uint16_t kMain = 0x0100, kJumpTable = 0x0B00, kHandlers = 0x0C00;
constexpr std::uint16_t USBIRQ = 0x7FAB, IN07IRQ = 0x7FA9, OUT07IRQ = 0x7FAA, USBIEN = 0x7FAE,
                        IN07IEN = 0x7FAC, OUT07IEN = 0x7FAD, USBBAV = 0x7FAF, EP0CS = 0x7FB4,
                        IN0BC = 0x7FB5, IN2CS = 0x7FB8, IN2BC = 0x7FB9, OUT1CS = 0x7FC6,
                        OUT1BC = 0x7FC7, OUT2BC = 0x7FC9, SUDPTRH = 0x7FD4, SUDPTRL = 0x7FD5,
                        USBCS = 0x7FD6, USBPAIR = 0x7FDD, IN07VAL = 0x7FDE, OUT07VAL = 0x7FDF,
                        FASTXFR = 0x7FE2, AUTOPTRH = 0x7FE3, AUTOPTRL = 0x7FE4, AUTODATA = 0x7FE5,
                        PORTACFG = 0x7F93, OUTC = 0x7F98, PINSC = 0x7F9B, OEC = 0x7F9E,
                        IN0BUF = 0x7F00, IN2BUF = 0x7E00, OUT1BUF = 0x7E40;

class FakeBoard final : public EzusbBoard {
public:
    std::uint8_t portPins(Port port, std::uint64_t) override {
        return port == Port::C ? pinsC : port == Port::B ? pinsB : 0xFF;
    }
    void portChanged(Port port, std::uint8_t out, std::uint8_t oe, std::uint64_t) override {
        changes.push_back({port, out, oe});
    }
    std::uint8_t fastRead(std::uint64_t) override { return busBytes[reads++ % busBytes.size()]; }
    void fastWrite(std::uint8_t b, std::uint64_t) override { written.push_back(b); }

    struct Change {
        Port port;
        std::uint8_t out, oe;
    };
    std::uint8_t pinsC = 0xA5;
    std::uint8_t pinsB = 0xFF;
    std::vector<Change> changes;
    std::vector<std::uint8_t> busBytes{0xD1, 0xD2, 0xD3};
    std::size_t reads = 0;
    std::vector<std::uint8_t> written;
};

// Vectors, an autovector jump table whose 22 handlers log their offset at iram 0x40 (via
// R1), clear EXIF.4 first and then their own request bit, as firmware must.
Code Firmware() {
    Code c;
    c.ljmp(kMain);
    c.org(vec::Int2Usb).ljmp(kJumpTable);
    c.org(kJumpTable);
    for (int k = 0; k < 22; ++k)
        c.ljmp(static_cast<std::uint16_t>(kHandlers + 16 * k)).raw({0});
    for (int k = 0; k < 22; ++k) {
        c.org(static_cast<std::uint16_t>(kHandlers + 16 * k));
        c.raw({0x77, static_cast<std::uint8_t>(4 * k), 0x09, 0x53, 0x91, 0xEF});
        if (k < 5)
            c.xwrite(USBIRQ, static_cast<std::uint8_t>(1 << k));
        else if (k >= 6)
            c.xwrite((k % 2) ? OUT07IRQ : IN07IRQ, static_cast<std::uint8_t>(1 << ((k - 6) / 2)));
        c.reti();
    }
    c.org(kMain).raw({0x79, 0x40}); // MOV R1,#40h: the log
    return c;
}

// Interrupts on: EUSB and EA.
Code& EnableInterrupts(Code& c) {
    return c.movDirect(sfr::EIE, 0x01).movDirect(sfr::IE, 0x80);
}

std::vector<std::uint8_t> Log(const Ezusb& chip) {
    std::vector<std::uint8_t> log;
    for (std::uint8_t a = 0x40; a < chip.cpu().reg(1); ++a)
        log.push_back(chip.cpu().iram(a));
    return log;
}

struct Chip {
    explicit Chip(const Code& fw, bool load = true) {
        chip.setBoard(&board);
        if (load) {
            auto r = chip.loadFirmware(fw.bytes);
            EXPECT_TRUE(r.ok()) << r.message;
        }
    }
    FakeBoard board;
    Ezusb chip;
};

TEST(Ezusb, FirmwareLoadHoldsLoadsAndReleases) {
    Code fw;
    fw.xwrite(0x1000, 0x55).selfJump();
    Chip t(fw, false);
    auto& chip = t.chip;
    EXPECT_TRUE(chip.cpuHeld());
    const std::uint8_t hold = 1, run = 0;
    ASSERT_TRUE(chip.controlTransfer({0x40, 0xA0, 0x7F92, 0, 1}, {&hold, 1}).ok());
    ASSERT_TRUE(chip.controlTransfer(
                        {0x40, 0xA0, 0, 0, static_cast<std::uint16_t>(fw.bytes.size())}, fw.bytes)
                    .ok());
    chip.run(10'000);
    EXPECT_EQ(chip.memory()[0x1000], 0) << "the CPU ran while held";
    auto back =
        chip.controlTransfer({0xC0, 0xA0, 0, 0, static_cast<std::uint16_t>(fw.bytes.size())});
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back.data, fw.bytes);
    ASSERT_TRUE(chip.controlTransfer({0x40, 0xA0, 0x7F92, 0, 1}, {&run, 1}).ok());
    EXPECT_FALSE(chip.cpuHeld());
    chip.run(1'000);
    EXPECT_EQ(chip.memory()[0x1000], 0x55);

    const std::uint8_t byte = 0;
    auto outside = chip.controlTransfer({0x40, 0xA0, 0x2000, 0, 1}, {&byte, 1});
    EXPECT_EQ(outside.status, UsbStatus::Stall);
    EXPECT_NE(outside.message.find("0x2000"), std::string::npos) << outside.message;
}

TEST(Ezusb, DefaultDeviceAnswersStandardRequests) {
    Ezusb chip;
    struct Case {
        UsbSetup setup;
        UsbStatus status;
        std::size_t length;
    } cases[] = {
        {{0x80, 0x06, 0x0100, 0, 64}, UsbStatus::Ack, 18},
        {{0x80, 0x06, 0x0100, 0, 8}, UsbStatus::Ack, 8},
        {{0x80, 0x06, 0x0200, 0, 0xFFFF}, UsbStatus::Ack, 218},
        {{0x80, 0x06, 0x0301, 0x0409, 255}, UsbStatus::Stall, 0}, // no strings
        {{0xC0, 0xB0, 0, 0, 4}, UsbStatus::Stall, 0},             // vendor, not 0xA0
        {{0x00, 0x09, 1, 0, 0}, UsbStatus::Ack, 0},               // SET_CONFIGURATION
        {{0x80, 0x08, 0, 0, 1}, UsbStatus::Ack, 1},
    };
    for (const auto& c : cases) {
        auto r = chip.controlTransfer(c.setup);
        EXPECT_EQ(r.status, c.status) << int(c.setup.bRequest) << " " << c.setup.wValue;
        EXPECT_EQ(r.data.size(), c.length) << int(c.setup.bRequest) << " " << c.setup.wValue;
    }
    auto dev = chip.controlTransfer({0x80, 0x06, 0x0100, 0, 18});
    EXPECT_EQ(dev.data[8] | (dev.data[9] << 8), 0x0547);
    EXPECT_EQ(dev.data[10] | (dev.data[11] << 8), 0x2131);
    auto cfg = chip.controlTransfer({0x80, 0x06, 0x0200, 0, 9});
    EXPECT_EQ(cfg.data[2] | (cfg.data[3] << 8), 218);
    EXPECT_TRUE(chip.controlTransfer({0x00, 0x05, 0x23, 0, 0}).ok());
    EXPECT_EQ(chip.functionAddress(), 0x23);
}

struct AutovectorCase {
    const char* name;
    std::uint8_t usbbav;
    std::uint8_t firstSlot; // the jump-table offset the CPU entered first
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const AutovectorCase& c, std::ostream* os) {
    *os << c.name;
}

class Autovector : public testing::TestWithParam<AutovectorCase> {};

// An EP2-OUT packet enters the jump table at 0x2C with AVEN, at slot 0 without it.
TEST_P(Autovector, SubstitutesTheVectorByte) {
    Code fw = Firmware();
    fw.xwrite(OUT07VAL, 0x04)
        .xwrite(OUT07IEN, 0x04)
        .xwrite(USBBAV, GetParam().usbbav)
        .xwrite(OUT2BC, 0);
    EnableInterrupts(fw).selfJump();
    Chip t(fw);
    const std::uint8_t data[] = {1, 2, 3};
    auto r = t.chip.bulkOut(2, data);
    ASSERT_TRUE(r.ok()) << r.message;
    t.chip.run(500);
    const auto log = Log(t.chip);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), GetParam().firstSlot);
}

INSTANTIATE_TEST_SUITE_P(Ezusb, Autovector,
                         testing::Values(AutovectorCase{"aven", 0x01, 0x2C},
                                         AutovectorCase{"no_aven", 0x00, 0x00}),
                         [](const auto& info) { return std::string(info.param.name); });

// SETUP raises SUTOK and SUDAV together; handlers clear EXIF.4 and then their bit, and
// the second request still interrupts. Nobody clears HSNAK, so the transfer times out.
TEST(Ezusb, TwoPendingUsbRequestsBothInterruptAndHsnakHoldsTheStatusStage) {
    Code fw = Firmware();
    fw.xwrite(USBIEN, 0x05).xwrite(USBBAV, 0x01).xwrite(USBCS, 0x06).xwrite(USBIRQ, 0xFF);
    EnableInterrupts(fw);
    fw.movDirect(sfr::EXIF, 0x00).selfJump();
    Chip t(fw);
    t.chip.run(1'000);
    ASSERT_TRUE(t.chip.renumerated());
    auto r = t.chip.controlTransfer({0x40, 0x01, 0, 0, 0}, {}, 20'000);
    EXPECT_EQ(r.status, UsbStatus::Timeout);
    EXPECT_NE(r.message.find("HSNAK"), std::string::npos) << r.message;
    EXPECT_EQ(Log(t.chip), (std::vector<std::uint8_t>{0x00, 0x08}));
    EXPECT_EQ(t.chip.peekXdata(EP0CS) & 0x02, 0x02);
}

// Firmware that polls SUDAV and answers EP0 IN with two bytes, then writes `ep0cs`.
Code Ep0Firmware(std::optional<std::uint8_t> ep0cs) {
    Code fw = Firmware();
    fw.xwrite(USBCS, 0x06);
    const std::uint16_t loop = fw.here();
    fw.xread(USBIRQ).jnbAcc(0, loop).xwrite(USBIRQ, 0x01);
    fw.xwrite(IN0BUF, 0x12).xwrite(IN0BUF + 1, 0x34).xwrite(IN0BC, 2);
    if (ep0cs)
        fw.xwrite(EP0CS, *ep0cs);
    fw.sjmp(loop);
    return fw;
}

TEST(Ezusb, ControlTransferEndsAsTheFirmwareSays) {
    struct Case {
        const char* name;
        std::optional<std::uint8_t> ep0cs;
        UsbStatus status;
        std::vector<std::uint8_t> data;
    } cases[] = {
        {"hsnak", 0x02, UsbStatus::Ack, {0x12, 0x34}},
        {"stall", 0x03, UsbStatus::Stall, {}},
        {"never", std::nullopt, UsbStatus::Timeout, {}},
    };
    for (const auto& c : cases) {
        Chip t(Ep0Firmware(c.ep0cs));
        t.chip.run(1'000);
        auto r = t.chip.controlTransfer({0xC0, 0x51, 0, 0, 2}, {}, 50'000);
        EXPECT_EQ(r.status, c.status) << c.name << ": " << r.message;
        if (c.status == UsbStatus::Ack) {
            EXPECT_EQ(r.data, c.data) << c.name;
        }
        // Each transfer stands alone: a stall does not outlive it.
        if (c.status == UsbStatus::Stall) {
            EXPECT_EQ(t.chip.peekXdata(EP0CS) & 0x01, 0) << c.name;
        }
    }
}

TEST(Ezusb, SudptrSendsTheShorterOfDescriptorAndWLength) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> descriptor;
        std::uint16_t wLength;
        std::size_t expected;
    } cases[] = {
        {"device_long_request", {18, 1}, 64, 18},
        {"device_short_request", {18, 1}, 8, 8},
        {"config_total_length", {9, 2, 100, 0}, 255, 100},
        {"config_header_only", {9, 2, 100, 0}, 9, 9},
        {"exact_packet_then_zlp", {64, 3}, 255, 64},
    };
    for (const auto& c : cases) {
        Code fw = Firmware();
        fw.xwrite(USBCS, 0x06);
        const std::uint16_t loop = fw.here();
        fw.xread(USBIRQ).jnbAcc(0, loop).xwrite(USBIRQ, 0x01);
        fw.xwrite(SUDPTRH, 0x10).xwrite(SUDPTRL, 0x00).sjmp(loop);
        Chip t(fw);
        for (std::size_t i = 0; i < 200; ++i)
            t.chip.memory()[0x1000 + i] = static_cast<std::uint8_t>(i);
        std::copy(c.descriptor.begin(), c.descriptor.end(), t.chip.memory().begin() + 0x1000);
        t.chip.run(1'000);
        auto r = t.chip.controlTransfer({0x80, 0x06, 0x0100, 0, c.wLength}, {}, 100'000);
        ASSERT_TRUE(r.ok()) << c.name << ": " << r.message;
        ASSERT_EQ(r.data.size(), c.expected) << c.name;
        EXPECT_EQ(r.data[0], c.descriptor[0]) << c.name;
        EXPECT_EQ(r.data.back(), c.expected > c.descriptor.size()
                                     ? static_cast<std::uint8_t>(c.expected - 1)
                                     : c.descriptor[c.expected - 1])
            << c.name;
    }
}

TEST(Ezusb, BulkInNaksUntilArmedThenAcksAndRaisesTheRequest) {
    Code fw = Firmware();
    fw.xwrite(IN07VAL, 0x04);
    // A delay of 256 x 256 DJNZ before arming: the host call must wait it out.
    fw.raw({0x7E, 0x00, 0x7F, 0x00, 0xDF, 0xFE, 0xDE, 0xFC});
    fw.xwrite(IN2BUF, 0xAB).xwrite(IN2BUF + 1, 0xCD).xwrite(IN2BC, 2);
    const std::uint16_t spin = fw.here();
    fw.selfJump();
    Chip t(fw);
    auto r = t.chip.bulkIn(2);
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(r.data, (std::vector<std::uint8_t>{0xAB, 0xCD}));
    EXPECT_GT(r.cycles, 256u * 256u * 3u);
    EXPECT_EQ(t.chip.peekXdata(IN2CS) & 0x02, 0); // no longer busy
    EXPECT_EQ(t.chip.peekXdata(IN07IRQ) & 0x04, 0x04);

    // Nothing armed again: the budget turns the busy-wait into a clear failure.
    auto again = t.chip.bulkIn(2, 30'000);
    EXPECT_EQ(again.status, UsbStatus::Timeout);
    EXPECT_EQ(again.pc, spin);
    char pc[16];
    std::snprintf(pc, sizeof pc, "0x%04X", spin);
    EXPECT_NE(again.message.find(pc), std::string::npos) << again.message;
    EXPECT_NE(again.message.find("IN2BC"), std::string::npos) << again.message;
}

TEST(Ezusb, BulkOutArmReceiveRearm) {
    Code fw = Firmware();
    fw.xwrite(OUT07VAL, 0x02).xwrite(OUT1BC, 0);
    const std::uint16_t loop = fw.here();
    fw.xread(OUT1CS).jbAcc(1, loop); // wait while busy (armed, empty)
    fw.xread(OUT1BUF).movDptr(0x1000).raw({0xF0});
    fw.xread(0x1001).raw({0x04, 0xF0}); // count packets
    fw.xwrite(OUT1BC, 0).sjmp(loop);    // re-arm
    Chip t(fw);
    const std::uint8_t p1[] = {0xA1, 0xA2}, p2[] = {0xB1};
    std::vector<std::uint8_t> tooBig(65, 0);
    EXPECT_TRUE(t.chip.bulkOut(1, p1).ok());
    EXPECT_TRUE(t.chip.bulkOut(1, p2).ok());
    t.chip.run(200);
    EXPECT_EQ(t.chip.memory()[0x1000], 0xB1);
    EXPECT_EQ(t.chip.memory()[0x1001], 2);
    EXPECT_EQ(t.chip.bulkOut(1, tooBig).status, UsbStatus::Error);
    EXPECT_EQ(t.chip.bulkOut(3, p1).status, UsbStatus::NoResponse); // OUT07VAL bit clear
}

TEST(Ezusb, PairedInEndpointQueuesTwoPackets) {
    Code fw = Firmware();
    fw.xwrite(USBPAIR, 0x01).xwrite(IN07VAL, 0x04);
    fw.xwrite(IN2BUF, 0x11).xwrite(IN2BC, 1).xread(IN2CS).movDptr(0x1000).raw({0xF0});
    fw.xwrite(IN2BUF, 0x22).xwrite(IN2BC, 1).xread(IN2CS).movDptr(0x1001).raw({0xF0});
    fw.selfJump();
    Chip t(fw);
    t.chip.run(500);
    EXPECT_EQ(t.chip.memory()[0x1000] & 0x02, 0);    // one half still free
    EXPECT_EQ(t.chip.memory()[0x1001] & 0x02, 0x02); // both full: busy
    EXPECT_EQ(t.chip.bulkIn(2).data, std::vector<std::uint8_t>{0x11});
    EXPECT_EQ(t.chip.bulkIn(2).data, std::vector<std::uint8_t>{0x22});
}

TEST(Ezusb, FastTransfersStrobeOnlyWhenRouted) {
    for (const std::uint8_t portacfg : {std::uint8_t{0x30}, std::uint8_t{0x00}}) {
        Code fw = Firmware();
        fw.xwrite(PORTACFG, portacfg).xwrite(FASTXFR, 0x40);
        fw.xwrite(OUT1BUF, 0x5A).xwrite(OUT1BUF + 1, 0x6B);
        fw.xwrite(AUTOPTRH, 0x7E).xwrite(AUTOPTRL, 0x40); // OUT1BUF -> data bus
        fw.movDptr(AUTODATA).raw({0xE0, 0xE0});
        fw.xwrite(AUTOPTRH, 0x7E).xwrite(AUTOPTRL, 0x00); // data bus -> IN2BUF
        fw.movDptr(AUTODATA).raw({0xF0, 0xF0, 0xF0}).selfJump();
        Chip t(fw);
        t.chip.run(1'000);
        const auto in2 = std::vector<std::uint8_t>(t.chip.memory().begin() + IN2BUF,
                                                   t.chip.memory().begin() + IN2BUF + 3);
        if (portacfg) {
            EXPECT_EQ(t.board.written, (std::vector<std::uint8_t>{0x5A, 0x6B}));
            EXPECT_EQ(in2, (std::vector<std::uint8_t>{0xD1, 0xD2, 0xD3}));
        } else {
            EXPECT_TRUE(t.board.written.empty());
            EXPECT_EQ(in2, (std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF}));
        }
        EXPECT_EQ(t.chip.peekXdata(AUTOPTRL), 0x03);
    }
}

TEST(Ezusb, PortPinsMixOutputsAndBoardInputs) {
    Code fw = Firmware();
    fw.xwrite(OEC, 0x0F).xwrite(OUTC, 0x03).xread(PINSC).movDptr(0x1000).raw({0xF0}).selfJump();
    Chip t(fw);
    t.chip.run(500);
    EXPECT_EQ(t.chip.memory()[0x1000], 0xA3);
    ASSERT_FALSE(t.board.changes.empty());
    EXPECT_EQ(t.board.changes.back().port, Port::C);
    EXPECT_EQ(t.board.changes.back().out, 0x03);
    EXPECT_EQ(t.board.changes.back().oe, 0x0F);
}

TEST(Ezusb, RenumerationDisconnectsAndComesBackAsTheFirmware) {
    Code fw = Firmware();
    fw.xwrite(USBCS, 0x0A);                                   // DISCON | RENUM
    fw.raw({0x7E, 0x00, 0x7F, 0x00, 0xDF, 0xFE, 0xDE, 0xFC}); // wait
    fw.xwrite(USBCS, 0x06).selfJump();                        // DISCOE | RENUM
    Chip t(fw);
    const auto connects = t.chip.connectCount();
    ASSERT_TRUE(t.chip.runUntil([&] { return !t.chip.connected(); }, 10'000));
    EXPECT_EQ(t.chip.controlTransfer({0x80, 0x06, 0x0100, 0, 18}).status, UsbStatus::NoDevice);
    ASSERT_TRUE(t.chip.runUntil([&] { return t.chip.connected(); }, 1'000'000));
    EXPECT_EQ(t.chip.connectCount(), connects + 1);
    EXPECT_TRUE(t.chip.renumerated());
    EXPECT_EQ(t.chip.peekXdata(USBIRQ) & 0x10, 0x10); // the host reset the bus
    // The firmware now owns EP0 and does not answer.
    EXPECT_EQ(t.chip.controlTransfer({0x80, 0x06, 0x0100, 0, 18}, {}, 20'000).status,
              UsbStatus::Timeout);
    // 0xA0 is still served by the core.
    EXPECT_TRUE(t.chip.controlTransfer({0xC0, 0xA0, 0, 0, 4}).ok());
}

// INT4..INT6 follow edges of the board's PB4..PB6 while PORTBCFG routes them.
TEST(Ezusb, PortBPinEdgesRaiseTheExternalInterruptFlags) {
    struct Case {
        std::uint8_t portbcfg, from, to;
        std::uint8_t exif, eicon; // flag bits expected afterwards
    } cases[] = {
        {0x70, 0x00, 0x10, 0x40, 0x00}, // INT4 rising
        {0x70, 0x10, 0x00, 0x00, 0x00}, // INT4 falling: nothing
        {0x70, 0x20, 0x00, 0x80, 0x00}, // INT5# falling
        {0x70, 0x00, 0x40, 0x00, 0x08}, // INT6 rising
        {0x00, 0x00, 0x70, 0x00, 0x00}, // not routed
    };
    for (const auto& c : cases) {
        Code fw;
        fw.xwrite(0x7F94, c.portbcfg).selfJump();
        Chip t(fw);
        t.chip.run(100);
        t.board.pinsB = c.from;
        t.chip.boardPinsChanged();
        t.chip.cpu().setSfrLatch(sfr::EXIF, 0x08);
        t.chip.cpu().setSfrLatch(sfr::EICON, 0x40);
        t.board.pinsB = c.to;
        t.chip.boardPinsChanged();
        EXPECT_EQ(t.chip.cpu().sfrLatch(sfr::EXIF) & 0xC0, c.exif)
            << int(c.from) << "->" << int(c.to);
        EXPECT_EQ(t.chip.cpu().sfrLatch(sfr::EICON) & 0x08, c.eicon)
            << int(c.from) << "->" << int(c.to);
    }
}

// TOGCTL: select an endpoint, read Q, reset with R or set with S; host traffic flips it.
TEST(Ezusb, DataTogglesPerEndpointAndDirection) {
    Code fw;
    fw.xwrite(0x7FDE, 0x04).xwrite(IN2BC, 0); // EP2 IN valid, one packet armed
    const std::uint16_t wait = fw.here();
    fw.xread(IN07IRQ).jnbAcc(2, wait); // until the host has ACKed it
    fw.xwrite(0x7FD7, 0x12).xread(0x7FD7).movDptr(0x1000).raw({0xF0}); // IN2: Q
    fw.xwrite(0x7FD7, 0x02).xread(0x7FD7).movDptr(0x1001).raw({0xF0}); // OUT2: Q
    fw.xwrite(0x7FD7, 0x12).xwrite(0x7FD7, 0x32).xread(0x7FD7).movDptr(0x1002).raw({0xF0});
    fw.xwrite(0x7FD7, 0x02).xwrite(0x7FD7, 0x42).xread(0x7FD7).movDptr(0x1003).raw({0xF0});
    fw.selfJump();
    Chip t(fw, false);
    ASSERT_TRUE(t.chip.loadFirmware(fw.bytes).ok());
    ASSERT_TRUE(t.chip.bulkIn(2).ok());
    t.chip.run(1'000);
    EXPECT_EQ(t.chip.memory()[0x1000], 0x92); // IN2 flipped to DATA1 by the ACK
    EXPECT_EQ(t.chip.memory()[0x1001], 0x02); // OUT2 untouched
    EXPECT_EQ(t.chip.memory()[0x1002], 0x12); // R: back to DATA0
    EXPECT_EQ(t.chip.memory()[0x1003], 0x82); // S: DATA1
}

TEST(Ezusb, BootEepromDecidesIdentityOrLoadsAndRuns) {
    Code fw;
    fw.xwrite(0x1000, 0x55).selfJump();
    std::vector<std::uint8_t> b2 = {
        0xB2, 1, 2, 3, 4, 5, 6, 0x00, static_cast<std::uint8_t>(fw.bytes.size()), 0, 0};
    b2.insert(b2.end(), fw.bytes.begin(), fw.bytes.end());
    const std::vector<std::uint8_t> last = {0x80, 0x01, 0x7F, 0x92, 0x00};
    b2.insert(b2.end(), last.begin(), last.end());
    struct Case {
        const char* name;
        std::vector<std::uint8_t> eeprom;
        bool ok, runs;
        std::uint16_t vid, pid; // of the default device, when it does not run
    } cases[] = {
        {"none", {}, true, false, 0x0547, 0x2131},
        {"other_first_byte", {0xFF, 0xFF}, true, false, 0x0547, 0x2131},
        {"b0_identity",
         {0xB0, 0xCD, 0x06, 0x03, 0x01, 0x01, 0x00, 0x00},
         true,
         false,
         0x06CD,
         0x0103},
        {"b2_load_and_run", b2, true, true, 0, 0},
        {"b2_truncated", std::vector<std::uint8_t>(b2.begin(), b2.begin() + 12), false, false,
         0x0547, 0x2131},
        {"b2_outside_ram",
         {0xB2, 0, 0, 0, 0, 0, 0, 0x80, 0x01, 0x20, 0x00, 0xAA},
         false,
         false,
         0x0547,
         0x2131},
    };
    for (const auto& c : cases) {
        Ezusb chip;
        const EepromBoot boot = chip.powerOnFromEeprom(c.eeprom);
        EXPECT_EQ(boot.ok, c.ok) << c.name << ": " << boot.error;
        EXPECT_EQ(chip.cpuHeld(), !c.runs) << c.name;
        EXPECT_EQ(chip.renumerated(), c.runs) << c.name;
        chip.run(1'000);
        if (c.runs) {
            EXPECT_EQ(chip.memory()[0x1000], 0x55) << c.name;
            continue;
        }
        auto dev = chip.controlTransfer({0x80, 0x06, 0x0100, 0, 18});
        ASSERT_EQ(dev.data.size(), 18u) << c.name;
        EXPECT_EQ(dev.data[8] | (dev.data[9] << 8), c.vid) << c.name;
        EXPECT_EQ(dev.data[10] | (dev.data[11] << 8), c.pid) << c.name;
    }
}

// Suspend puts the firmware in IDLE; resume signalling or the wake-up pin brings it back
// through the resume interrupt, and only the pin sets WAKESRC.
TEST(Ezusb, ResumeAndWakeupPinWakeAnIdleCpu) {
    for (const bool pin : {false, true}) {
        Code fw = Firmware();
        fw.org(vec::Resume).raw({0x53, 0xD8, 0xEF, 0x32}); // clear RESI, RETI
        fw.org(kMain).movDirect(sfr::EICON, 0x20).movDirect(sfr::IE, 0x80);
        fw.raw({0x43, 0x87, 0x01}); // ORL PCON,#1: idle
        fw.xwrite(0x1000, 0x77).selfJump();
        Chip t(fw);
        t.chip.run(10'000);
        ASSERT_TRUE(t.chip.cpu().idle());
        EXPECT_EQ(t.chip.memory()[0x1000], 0);
        if (pin)
            t.chip.wakeupPin();
        else
            t.chip.resumeBus();
        t.chip.run(1'000);
        EXPECT_FALSE(t.chip.cpu().idle());
        EXPECT_EQ(t.chip.memory()[0x1000], 0x77);
        EXPECT_EQ((t.chip.peekXdata(USBCS) & 0x80) != 0, pin);
    }
}

// Misuses the chip does not allow are reported, not smoothed over: an IN byte count
// above 64 (the packet reads past its buffer and the host sees babble), and an OUT byte
// count written while MOVX is stretched.
TEST(Ezusb, FirmwareFaultsAreReported) {
    struct Case {
        std::uint8_t stretch;
        std::uint8_t inCount;
        const char* fault; // nothing when empty
    } cases[] = {
        {0, 64, ""},
        {0, 65, "IN2BC written with 65, above 64"},
        {0, 0x7F, "IN2BC written with 127, above 64"},
        {1, 2, "OUT1BC written with MOVX stretch 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.inCount);
        Code fw = Firmware();
        fw.raw({0x75, sfr::CKCON, c.stretch}); // MOV CKCON,#stretch
        fw.xwrite(IN07VAL, 0x04).xwrite(OUT07VAL, 0x02).xwrite(OUT1BC, 0);
        fw.xwrite(IN2BC, c.inCount);
        fw.selfJump();
        Chip t(fw);
        t.chip.run(2000);
        const auto r = t.chip.bulkIn(2, 30'000);
        EXPECT_EQ(r.ok(), c.inCount <= 64) << r.message;
        if (!r.ok()) {
            EXPECT_EQ(r.status, UsbStatus::Error);
            EXPECT_NE(r.message.find("babble"), std::string::npos) << r.message;
        }
        const auto& faults = t.chip.firmwareFaults();
        if (*c.fault == '\0') {
            EXPECT_TRUE(faults.empty()) << faults.front();
        } else {
            ASSERT_EQ(faults.size(), 1U);
            EXPECT_EQ(faults[0].rfind(c.fault, 0), 0U) << faults[0];
        }
    }
}

} // namespace
} // namespace pulsara
