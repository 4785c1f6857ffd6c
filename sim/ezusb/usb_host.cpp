// The USB core as the host sees it: control transfers (with the requests the core serves
// itself), bulk packets, and the time each packet takes on the bus.

#include "default_device.h"
#include "ezusb_impl.h"

#include <algorithm>
#include <cstdio>

namespace pulsara::sim {

using namespace ezusb;

namespace {

// Full-speed bus time of one packet: payload plus about 13 bytes of token, handshake and
// gaps, at 12 Mbit/s = 4 machine cycles per byte.
constexpr std::uint64_t kCyclesPerBusByte = kCyclesPerSecond * 8 / 12'000'000;
constexpr std::size_t kPacketOverheadBytes = 13;

std::string Hex4(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%04X", v);
    return buf;
}

// A packet longer than the endpoint's 64 bytes: the host stops it as babble.
std::string Babble(int endpoint, std::size_t bytes) {
    return "babble: the firmware armed " + std::to_string(bytes) + " bytes (IN" +
           std::to_string(endpoint) + "BC above 64)";
}

} // namespace

const char* UsbStatusName(UsbStatus s) {
    switch (s) {
    case UsbStatus::Ack:
        return "ACK";
    case UsbStatus::Stall:
        return "STALL";
    case UsbStatus::Timeout:
        return "timeout";
    case UsbStatus::NoDevice:
        return "no device";
    case UsbStatus::NoResponse:
        return "no response";
    case UsbStatus::Error:
        return "error";
    }
    return "?";
}

void Ezusb::packetTime(std::size_t bytes) {
    impl_->stopOnEvent = false;
    advance((bytes + kPacketOverheadBytes) * kCyclesPerBusByte);
}

UsbResult Ezusb::fail(UsbStatus status, std::uint64_t start, std::string message) {
    UsbResult r;
    r.status = status;
    r.pc = cpu_.pc();
    r.cycles = cpu_.cycles() - start;
    r.message = std::move(message);
    if (status == UsbStatus::Timeout) {
        r.message += cpuHeld() ? "; the 8051 is held in reset (CPUCS.0=1)"
                               : "; the 8051 is at PC " + Hex4(cpu_.pc());
        r.message += " after " + std::to_string(r.cycles) + " cycles";
    }
    return r;
}

// --- control transfers ------------------------------------------------------------------

UsbResult Ezusb::controlTransfer(const UsbSetup& setup, std::span<const std::uint8_t> out,
                                 std::uint64_t budgetCycles) {
    Impl& s = *impl_;
    const std::uint64_t start = cpu_.cycles();
    const std::uint64_t end = start + budgetCycles;
    const bool dirIn = (setup.bmRequestType & 0x80) != 0;
    const std::string what = "control request " + Hex4(setup.bRequest).substr(4) + "h";
    if (!connected())
        return fail(UsbStatus::NoDevice, start, what + ": the device is not on the bus");
    if (!dirIn && out.size() != setup.wLength)
        return fail(UsbStatus::Error, start,
                    what + ": OUT data of " + std::to_string(out.size()) +
                        " bytes does not match wLength " + std::to_string(setup.wLength));

    packetTime(8); // SETUP stage
    if ((setup.bmRequestType & 0x60) == 0x40 && setup.bRequest == kEzusbFirmwareLoad)
        return firmwareLoad(setup, out);
    if (setup.bmRequestType == 0x00 && setup.bRequest == 0x05) { // SET_ADDRESS
        packetTime(0);
        fnaddr_ = static_cast<std::uint8_t>(setup.wValue & 0x7F);
        UsbResult r;
        r.cycles = cpu_.cycles() - start;
        r.pc = cpu_.pc();
        return r;
    }
    if (!renumerated())
        return defaultDevice(setup, out, start);

    // RENUM=1: the firmware answers through SETUPDAT, SUDAV and EP0.
    const std::uint8_t raw[8] = {setup.bmRequestType,
                                 setup.bRequest,
                                 static_cast<std::uint8_t>(setup.wValue),
                                 static_cast<std::uint8_t>(setup.wValue >> 8),
                                 static_cast<std::uint8_t>(setup.wIndex),
                                 static_cast<std::uint8_t>(setup.wIndex >> 8),
                                 static_cast<std::uint8_t>(setup.wLength),
                                 static_cast<std::uint8_t>(setup.wLength >> 8)};
    std::copy(raw, raw + 8, &s.regs[SETUPDAT & 0xFF]);
    s.ep0Stall = false;
    s.hsnak = true;
    s.sudptrActive = s.sudptrDone = false;
    s.in[0].packets.clear();
    s.out[0].packets.clear();
    s.out[0].armed = 0;
    setUsbIrq(s.usbirq, kUsbirqSutok);
    setUsbIrq(s.usbirq, kUsbirqSudav);

    UsbResult r;
    auto stalled = [&] {
        s.ep0Stall = false; // a stall ends only the current transfer
        return fail(UsbStatus::Stall, start, what + ": stalled by the firmware");
    };
    if (dirIn && setup.wLength > 0) {
        while (r.data.size() < setup.wLength) {
            if (!waitFor([&] { return s.ep0Stall || !s.in[0].packets.empty() || s.sudptrActive; },
                         end))
                return fail(UsbStatus::Timeout, start,
                            what + ": EP0 IN data stage NAKed (IN0BC never written)");
            if (s.ep0Stall)
                return stalled();
            std::vector<std::uint8_t> packet;
            if (s.sudptrActive) {
                const std::size_t n = std::min<std::size_t>(s.sudptrLeft, kEndpointPacketSize);
                for (std::size_t i = 0; i < n; ++i) {
                    packet.push_back(memRead(static_cast<std::uint16_t>(s.sudptrAddr + i)));
                    mem_[InBuf(0) + i] = packet.back();
                }
                s.sudptrAddr = static_cast<std::uint16_t>(s.sudptrAddr + n);
                s.sudptrLeft -= static_cast<std::uint32_t>(n);
                if (n < kEndpointPacketSize) {
                    s.sudptrActive = false;
                    s.sudptrDone = true;
                }
                packetTime(packet.size());
            } else {
                packet = s.in[0].packets.front();
                s.in[0].packets.pop_front();
                if (packet.size() > kEndpointPacketSize)
                    return fail(UsbStatus::Error, start, what + ": " + Babble(0, packet.size()));
                packetTime(packet.size()); // busy until the host's ACK
            }
            setUsbIrq(s.in07irq, 0x01);
            const std::size_t room = setup.wLength - r.data.size();
            r.data.insert(r.data.end(), packet.begin(),
                          packet.begin() + static_cast<long>(std::min(room, packet.size())));
            if (packet.size() < kEndpointPacketSize) {
                s.sudptrActive = false;
                break;
            }
        }
        if (s.sudptrActive && s.sudptrLeft == 0) {
            s.sudptrActive = false;
            s.sudptrDone = true;
        }
    } else if (!dirIn) {
        for (std::size_t off = 0; off < out.size();) {
            if (!waitFor([&] { return s.ep0Stall || s.out[0].armed > 0; }, end))
                return fail(UsbStatus::Timeout, start,
                            what + ": EP0 OUT data stage NAKed (OUT0BC never written)");
            if (s.ep0Stall)
                return stalled();
            const std::size_t n = std::min(kEndpointPacketSize, out.size() - off);
            packetTime(n);
            --s.out[0].armed;
            s.out[0].packets.emplace_back(out.begin() + static_cast<long>(off),
                                          out.begin() + static_cast<long>(off + n));
            std::copy_n(out.begin() + static_cast<long>(off), n, &mem_[OutBuf(0)]);
            setUsbIrq(s.out07irq, 0x01);
            off += n;
        }
    }

    // Status stage: NAKed while HSNAK is set, unless a SUDPTR send completed it.
    const bool autoDone = kSudptrCompletesStatus && s.sudptrDone;
    if (!autoDone && !waitFor([&] { return s.ep0Stall || !s.hsnak; }, end))
        return fail(UsbStatus::Timeout, start, what + ": status stage NAKed (HSNAK never cleared)");
    if (s.ep0Stall)
        return stalled();
    if (autoDone)
        s.hsnak = false;
    packetTime(0);
    r.cycles = cpu_.cycles() - start;
    r.pc = cpu_.pc();
    return r;
}

// 0xA0: the core reads and writes internal RAM itself, CPU running or not.
UsbResult Ezusb::firmwareLoad(const UsbSetup& setup, std::span<const std::uint8_t> out) {
    const std::uint64_t start = cpu_.cycles();
    const bool dirIn = (setup.bmRequestType & 0x80) != 0;
    for (std::uint32_t i = 0; i < setup.wLength; ++i) {
        const std::uint32_t a = setup.wValue + i;
        if (a >= kEzusbRamEnd && a != kEzusbCpucs && kFirmwareLoadStallsOutside)
            return fail(UsbStatus::Stall, start,
                        "firmware load (A0h): address " + Hex4(a) +
                            " is outside the internal RAM 0x0000-0x1B3F and CPUCS; "
                            "load it with a second-stage loader");
    }
    UsbResult r;
    for (std::uint32_t off = 0; off < setup.wLength; off += kEndpointPacketSize) {
        const std::uint32_t n = std::min<std::uint32_t>(kEndpointPacketSize, setup.wLength - off);
        packetTime(n);
        for (std::uint32_t i = off; i < off + n; ++i) {
            const auto a = static_cast<std::uint16_t>(setup.wValue + i);
            if (dirIn)
                r.data.push_back(a == kEzusbCpucs ? cpucs_ : mem_[a]);
            else if (a == kEzusbCpucs)
                cpucsWrite(out[i]);
            else if (a < kEzusbRamEnd)
                mem_[a] = out[i];
        }
    }
    packetTime(0);
    r.cycles = cpu_.cycles() - start;
    r.pc = cpu_.pc();
    return r;
}

UsbResult Ezusb::loadFirmware(std::span<const std::uint8_t> image) {
    const std::uint64_t start = cpu_.cycles();
    if (image.size() > kEzusbRamEnd)
        return fail(UsbStatus::Error, start,
                    "firmware image of " + std::to_string(image.size()) +
                        " bytes does not fit the internal RAM (6976 bytes)");
    const std::uint8_t hold = 1, run = 0;
    auto r = controlTransfer({0x40, kEzusbFirmwareLoad, kEzusbCpucs, 0, 1}, {&hold, 1});
    for (std::size_t off = 0; r.ok() && off < image.size(); off += 1024) {
        const std::size_t n = std::min<std::size_t>(1024, image.size() - off);
        r = controlTransfer({0x40, kEzusbFirmwareLoad, static_cast<std::uint16_t>(off), 0,
                             static_cast<std::uint16_t>(n)},
                            image.subspan(off, n));
    }
    if (r.ok())
        r = controlTransfer({0x40, kEzusbFirmwareLoad, kEzusbCpucs, 0, 1}, {&run, 1});
    r.cycles = cpu_.cycles() - start;
    return r;
}

// RENUM=0: the core itself is the default device.
UsbResult Ezusb::defaultDevice(const UsbSetup& setup, std::span<const std::uint8_t>,
                               std::uint64_t start) {
    Impl& s = *impl_;
    std::vector<std::uint8_t> reply;
    bool ok = true;
    const std::uint8_t type = setup.bmRequestType;
    switch (setup.bRequest) {
    case 0x06: // GET_DESCRIPTOR
        if (type != 0x80)
            ok = false;
        else if ((setup.wValue >> 8) == 1)
            reply = DefaultDeviceDescriptor(s.vendorId, s.productId, s.deviceId);
        else if ((setup.wValue >> 8) == 2 && (setup.wValue & 0xFF) == 0)
            reply = DefaultConfigurationDescriptor();
        else
            ok = false; // no strings, no other descriptors
        break;
    case 0x00: // GET_STATUS
        if (type == 0x80 || type == 0x81)
            reply = {0, 0};
        else if (type == 0x82)
            reply = {static_cast<std::uint8_t>(s.in[setup.wIndex & 7].stall), 0};
        else
            ok = false;
        break;
    case 0x08: // GET_CONFIGURATION
        ok = type == 0x80;
        reply = {s.configuration};
        break;
    case 0x09: // SET_CONFIGURATION
        ok = type == 0x00 && setup.wValue <= 1;
        if (ok)
            s.configuration = static_cast<std::uint8_t>(setup.wValue);
        break;
    case 0x0A: // GET_INTERFACE
        ok = type == 0x81;
        reply = {s.altSetting};
        break;
    case 0x0B: // SET_INTERFACE
        ok = type == 0x01 && setup.wIndex == 0 && setup.wValue < kDefaultAltSettings;
        if (ok)
            s.altSetting = static_cast<std::uint8_t>(setup.wValue);
        break;
    case 0x01: // CLEAR_FEATURE
    case 0x03: // SET_FEATURE
        ok = (type & 0x80) == 0 && (type & 0x60) == 0;
        break;
    default:
        // Choice: vendor and class requests other than 0xA0 are stalled with RENUM=0.
        ok = false;
        break;
    }
    if (!ok) {
        packetTime(0);
        return fail(UsbStatus::Stall, start,
                    "control request " + Hex4(setup.bRequest).substr(4) +
                        "h: stalled by the default device (RENUM=0)");
    }
    UsbResult r;
    if (type & 0x80) {
        reply.resize(std::min<std::size_t>(reply.size(), setup.wLength));
        for (std::size_t off = 0; off < reply.size(); off += kEndpointPacketSize)
            packetTime(std::min(kEndpointPacketSize, reply.size() - off));
        r.data = std::move(reply);
    }
    packetTime(0);
    r.cycles = cpu_.cycles() - start;
    r.pc = cpu_.pc();
    return r;
}

// --- bulk -------------------------------------------------------------------------------

UsbResult Ezusb::bulkOut(int endpoint, std::span<const std::uint8_t> packet,
                         std::uint64_t budgetCycles) {
    Impl& s = *impl_;
    const std::uint64_t start = cpu_.cycles();
    const std::string what = "bulk OUT to endpoint " + std::to_string(endpoint);
    if (endpoint < 1 || endpoint > 7)
        return fail(UsbStatus::Error, start, what + ": endpoints are 1 to 7");
    if (packet.size() > kEndpointPacketSize)
        return fail(UsbStatus::Error, start,
                    what + ": a packet holds at most 64 bytes, not " +
                        std::to_string(packet.size()));
    if (!connected())
        return fail(UsbStatus::NoDevice, start, what + ": the device is not on the bus");
    if (!(regRead(OUT07VAL) & (1 << endpoint)))
        return fail(UsbStatus::NoResponse, start, what + ": endpoint not valid (OUT07VAL)");
    Endpoint& ep = s.out[endpoint];
    if (!waitFor([&] { return ep.stall || ep.armed > 0; }, start + budgetCycles))
        return fail(UsbStatus::Timeout, start,
                    what + ": NAKed (OUT" + std::to_string(endpoint) + "BC never written)");
    if (ep.stall)
        return fail(UsbStatus::Stall, start, what + ": endpoint stalled");
    packetTime(packet.size());
    --ep.armed;
    ep.packets.emplace_back(packet.begin(), packet.end());
    if (ep.packets.size() == 1)
        std::copy(packet.begin(), packet.end(), &mem_[OutBuf(endpoint)]);
    s.toggle[0][endpoint] = !s.toggle[0][endpoint];
    setUsbIrq(s.out07irq, static_cast<std::uint8_t>(1 << endpoint));
    UsbResult r;
    r.cycles = cpu_.cycles() - start;
    r.pc = cpu_.pc();
    return r;
}

UsbResult Ezusb::bulkIn(int endpoint, std::uint64_t budgetCycles) {
    Impl& s = *impl_;
    const std::uint64_t start = cpu_.cycles();
    const std::string what = "bulk IN from endpoint " + std::to_string(endpoint);
    if (endpoint < 1 || endpoint > 7)
        return fail(UsbStatus::Error, start, what + ": endpoints are 1 to 7");
    if (!connected())
        return fail(UsbStatus::NoDevice, start, what + ": the device is not on the bus");
    if (!(regRead(IN07VAL) & (1 << endpoint)))
        return fail(UsbStatus::NoResponse, start, what + ": endpoint not valid (IN07VAL)");
    Endpoint& ep = s.in[endpoint];
    if (!waitFor([&] { return ep.stall || !ep.packets.empty(); }, start + budgetCycles))
        return fail(UsbStatus::Timeout, start,
                    what + ": NAKed (IN" + std::to_string(endpoint) + "BC never written)");
    if (ep.stall)
        return fail(UsbStatus::Stall, start, what + ": endpoint stalled");
    UsbResult r;
    r.data = ep.packets.front();
    ep.packets.pop_front();
    if (r.data.size() > kEndpointPacketSize)
        return fail(UsbStatus::Error, start, what + ": " + Babble(endpoint, r.data.size()));
    packetTime(r.data.size()); // busy until the host's ACK
    s.toggle[1][endpoint] = !s.toggle[1][endpoint];
    setUsbIrq(s.in07irq, static_cast<std::uint8_t>(1 << endpoint));
    r.cycles = cpu_.cycles() - start;
    r.pc = cpu_.pc();
    return r;
}

} // namespace pulsara::sim
