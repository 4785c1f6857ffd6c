#pragma once
// Addresses and bits of the AN21xx xdata register block, and the chip's chosen reset
// values where the chip's documentation is silent.

#include <cstdint>

namespace pulsara::sim::ezusb {

// Register addresses (0x7Fxx).
inline constexpr std::uint16_t CPUCS = 0x7F92, PORTACFG = 0x7F93, PORTBCFG = 0x7F94,
                               PORTCCFG = 0x7F95, OUTA = 0x7F96, OUTB = 0x7F97, OUTC = 0x7F98,
                               PINSA = 0x7F99, PINSB = 0x7F9A, PINSC = 0x7F9B, OEA = 0x7F9C,
                               OEB = 0x7F9D, OEC = 0x7F9E, ISOCTL = 0x7FA1, IVEC = 0x7FA8,
                               IN07IRQ = 0x7FA9, OUT07IRQ = 0x7FAA, USBIRQ = 0x7FAB,
                               IN07IEN = 0x7FAC, OUT07IEN = 0x7FAD, USBIEN = 0x7FAE,
                               USBBAV = 0x7FAF, EP0CS = 0x7FB4, IN0BC = 0x7FB5, OUT0BC = 0x7FC5,
                               SUDPTRH = 0x7FD4, SUDPTRL = 0x7FD5, USBCS = 0x7FD6, TOGCTL = 0x7FD7,
                               USBFRAMEL = 0x7FD8, USBFRAMEH = 0x7FD9, FNADDR = 0x7FDB,
                               USBPAIR = 0x7FDD, IN07VAL = 0x7FDE, OUT07VAL = 0x7FDF,
                               FASTXFR = 0x7FE2, AUTOPTRH = 0x7FE3, AUTOPTRL = 0x7FE4,
                               AUTODATA = 0x7FE5, SETUPDAT = 0x7FE8;
inline constexpr std::uint16_t kRegsBegin = 0x7F92; // first register with behaviour

// INnCS at 0x7FB4 + 2n (EP0CS for n = 0), INnBC one above; OUTnCS at 0x7FC4 + 2n.
constexpr std::uint16_t InCs(int n) {
    return static_cast<std::uint16_t>(0x7FB4 + 2 * n);
}
constexpr std::uint16_t OutCs(int n) {
    return static_cast<std::uint16_t>(0x7FC4 + 2 * n);
}
constexpr std::uint16_t InBuf(int n) {
    return static_cast<std::uint16_t>(0x7F00 - 0x80 * n);
}
constexpr std::uint16_t OutBuf(int n) {
    return static_cast<std::uint16_t>(InBuf(n) - 0x40);
}

// Bits.
inline constexpr std::uint8_t kCpucs8051Res = 0x01, kCpucsClk24Oe = 0x02;
inline constexpr std::uint8_t kUsbcsWakesrc = 0x80, kUsbcsDiscon = 0x08, kUsbcsDiscoe = 0x04,
                              kUsbcsRenum = 0x02, kUsbcsSigrsume = 0x01;
inline constexpr std::uint8_t kUsbirqSudav = 0x01, kUsbirqSof = 0x02, kUsbirqSutok = 0x04,
                              kUsbirqSusp = 0x08, kUsbirqUres = 0x10;
inline constexpr std::uint8_t kEp0csStall = 0x01, kEp0csHsnak = 0x02, kEp0csIn0Bsy = 0x04,
                              kEp0csOut0Bsy = 0x08;
inline constexpr std::uint8_t kCsStall = 0x01, kCsBusy = 0x02;
inline constexpr std::uint8_t kUsbbavAven = 0x01, kUsbbavBreak = 0x08;
inline constexpr std::uint8_t kFastxfrFblk = 0x40;
inline constexpr std::uint8_t kPortaFwr = 0x10, kPortaFrd = 0x20; // PORTACFG.4 / .5
inline constexpr std::uint8_t kIsoctlIsodisab = 0x01;
inline constexpr std::uint8_t kExifUsbint = 0x10, kEiconResi = 0x10;

// Choices where the chip's reset value is unconfirmed.
// USBCS: pull-up enabled (the default device enumerates at power-on), RENUM=0.
inline constexpr std::uint8_t kUsbcsReset = kUsbcsDiscoe;
// IN07VAL/OUT07VAL: only endpoint 0 valid until the firmware says otherwise.
inline constexpr std::uint8_t kValidReset = 0x01;
// Writing 1 to INnCS.1 (busy) drops the armed packets, as the ULK firmware expects.
inline constexpr bool kInBusyWriteCancels = true;
// After a SUDPTR descriptor send the core ACKs the status stage by itself.
inline constexpr bool kSudptrCompletesStatus = true;
// An 0xA0 request touching anything but RAM and CPUCS is stalled whole (the chip's
// behaviour is unknown; refusing it catches loader bugs).
inline constexpr bool kFirmwareLoadStallsOutside = true;
// Reads of the external data bus when no strobe is routed (PORTACFG bit clear).
inline constexpr std::uint8_t kFloatingBus = 0xFF;

} // namespace pulsara::sim::ezusb
