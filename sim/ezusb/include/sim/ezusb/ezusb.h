#pragma once
// The EZ-USB AN21xx chip: the 8051 core, its unified code/data RAM, the endpoint buffers
// and 0x7Fxx registers, the port pins, the fast-transfer strobes and the USB core as the
// host sees it from the other end of the cable. No threads: every host-side call runs the
// CPU until the transfer completes or its cycle budget runs out.
//
//   pulsara::Ezusb chip;                      // power-on: 8051 held in reset, default
//                                             // device (0547:2131) connected, RENUM=0
//   chip.setBoard(&board);                    // port pins and fast-transfer strobes
//   auto r = chip.loadFirmware(image);        // 0xA0: CPUCS=1, write RAM, CPUCS=0
//   chip.run(9'000'000);                      // 1.5 s of board time
//   auto d = chip.controlTransfer({0x80, 0x06, 0x0100, 0, 18}, {}); // GET_DESCRIPTOR
//   auto o = chip.bulkOut(1, bytes);          // NAK until firmware arms OUT1BC
//   auto i = chip.bulkIn(2);                  // NAK until firmware writes IN2BC
//   if (i.status == pulsara::UsbStatus::Timeout) puts(i.message.c_str()); // names the PC
//
// Board time is the CPU's machine-cycle count (6 MHz: 24 MHz / 4 clocks); cycles() gives
// it to board callbacks, which may compute their state lazily from it.

#include "sim/mcs51/mcs51.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace pulsara::sim {

// --- Chip constants. Facts marked "choice" are not confirmed for the AN21xx. ------------
inline constexpr std::uint16_t kEzusbRamEnd = 0x1B40; // 0x0000-0x1B3F: code and data
inline constexpr std::uint16_t kEzusbCpucs = 0x7F92;
inline constexpr std::uint8_t kEzusbFirmwareLoad = 0xA0;
inline constexpr std::size_t kEndpointPacketSize = 64;
inline constexpr std::uint16_t kDefaultVendorId = 0x0547;
inline constexpr std::uint16_t kDefaultProductId = 0x2131;
// CPUCS.7-4 of a rev E part.
inline constexpr std::uint8_t kRevisionE = 4;
// One 1 ms USB frame in machine cycles.
inline constexpr std::uint64_t kCyclesPerFrame = kCyclesPerSecond / 1000;
// Budget of a host-side call when the caller names none: 2 s of board time.
inline constexpr std::uint64_t kDefaultTransferBudget = 2 * kCyclesPerSecond;

enum class UsbStatus : std::uint8_t {
    Ack,        // completed; data holds what the device sent (IN) or nothing (OUT)
    Stall,      // the device stalled the endpoint or the request
    Timeout,    // NAKed until the cycle budget ran out; message names the PC
    NoDevice,   // the cable is detached or the firmware has disconnected (DISCON/DISCOE)
    NoResponse, // endpoint not valid (IN07VAL/OUT07VAL) or held CPU cannot answer
    Error,      // the host asked for something USB cannot carry (e.g. a packet over 64 bytes)
};

[[nodiscard]] const char* UsbStatusName(UsbStatus s);

struct UsbSetup {
    std::uint8_t bmRequestType = 0;
    std::uint8_t bRequest = 0;
    std::uint16_t wValue = 0;
    std::uint16_t wIndex = 0;
    std::uint16_t wLength = 0;
};

struct [[nodiscard]] UsbResult {
    UsbStatus status = UsbStatus::Ack;
    std::vector<std::uint8_t> data; // IN data received (control data stage or bulk packet)
    std::uint16_t pc = 0;           // the 8051's PC when the call returned
    std::uint64_t cycles = 0;       // board time the call took
    std::string message;            // empty on Ack; otherwise what happened and where
    [[nodiscard]] bool ok() const { return status == UsbStatus::Ack; }
};

struct [[nodiscard]] EepromBoot {
    bool ok = true;
    std::string error; // names the offset and the problem when !ok
};

enum class Port : std::uint8_t { A = 0, B = 1, C = 2 };

// The board around the chip. Every method has a harmless default; `cycle` is board time.
class EzusbBoard {
public:
    virtual ~EzusbBoard() = default;
    // Levels the board puts on a port's pins. Pins the chip drives (OEx=1) read OUTx instead.
    virtual std::uint8_t portPins(Port /*port*/, std::uint64_t /*cycle*/) { return 0xFF; }
    // The firmware wrote OUTx or OEx (or the CPU was reset): the new latch and enables.
    virtual void portChanged(Port /*port*/, std::uint8_t /*out*/, std::uint8_t /*oe*/,
                             std::uint64_t /*cycle*/) {}
    // FBLK fast transfer, MOVX write of AUTODATA: the chip pulses FRD# (PA5) and stores the
    // byte the board drives on the data bus at [AUTOPTR]. Return that byte.
    virtual std::uint8_t fastRead(std::uint64_t /*cycle*/) { return 0xFF; }
    // FBLK fast transfer, MOVX read of AUTODATA: the chip drives the byte at [AUTOPTR] onto
    // the data bus and pulses FWR# (PA4).
    virtual void fastWrite(std::uint8_t /*byte*/, std::uint64_t /*cycle*/) {}
};

struct EzusbOptions {
    // Reads of xdata that nothing answers (choice: unconfirmed on the chip).
    std::uint8_t unmappedRead = 0xFF;
    // Generate SOF (and SOFIR) every kCyclesPerFrame while connected and not suspended.
    bool startOfFrames = true;
    // Chip revision in CPUCS.7-4 (choice: rev E).
    std::uint8_t revision = kRevisionE;
};

class Ezusb final : private Mcs51Bus {
public:
    explicit Ezusb(EzusbOptions options = {});
    ~Ezusb() override;
    Ezusb(const Ezusb&) = delete;
    Ezusb& operator=(const Ezusb&) = delete;

    void setBoard(EzusbBoard* board); // not owned; nullptr = no board
    // The board calls this after the levels it drives changed: edges on PB4 (INT4, rising),
    // PB5 (INT5#, falling) and PB6 (INT6, rising) raise their interrupt flags while
    // PORTBCFG routes those pins to their interrupt function.
    void boardPinsChanged();

    // --- power, cable, bus ----------------------------------------------------------------
    // Power-on reset: RAM zeroed, registers to reset values, CPU held (CPUCS.0 = 1), RENUM=0.
    void powerOn();
    // Power-on with a boot EEPROM. First byte 0xB0: the default device takes VID/PID/DID
    // from bytes 1-6. 0xB2: the records from byte 7 on (length high/low, address high/low,
    // data; bit 7 of the length marks the last) go into RAM or CPUCS, RENUM is set and the
    // 8051 released. Anything else boots as without an EEPROM. A malformed B2 image is
    // refused and leaves the chip as powerOn() does.
    [[nodiscard]] EepromBoot powerOnFromEeprom(std::span<const std::uint8_t> eeprom);
    void setCableAttached(bool attached);
    [[nodiscard]] bool cableAttached() const { return cable_; }
    // Cable attached and pull-up on (USBCS: DISCOE=1, DISCON=0).
    [[nodiscard]] bool connected() const;
    // Counts connect edges: a host watches it to notice a re-enumeration.
    [[nodiscard]] std::uint32_t connectCount() const { return connectCount_; }
    void busReset();   // USB reset: FNADDR=0, toggles to DATA0, URESIR
    void suspendBus(); // SUSPIR
    void resumeBus();  // resume signalling: RESI (EICON.4), wakes an idle CPU
    // The WAKEUP# pin pulled during suspend: WAKESRC (USBCS.7) and RESI, like resumeBus().
    void wakeupPin();

    // --- host side: control and bulk transfers ------------------------------------------
    // One whole control transfer. `out` is the data stage of a host-to-device request
    // (its size must equal wLength). 0xA0 and SET_ADDRESS are served by the core; with
    // RENUM=0 the core answers standard requests as the default device; everything else
    // goes to the firmware through SETUPDAT/SUDAV.
    UsbResult controlTransfer(const UsbSetup& setup, std::span<const std::uint8_t> out = {},
                              std::uint64_t budgetCycles = kDefaultTransferBudget);
    // One bulk OUT packet (0..64 bytes) to endpoint 1..7.
    UsbResult bulkOut(int endpoint, std::span<const std::uint8_t> packet,
                      std::uint64_t budgetCycles = kDefaultTransferBudget);
    // One bulk IN packet from endpoint 1..7.
    UsbResult bulkIn(int endpoint, std::uint64_t budgetCycles = kDefaultTransferBudget);

    // Convenience over controlTransfer with 0xA0: hold, write the image at 0, release.
    UsbResult loadFirmware(std::span<const std::uint8_t> image);

    // --- running ------------------------------------------------------------------------
    // Advances board time by `cycles`; the CPU executes unless held in reset or idle.
    StopReason run(std::uint64_t cycles);
    // Runs until `done` is true (checked after every USB register write, port change or
    // strobe, and at least every kPollCycles), or the budget is spent. True when done.
    static constexpr std::uint64_t kPollCycles = 1000;
    bool runUntil(const std::function<bool()>& done, std::uint64_t budgetCycles);
    // When the 8051 spins in a loop whose pass touches no chip register and ends in the
    // state it began with (PC, internal RAM, SFRs, RAM, endpoint buffers), nothing can
    // change until the host or the board acts: skips whole passes up to `cycles` of board
    // time and returns the cycles skipped. Otherwise returns 0 after running at most one
    // pass. Start-of-frame interrupts that the firmware enables rule skipping out.
    std::uint64_t skipIdleLoop(std::uint64_t cycles);
    [[nodiscard]] std::uint64_t cycles() const { return cpu_.cycles(); }
    [[nodiscard]] bool cpuHeld() const { return (cpucs_ & 1) != 0; }

    // --- looking inside (tests, tools) ------------------------------------------------------
    [[nodiscard]] Mcs51& cpu() { return cpu_; }
    [[nodiscard]] const Mcs51& cpu() const { return cpu_; }
    // Whole 64 KiB xdata/code backing store (RAM, endpoint buffers; registers are not here).
    [[nodiscard]] std::span<std::uint8_t> memory() { return mem_; }
    // An xdata read or write as the 8051 would do it, including register side effects.
    [[nodiscard]] std::uint8_t peekXdata(std::uint16_t addr) { return xread(addr); }
    void pokeXdata(std::uint16_t addr, std::uint8_t v) { xwrite(addr, v); }
    [[nodiscard]] std::uint8_t functionAddress() const { return fnaddr_; }
    [[nodiscard]] bool renumerated() const { return (usbcs_ & 0x02) != 0; }
    // What the firmware did that the chip does not allow, in order, each naming the PC:
    // an IN byte count above 64 (the core then sends the packet as written, reading past
    // the buffer, and the host takes it as babble: UsbStatus::Error), and on rev E an
    // OUTnBC write while MOVX is stretched (the erratum: it needs stretch 0 to arm).
    [[nodiscard]] const std::vector<std::string>& firmwareFaults() const;
    [[nodiscard]] std::uint8_t portPinsNow(Port port);

private:
    struct Impl;
    // Mcs51Bus
    std::uint8_t xdataRead(std::uint16_t addr) override { return xread(addr); }
    void xdataWrite(std::uint16_t addr, std::uint8_t v) override { xwrite(addr, v); }
    std::optional<CodePatch> interruptEntry(std::uint16_t vector) override;

    std::uint8_t xread(std::uint16_t addr);
    void xwrite(std::uint16_t addr, std::uint8_t v);
    std::uint8_t memRead(std::uint16_t addr) const;
    void memWrite(std::uint16_t addr, std::uint8_t v);
    std::uint8_t regRead(std::uint16_t addr);
    void regWrite(std::uint16_t addr, std::uint8_t v);
    void endpointRegWrite(std::uint16_t addr, std::uint8_t v);
    void portRegWrite(std::uint16_t addr, std::uint8_t v);
    void usbIrqRegWrite(std::uint16_t addr, std::uint8_t v);
    void usbControlRegWrite(std::uint16_t addr, std::uint8_t v);
    void autodataWrite(std::uint8_t v);
    void mapPages();
    void resetUsbRegisters();
    void cpucsWrite(std::uint8_t v);
    void portWritten(Port port);
    [[nodiscard]] bool usbPending() const;
    [[nodiscard]] std::uint8_t autovector() const;
    void setUsbIrq(std::uint8_t& reg, std::uint8_t mask);
    void usbEvent();
    void updateConnection();
    void advance(std::uint64_t cycles);
    void settleFrames();
    void snapshotInto(std::vector<std::uint8_t>& out) const;
    bool waitFor(const std::function<bool()>& cond, std::uint64_t end);
    void packetTime(std::size_t bytes);
    UsbResult fail(UsbStatus status, std::uint64_t start, std::string message);
    void firmwareFault(const std::string& what);
    UsbResult firmwareLoad(const UsbSetup& setup, std::span<const std::uint8_t> out);
    UsbResult defaultDevice(const UsbSetup& setup, std::span<const std::uint8_t> out,
                            std::uint64_t start);

    EzusbOptions options_;
    std::array<std::uint8_t, 0x10000> mem_{};
    Mcs51 cpu_;
    EzusbBoard* board_ = nullptr;
    bool cable_ = true;
    std::uint32_t connectCount_ = 0;
    std::uint8_t cpucs_ = 0;
    std::uint8_t usbcs_ = 0;
    std::uint8_t fnaddr_ = 0;
    std::uint8_t lastPinsB_ = 0xFF; // for the INT4..INT6 edges
    std::unique_ptr<Impl> impl_;    // endpoint and register state, kept out of this header
};

} // namespace pulsara::sim
