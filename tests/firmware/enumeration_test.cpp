// Start-up, re-enumeration and the standard requests of the committed image.
#include "board_fixture.h"
#include "firmware/layout.h"

#include <optional>
#include <string>

namespace pulsara::test {
namespace {

const Bytes kDeviceDescriptor = {18,   1,    0x00, 0x01, 0,    0, 0, 64, 0x47,
                                 0x05, 0x31, 0x21, 0x01, 0x00, 1, 2, 0,  1};

// Configuration, interface and the 14 endpoints in pipe order.
Bytes ConfigurationDescriptor() {
    Bytes d = {9, 2, 116, 0, 1, 1, 0, 0xA0, 250, 9, 4, 0, 0, 14, 0xFF, 0, 0, 0};
    const std::uint8_t addresses[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                                      0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87};
    for (std::uint8_t a : addresses) {
        const bool interrupt = a == 0x81;
        d.insert(d.end(), {7, 5, a, static_cast<std::uint8_t>(interrupt ? 3 : 2), 64, 0,
                           static_cast<std::uint8_t>(interrupt ? 1 : 0)});
    }
    return d;
}

Bytes StringDescriptor(const std::string& text) {
    Bytes d = {static_cast<std::uint8_t>(2 + 2 * text.size()), 3};
    for (char c : text) {
        d.insert(d.end(), {static_cast<std::uint8_t>(c), 0});
    }
    return d;
}

Bytes Prefix(const Bytes& b, std::size_t n) {
    return Bytes(b.begin(), b.begin() + n);
}

TEST_F(FirmwareBoard, ReconnectsAboutOneAndAHalfSecondsAfterRelease) {
    const std::uint64_t cycles = boot();
    const double ms = 1000.0 * static_cast<double>(cycles) / kCyclesPerSecond;
    EXPECT_NEAR(ms, 1500.0, 15.0);
    EXPECT_TRUE(chip.renumerated()) << "the firmware must answer requests itself";
}

TEST_F(FirmwareBoard, ReconnectsAgainWhenNoSetupPacketComes) {
    boot();
    const std::uint32_t first = chip.connectCount();
    ASSERT_TRUE(chip.runUntil([&] { return chip.connectCount() > first; }, 3 * kCyclesPerSecond))
        << "a host that missed the reconnect must get another one";
    // Once a SETUP packet has come, the firmware stays on the bus.
    ASSERT_TRUE(chip.runUntil([&] { return chip.connected(); }, 3 * kCyclesPerSecond));
    chip.busReset();
    ASSERT_TRUE(control({0x80, kGetDescriptor, 0x0100, 0, 18}).ok());
    const std::uint32_t settled = chip.connectCount();
    chip.run(3 * kCyclesPerSecond);
    EXPECT_EQ(chip.connectCount(), settled);
    EXPECT_TRUE(chip.connected());
}

TEST_F(FirmwareBoard, ServesDescriptorsCutToTheRequestedLengthAndStallsOthers) {
    boot();
    chip.busReset();
    const Bytes config = ConfigurationDescriptor();
    ASSERT_EQ(config.size(), 116u);
    const std::optional<Bytes> stall;
    struct Case {
        const char* what;
        std::uint16_t wValue, wIndex, wLength;
        std::optional<Bytes> expected; // nothing: stalled
    } cases[] = {
        {"device", 0x0100, 0, 64, kDeviceDescriptor},
        {"device, first 8", 0x0100, 0, 8, Prefix(kDeviceDescriptor, 8)},
        {"configuration, header only", 0x0200, 0, 9, Prefix(config, 9)},
        {"configuration, in two pieces", 0x0200, 0, 255, config},
        {"configuration, cut in the second piece", 0x0200, 0, 100, Prefix(config, 100)},
        {"configuration, exactly one piece", 0x0200, 0, 64, Prefix(config, 64)},
        {"languages", 0x0300, 0, 255, Bytes{4, 3, 0x09, 0x04}},
        {"manufacturer", 0x0301, 0x0409, 255, StringDescriptor("WFFW")},
        {"product, the host's odd language id", 0x0302, 27, 130, StringDescriptor("V100")},
        {"product, length byte only", 0x0302, 0, 1, Bytes{10}},
        {"product, wLength above 255", 0x0302, 0, 0x0100, StringDescriptor("V100")},
        {"string 3", 0x0303, 0, 255, stall},
        {"string 255", 0x03FF, 0, 255, stall},
        {"configuration 1", 0x0201, 0, 255, stall},
        {"interface", 0x0400, 0, 255, stall},
        {"device qualifier", 0x0600, 0, 10, stall},
        {"device again: a stall ends only its request", 0x0100, 0, 18, kDeviceDescriptor},
    };
    for (const Case& c : cases) {
        const UsbResult r = control({0x80, kGetDescriptor, c.wValue, c.wIndex, c.wLength});
        if (!c.expected) {
            EXPECT_EQ(r.status, UsbStatus::Stall) << c.what;
            continue;
        }
        ASSERT_TRUE(r.ok()) << c.what << ": " << r.message;
        EXPECT_EQ(r.data, *c.expected) << c.what;
    }
    // What is served is the table at its fixed place: device, configuration, strings 0-2
    // and the two closing zero bytes.
    Bytes table = kDeviceDescriptor;
    for (const Bytes& part : {config, Bytes{4, 3, 0x09, 0x04}, StringDescriptor("WFFW"),
                              StringDescriptor("V100"), Bytes{0, 0}}) {
        table.insert(table.end(), part.begin(), part.end());
    }
    const auto image = FirmwareImage();
    EXPECT_EQ(Bytes(image.begin() + fw::kDescriptorTable, image.begin() + fw::kDescriptorTableEnd),
              table);
}

TEST_F(FirmwareBoard, AnswersStatusAndFeatureRequests) {
    boot();
    chip.busReset();
    const auto status = [&](std::uint8_t type, std::uint16_t index) {
        const UsbResult r = control({type, kGetStatus, 0, index, 2});
        return r.ok() ? r.data : Bytes{0xEE, static_cast<std::uint8_t>(r.status)};
    };
    EXPECT_EQ(status(0x80, 0), (Bytes{2, 0})) << "remote wake-up is on from start-up";
    ASSERT_TRUE(control({0x00, kClearFeature, 1, 0, 0}).ok());
    EXPECT_EQ(status(0x80, 0), (Bytes{0, 0}));
    ASSERT_TRUE(control({0x00, kSetFeature, 1, 0, 0}).ok());
    EXPECT_EQ(status(0x80, 0), (Bytes{2, 0}));
    EXPECT_EQ(status(0x81, 0), (Bytes{0, 0}));

    // Endpoint halt on 2 IN: the stall bit shows in GET_STATUS and on the bus.
    EXPECT_EQ(status(0x82, 0x82), (Bytes{0, 0}));
    ASSERT_TRUE(control({0x02, kSetFeature, 0, 0x82, 0}).ok());
    EXPECT_EQ(status(0x82, 0x82), (Bytes{1, 0}));
    EXPECT_EQ(chip.bulkIn(2, kCyclesPerFrame).status, UsbStatus::Stall);
    ASSERT_TRUE(control({0x02, kClearFeature, 0, 0x82, 0}).ok());
    EXPECT_EQ(status(0x82, 0x82), (Bytes{0, 0}));
    // Clearing a halt also puts the endpoint's data toggle back to DATA0.
    constexpr std::uint16_t kTogctl = 0x7FD7;
    const auto toggle = [&](std::uint8_t select) {
        chip.pokeXdata(kTogctl, select);
        return (chip.peekXdata(kTogctl) & 0x80) != 0;
    };
    ASSERT_TRUE(chip.bulkOut(1, Bytes{0x24}).ok());
    ASSERT_TRUE(chip.bulkIn(2).ok());
    ASSERT_TRUE(toggle(0x12) && toggle(0x01)) << "one packet each way moves both to DATA1";
    ASSERT_TRUE(control({0x02, kClearFeature, 0, 0x82, 0}).ok());
    ASSERT_TRUE(control({0x02, kClearFeature, 0, 0x01, 0}).ok());
    EXPECT_FALSE(toggle(0x12));
    EXPECT_FALSE(toggle(0x01));
    // An OUT endpoint has its own stall bit.
    ASSERT_TRUE(control({0x02, kSetFeature, 0, 0x01, 0}).ok());
    EXPECT_EQ(status(0x82, 0x01), (Bytes{1, 0}));
    EXPECT_EQ(status(0x82, 0x81), (Bytes{0, 0}));

    struct Refused {
        const char* what;
        UsbSetup setup;
    } refused[] = {
        {"status of 'other' recipient", {0x83, kGetStatus, 0, 0, 2}},
        {"device feature other than wake-up", {0x00, kSetFeature, 2, 0, 0}},
        {"endpoint feature other than halt", {0x02, kSetFeature, 1, 0x82, 0}},
        {"SET_DESCRIPTOR", {0x00, 7, 0x0100, 0, 0}},
        {"SYNCH_FRAME", {0x82, 12, 0, 0x82, 2}},
        {"vendor request with a standard number", {0xC0, kGetDescriptor, 0x0100, 0, 18}},
        {"class request", {0xA1, 0x01, 0, 0, 1}},
        // A halt on endpoint 0 stays set to the end of the request (the next SETUP ends it).
        {"halt on endpoint 0", {0x02, kSetFeature, 0, 0x00, 0}},
        {"halt on endpoint 0 IN", {0x02, kSetFeature, 0, 0x80, 0}},
    };
    for (const Refused& c : refused) {
        EXPECT_EQ(control(c.setup).status, UsbStatus::Stall) << c.what;
    }
    // The firmware leaves a halt of endpoint 0 set: only the next SETUP clears it.
    chip.run(kCyclesPerFrame);
    EXPECT_EQ(chip.peekXdata(0x7FB4) & 0x01, 0x01) << "EP0CS.STALL";
    // Features of interfaces are taken without effect.
    EXPECT_TRUE(control({0x01, kSetFeature, 0, 0, 0}).ok());
    EXPECT_EQ(status(0x80, 0), (Bytes{2, 0}));
}

// Firmware that ran before ours may leave endpoint requests pending, with buffers that
// mean nothing to us: they are gone by the time our handlers can run.
TEST_F(FirmwareBoard, StaleRequestsOfEarlierFirmwareAreGoneWhenInterruptsComeOn) {
    bootAndConfigure();
    const std::uint8_t hold = 1;
    ASSERT_TRUE(control({0x40, 0xA0, 0x7F92, 0, 1}, {&hold, 1}).ok());
    // Taken by the core while the 8051 is held: their requests stay pending.
    ASSERT_TRUE(chip.bulkOut(1, Bytes{0x30, 0x99}).ok());
    ASSERT_TRUE(chip.bulkOut(2, Bytes(64, 0x55)).ok());
    ASSERT_TRUE(chip.bulkIn(2, kCyclesPerFrame).status == UsbStatus::Timeout);
    ASSERT_TRUE(chip.loadFirmware(FirmwareImage()).ok());
    constexpr std::uint8_t kEa = 0x80;
    for (int i = 0; i < 100000 && (chip.cpu().sfrLatch(sfr::IE) & kEa) == 0; ++i) {
        chip.run(1);
    }
    ASSERT_NE(chip.cpu().sfrLatch(sfr::IE) & kEa, 0) << "interrupts never came on";
    constexpr std::uint16_t kIn07Irq = 0x7FA9, kOut07Irq = 0x7FAA;
    EXPECT_EQ(chip.peekXdata(kIn07Irq), 0);
    EXPECT_EQ(chip.peekXdata(kOut07Irq), 0);
    chip.run(2 * kCyclesPerSecond);
    EXPECT_TRUE(board.writes.empty()) << "a stale packet was run";
}

TEST_F(FirmwareBoard, StoresConfigurationAndAlternateSettingWithoutChecks) {
    boot();
    chip.busReset();
    const auto get = [&](std::uint8_t type, std::uint8_t request) {
        return control({type, request, 0, 0, 1}).data;
    };
    EXPECT_EQ(get(0x80, kGetConfiguration), Bytes{0});
    EXPECT_EQ(get(0x81, kGetInterface), Bytes{0});
    ASSERT_TRUE(control({0x00, kSetConfiguration, 7, 0, 0}).ok());
    ASSERT_TRUE(control({0x01, kSetInterface, 9, 0, 0}).ok());
    EXPECT_EQ(get(0x80, kGetConfiguration), Bytes{7});
    EXPECT_EQ(get(0x81, kGetInterface), Bytes{9});
}

} // namespace
} // namespace pulsara::test
