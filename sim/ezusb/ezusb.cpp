// The chip's memory map and its 0x7Fxx register file, as the 8051 sees them.

#include "ezusb_impl.h"

#include <algorithm>
#include <cstdio>

namespace pulsara::sim {

using namespace ezusb;

Ezusb::Ezusb(EzusbOptions options)
    : options_(options), cpu_(static_cast<Mcs51Bus&>(*this)), impl_(std::make_unique<Impl>()) {
    impl_->floating.fill(options_.unmappedRead);
    cpu_.setCode(mem_.data());
    powerOn();
}

Ezusb::~Ezusb() = default;

const std::vector<std::string>& Ezusb::firmwareFaults() const {
    return impl_->firmwareFaults;
}

void Ezusb::firmwareFault(const std::string& what) {
    char pc[8];
    std::snprintf(pc, sizeof pc, "0x%04X", cpu_.pc());
    impl_->firmwareFaults.push_back(what + " at PC " + pc);
}

void Ezusb::powerOn() {
    // Choice: RAM powers up zeroed (silicon is random), so runs are repeatable.
    mem_.fill(0);
    cpucs_ = static_cast<std::uint8_t>((options_.revision << 4) | kCpucsClk24Oe | kCpucs8051Res);
    usbcs_ = kUsbcsReset;
    fnaddr_ = 0;
    impl_->regs.fill(0);
    impl_->configuration = impl_->altSetting = 0;
    impl_->vendorId = kDefaultVendorId;
    impl_->productId = kDefaultProductId;
    impl_->deviceId = 0;
    impl_->suspended = false;
    resetUsbRegisters();
    cpu_.reset();
    mapPages();
    impl_->wasConnected = false;
    impl_->nextSof = cpu_.cycles() + kCyclesPerFrame;
    updateConnection();
}

EepromBoot Ezusb::powerOnFromEeprom(std::span<const std::uint8_t> e) {
    powerOn();
    auto refuse = [&](std::size_t at, const std::string& what) {
        powerOn(); // nothing of a bad image stays behind
        return EepromBoot{false, "boot EEPROM, byte " + std::to_string(at) + ": " + what};
    };
    if (e.empty() || (e[0] != 0xB0 && e[0] != 0xB2))
        return {};
    if (e.size() < 7)
        return refuse(e.size(), "the header needs 7 bytes (type, VID, PID, DID)");
    if (e[0] == 0xB0) {
        impl_->vendorId = static_cast<std::uint16_t>(e[1] | (e[2] << 8));
        impl_->productId = static_cast<std::uint16_t>(e[3] | (e[4] << 8));
        impl_->deviceId = static_cast<std::uint16_t>(e[5] | (e[6] << 8));
        return {};
    }
    // Choice: B2 records start right after the 7-byte header (the VID/PID/DID are ignored).
    constexpr std::size_t kB2FirstRecord = 7;
    for (std::size_t at = kB2FirstRecord;;) {
        if (at + 4 > e.size())
            return refuse(at, "a record header runs past the end");
        const bool last = (e[at] & 0x80) != 0;
        const std::size_t length = static_cast<std::size_t>(((e[at] & 0x03) << 8) | e[at + 1]);
        const std::uint32_t addr = static_cast<std::uint32_t>((e[at + 2] << 8) | e[at + 3]);
        if (at + 4 + length > e.size())
            return refuse(at, "record data runs past the end");
        for (std::size_t i = 0; i < length; ++i) {
            const std::uint32_t a = addr + static_cast<std::uint32_t>(i);
            if (a == kEzusbCpucs)
                cpucsWrite(e[at + 4 + i]);
            else if (a < kEzusbRamEnd)
                mem_[a] = e[at + 4 + i];
            else
                return refuse(at, "address outside the internal RAM and CPUCS");
        }
        at += 4 + length;
        if (last)
            break;
    }
    usbcs_ |= kUsbcsRenum;
    cpucsWrite(0); // the core releases the 8051 once the load is done
    return {};
}

void Ezusb::resetUsbRegisters() {
    Impl& s = *impl_;
    for (int n = 0; n < 8; ++n) {
        s.in[n] = Endpoint{};
        s.out[n] = Endpoint{};
        s.toggle[0][n] = s.toggle[1][n] = false;
    }
    s.usbirq = s.in07irq = s.out07irq = 0;
    s.hsnak = s.ep0Stall = false;
    s.sudptrActive = s.sudptrDone = false;
    s.regs[IN07VAL & 0xFF] = kValidReset;
    s.regs[OUT07VAL & 0xFF] = kValidReset;
}

void Ezusb::mapPages() {
    Impl& s = *impl_;
    const bool iso = (s.regs[ISOCTL & 0xFF] & kIsoctlIsodisab) != 0;
    for (unsigned p = 0; p < 256; ++p) {
        std::uint8_t* ram = &mem_[p << 8];
        const auto page = static_cast<std::uint8_t>(p);
        if (p < (kEzusbRamEnd >> 8) || (p >= 0x7C && p <= 0x7E) || (iso && p >= 0x20 && p < 0x28))
            cpu_.mapXdataPage(page, ram, ram);
        else if (p == (kEzusbRamEnd >> 8) || p == 0x7B || p == 0x7F)
            cpu_.mapXdataPage(page, nullptr, nullptr); // split pages: per-address handlers
        else
            cpu_.mapXdataPage(page, s.floating.data(), s.sink.data());
    }
}

// RAM and endpoint buffers; everything else is unmapped here.
std::uint8_t Ezusb::memRead(std::uint16_t a) const {
    const bool iso = (impl_->regs[ISOCTL & 0xFF] & kIsoctlIsodisab) != 0;
    if (a < kEzusbRamEnd || (a >= 0x7B40 && a < 0x7F40) || (iso && a >= 0x2000 && a < 0x2800))
        return mem_[a];
    return options_.unmappedRead;
}

void Ezusb::memWrite(std::uint16_t a, std::uint8_t v) {
    const bool iso = (impl_->regs[ISOCTL & 0xFF] & kIsoctlIsodisab) != 0;
    if (a < kEzusbRamEnd || (a >= 0x7B40 && a < 0x7F40) || (iso && a >= 0x2000 && a < 0x2800))
        mem_[a] = v;
}

std::uint8_t Ezusb::xread(std::uint16_t a) {
    if (a >= kRegsBegin)
        return regRead(a);
    return memRead(a);
}

void Ezusb::xwrite(std::uint16_t a, std::uint8_t v) {
    if (a >= kRegsBegin)
        regWrite(a, v);
    else
        memWrite(a, v);
}

// --- interrupts -------------------------------------------------------------------------

bool Ezusb::usbPending() const {
    const Impl& s = *impl_;
    return ((s.usbirq & s.regs[USBIEN & 0xFF] & 0x1F) | (s.in07irq & s.regs[IN07IEN & 0xFF]) |
            (s.out07irq & s.regs[OUT07IEN & 0xFF])) != 0;
}

// The lowest-numbered pending and enabled source, as its jump-table offset (4 per entry).
std::uint8_t Ezusb::autovector() const {
    const Impl& s = *impl_;
    const std::uint8_t usb = s.usbirq & s.regs[USBIEN & 0xFF] & 0x1F;
    const std::uint8_t in = s.in07irq & s.regs[IN07IEN & 0xFF];
    const std::uint8_t out = s.out07irq & s.regs[OUT07IEN & 0xFF];
    for (int i = 0; i < 5; ++i)
        if (usb & (1 << i))
            return static_cast<std::uint8_t>(4 * i);
    for (int n = 0; n < 8; ++n) {
        if (in & (1 << n))
            return static_cast<std::uint8_t>(4 * (6 + 2 * n));
        if (out & (1 << n))
            return static_cast<std::uint8_t>(4 * (7 + 2 * n));
    }
    return 0;
}

// INT2 is edge-triggered: EXIF.4 is set when the enabled requests go from none to some.
void Ezusb::setUsbIrq(std::uint8_t& reg, std::uint8_t mask) {
    const bool before = usbPending();
    reg |= mask;
    if (!before && usbPending())
        cpu_.raiseSfrFlags(sfr::EXIF, kExifUsbint);
    usbEvent();
}

std::optional<CodePatch> Ezusb::interruptEntry(std::uint16_t vector) {
    if (vector == vec::Int2Usb && (impl_->regs[USBBAV & 0xFF] & kUsbbavAven))
        return CodePatch{static_cast<std::uint16_t>(vec::Int2Usb + 2), autovector()};
    return std::nullopt;
}

void Ezusb::usbEvent() {
    if (impl_->stopOnEvent)
        cpu_.requestStop();
}

// --- the register file ------------------------------------------------------------------

std::uint8_t Ezusb::portPinsNow(Port port) {
    const int i = static_cast<int>(port);
    const std::uint8_t out = impl_->regs[(OUTA + i) & 0xFF];
    const std::uint8_t oe = impl_->regs[(OEA + i) & 0xFF];
    const std::uint8_t ext = board_ ? board_->portPins(port, cpu_.cycles()) : 0xFF;
    return static_cast<std::uint8_t>((out & oe) | (ext & ~oe));
}

void Ezusb::setBoard(EzusbBoard* board) {
    board_ = board;
    lastPinsB_ = portPinsNow(Port::B);
}

void Ezusb::boardPinsChanged() {
    const std::uint8_t now = portPinsNow(Port::B);
    const std::uint8_t cfg = impl_->regs[PORTBCFG & 0xFF];
    const std::uint8_t rising = static_cast<std::uint8_t>(now & ~lastPinsB_ & cfg);
    const std::uint8_t falling = static_cast<std::uint8_t>(~now & lastPinsB_ & cfg);
    lastPinsB_ = now;
    if (rising & 0x10)
        cpu_.raiseSfrFlags(sfr::EXIF, 0x40); // INT4 -> IE4
    if (falling & 0x20)
        cpu_.raiseSfrFlags(sfr::EXIF, 0x80); // INT5# -> IE5
    if (rising & 0x40)
        cpu_.raiseSfrFlags(sfr::EICON, 0x08); // INT6
    usbEvent();
}

void Ezusb::portWritten(Port port) {
    const int i = static_cast<int>(port);
    if (board_)
        board_->portChanged(port, impl_->regs[(OUTA + i) & 0xFF], impl_->regs[(OEA + i) & 0xFF],
                            cpu_.cycles());
    usbEvent();
}

std::uint8_t Ezusb::regRead(std::uint16_t a) {
    Impl& s = *impl_;
    ++s.touches;
    if (a >= IN0BC - 1 && a <= OutCs(7) + 1) {
        const int idx = (a - 0x7FB4) / 2;
        const bool isIn = idx < 8;
        const int n = idx & 7;
        const bool isBc = (a & 1) != 0;
        if (isIn) {
            Endpoint& ep = s.in[n];
            const std::size_t cap =
                (n >= 2 && (s.regs[USBPAIR & 0xFF] & (1 << (n / 2 - 1))) && (n & 1) == 0) ? 2 : 1;
            if (isBc)
                return ep.lastBc;
            if (n == 0)
                return static_cast<std::uint8_t>(
                    (s.ep0Stall ? kEp0csStall : 0) | (s.hsnak ? kEp0csHsnak : 0) |
                    (!s.in[0].packets.empty() ? kEp0csIn0Bsy : 0) |
                    (s.out[0].armed && s.out[0].packets.empty() ? kEp0csOut0Bsy : 0));
            return static_cast<std::uint8_t>((ep.stall ? kCsStall : 0) |
                                             (ep.packets.size() >= cap ? kCsBusy : 0));
        }
        Endpoint& ep = s.out[n];
        if (isBc)
            return ep.packets.empty() ? 0 : static_cast<std::uint8_t>(ep.packets.front().size());
        if (n == 0)
            return 0; // 0x7FC4: reserved (EP0CS covers endpoint 0)
        return static_cast<std::uint8_t>((ep.stall ? kCsStall : 0) |
                                         (ep.armed && ep.packets.empty() ? kCsBusy : 0));
    }
    switch (a) {
    case CPUCS:
        return cpucs_;
    case PINSA:
        return portPinsNow(Port::A);
    case PINSB:
        return portPinsNow(Port::B);
    case PINSC:
        return portPinsNow(Port::C);
    case IVEC:
        return autovector();
    case IN07IRQ:
        return s.in07irq;
    case OUT07IRQ:
        return s.out07irq;
    case USBIRQ:
        return s.usbirq;
    case USBCS:
        return usbcs_;
    case TOGCTL: {
        const std::uint8_t sel = s.regs[TOGCTL & 0xFF] & 0x17;
        const bool q = s.toggle[(sel >> 4) & 1][sel & 7];
        return static_cast<std::uint8_t>(sel | (q ? 0x80 : 0));
    }
    case USBFRAMEL:
        return static_cast<std::uint8_t>(s.frame);
    case USBFRAMEH:
        return static_cast<std::uint8_t>((s.frame >> 8) & 7);
    case FNADDR:
        return fnaddr_;
    case IN07VAL:
    case OUT07VAL:
        return static_cast<std::uint8_t>(s.regs[a & 0xFF] | 1);
    case AUTODATA: {
        const std::uint16_t p =
            static_cast<std::uint16_t>((s.regs[AUTOPTRH & 0xFF] << 8) | s.regs[AUTOPTRL & 0xFF]);
        // Choice: the autopointer reaches RAM and endpoint buffers only, not registers.
        const std::uint8_t v = memRead(p);
        if ((s.regs[FASTXFR & 0xFF] & kFastxfrFblk) && (s.regs[PORTACFG & 0xFF] & kPortaFwr)) {
            if (board_)
                board_->fastWrite(v, cpu_.cycles());
            usbEvent();
        }
        const auto next = static_cast<std::uint16_t>(p + 1);
        s.regs[AUTOPTRH & 0xFF] = static_cast<std::uint8_t>(next >> 8);
        s.regs[AUTOPTRL & 0xFF] = static_cast<std::uint8_t>(next);
        return v;
    }
    default:
        return s.regs[a & 0xFF];
    }
}

void Ezusb::regWrite(std::uint16_t a, std::uint8_t v) {
    Impl& s = *impl_;
    ++s.touches;
    if (a >= IN0BC - 1 && a <= OutCs(7) + 1)
        return endpointRegWrite(a, v);
    switch (a) {
    case CPUCS:
        // Choice: the 8051 may switch the clock output but cannot reset itself.
        cpucs_ = static_cast<std::uint8_t>((cpucs_ & ~kCpucsClk24Oe) | (v & kCpucsClk24Oe));
        return;
    case OUTA:
    case OUTB:
    case OUTC:
    case OEA:
    case OEB:
    case OEC:
        return portRegWrite(a, v);
    case PINSA:
    case PINSB:
    case PINSC:
    case IVEC:
    case USBFRAMEL:
    case USBFRAMEH:
    case FNADDR:
        return; // read only
    case ISOCTL:
        s.regs[a & 0xFF] = v;
        mapPages();
        return;
    case IN07IRQ:
    case OUT07IRQ:
    case USBIRQ:
    case IN07IEN:
    case OUT07IEN:
    case USBIEN:
        return usbIrqRegWrite(a, v);
    case USBBAV:
    case SUDPTRL:
    case USBCS:
    case TOGCTL:
        return usbControlRegWrite(a, v);
    case AUTODATA:
        return autodataWrite(v);
    default:
        if (a >= SETUPDAT && a < SETUPDAT + 8)
            return; // the core's copy of the SETUP packet
        s.regs[a & 0xFF] = v;
        return;
    }
}

// INnBC/INnCS and OUTnBC/OUTnCS, interleaved from IN0BC - 1 (IN0CS) to OUT7BC.
void Ezusb::endpointRegWrite(std::uint16_t a, std::uint8_t v) {
    Impl& s = *impl_;
    const int idx = (a - 0x7FB4) / 2;
    const bool isIn = idx < 8;
    const int n = idx & 7;
    const bool isBc = (a & 1) != 0;
    const bool paired =
        n >= 2 && (n & 1) == 0 && (s.regs[USBPAIR & 0xFF] & (1 << ((n / 2 - 1) + (isIn ? 0 : 3))));
    const std::size_t cap = paired ? 2 : 1;
    if (isIn) {
        Endpoint& ep = s.in[n];
        if (isBc) {
            // Arming: the core takes the packet from INnBUF now.
            const std::size_t len = v & 0x7F;
            if (len > kEndpointPacketSize)
                firmwareFault("IN" + std::to_string(n) + "BC written with " + std::to_string(len) +
                              ", above 64");
            ep.lastBc = v;
            const std::uint8_t* buf = &mem_[InBuf(n)];
            if (ep.packets.size() >= cap)
                ep.packets.pop_back(); // rewritten while busy
            ep.packets.emplace_back(buf, buf + len);
        } else if (n == 0) {
            if (v & kEp0csHsnak)
                s.hsnak = false;
            s.ep0Stall = (v & kEp0csStall) != 0;
        } else {
            ep.stall = (v & kCsStall) != 0;
            if ((v & kCsBusy) && kInBusyWriteCancels)
                ep.packets.clear();
        }
    } else {
        Endpoint& ep = s.out[n];
        if (isBc && (cpu_.sfrLatch(sfr::CKCON) & 7) != 0 && options_.revision == kRevisionE)
            firmwareFault("OUT" + std::to_string(n) + "BC written with MOVX stretch " +
                          std::to_string(cpu_.sfrLatch(sfr::CKCON) & 7) +
                          " (rev E arms OUT endpoints only at stretch 0)");
        if (isBc) {
            // Hands the oldest received packet back to the core, or arms an empty buffer.
            if (!ep.packets.empty()) {
                ep.packets.pop_front();
                ++ep.armed;
                if (!ep.packets.empty())
                    std::copy(ep.packets.front().begin(), ep.packets.front().end(),
                              &mem_[OutBuf(n)]);
            } else if (ep.armed < cap) {
                ++ep.armed;
            }
        } else if (n != 0) {
            ep.stall = (v & kCsStall) != 0;
        }
    }
    usbEvent();
}

void Ezusb::portRegWrite(std::uint16_t a, std::uint8_t v) {
    impl_->regs[a & 0xFF] = v;
    portWritten(static_cast<Port>(a >= OEA ? a - OEA : a - OUTA));
}

// Request bits clear where 1 is written; enables may raise INT2 for requests already pending.
void Ezusb::usbIrqRegWrite(std::uint16_t a, std::uint8_t v) {
    Impl& s = *impl_;
    if (a == IN07IRQ || a == OUT07IRQ || a == USBIRQ) {
        std::uint8_t& reg = a == IN07IRQ ? s.in07irq : a == OUT07IRQ ? s.out07irq : s.usbirq;
        reg &= static_cast<std::uint8_t>(~v);
        // Firmware clears EXIF.4 before the request bit; requests still pending would
        // otherwise never interrupt again, so INT2 fires anew.
        if (usbPending())
            cpu_.raiseSfrFlags(sfr::EXIF, kExifUsbint);
        usbEvent();
        return;
    }
    const bool before = usbPending();
    s.regs[a & 0xFF] = v;
    if (!before && usbPending())
        cpu_.raiseSfrFlags(sfr::EXIF, kExifUsbint);
}

void Ezusb::usbControlRegWrite(std::uint16_t a, std::uint8_t v) {
    Impl& s = *impl_;
    switch (a) {
    case USBBAV:
        s.regs[a & 0xFF] =
            static_cast<std::uint8_t>((v & 0x07) | (s.regs[a & 0xFF] & ~v & kUsbbavBreak));
        return;
    case SUDPTRL: {
        s.regs[a & 0xFF] = v;
        const auto p = static_cast<std::uint16_t>((s.regs[SUDPTRH & 0xFF] << 8) | v);
        // Configuration descriptors send their total length, all others their bLength.
        const std::uint8_t type = memRead(static_cast<std::uint16_t>(p + 1));
        const std::uint32_t len =
            (type == 2 || type == 7)
                ? static_cast<std::uint32_t>(memRead(static_cast<std::uint16_t>(p + 2)) |
                                             (memRead(static_cast<std::uint16_t>(p + 3)) << 8))
                : memRead(p);
        const std::uint32_t wLength =
            s.regs[(SETUPDAT + 6) & 0xFF] | (s.regs[(SETUPDAT + 7) & 0xFF] << 8);
        s.sudptrActive = true;
        s.sudptrDone = false;
        s.sudptrAddr = p;
        s.sudptrLeft = std::min(len, wLength);
        usbEvent();
        return;
    }
    case USBCS:
        usbcs_ = static_cast<std::uint8_t>((v & 0x0F) | (usbcs_ & ~v & kUsbcsWakesrc));
        if ((v & kUsbcsSigrsume) && s.suspended)
            s.suspended = false; // host follows resume
        updateConnection();
        usbEvent();
        return;
    case TOGCTL: {
        const std::uint8_t sel = v & 0x17;
        if (v & 0x20)
            s.toggle[(sel >> 4) & 1][sel & 7] = false;
        if (v & 0x40)
            s.toggle[(sel >> 4) & 1][sel & 7] = true;
        s.regs[a & 0xFF] = sel;
        return;
    }
    default:
        return;
    }
}

// The autopointer's data register: writes where AUTOPTRH:L points and moves on.
void Ezusb::autodataWrite(std::uint8_t v) {
    Impl& s = *impl_;
    const std::uint16_t p =
        static_cast<std::uint16_t>((s.regs[AUTOPTRH & 0xFF] << 8) | s.regs[AUTOPTRL & 0xFF]);
    std::uint8_t byte = v;
    if (s.regs[FASTXFR & 0xFF] & kFastxfrFblk) {
        byte = kFloatingBus;
        if (s.regs[PORTACFG & 0xFF] & kPortaFrd) {
            if (board_)
                byte = board_->fastRead(cpu_.cycles());
            usbEvent();
        }
    }
    memWrite(p, byte);
    const auto next = static_cast<std::uint16_t>(p + 1);
    s.regs[AUTOPTRH & 0xFF] = static_cast<std::uint8_t>(next >> 8);
    s.regs[AUTOPTRL & 0xFF] = static_cast<std::uint8_t>(next);
}

// --- CPU reset, connection ----------------------------------------------------------------

void Ezusb::cpucsWrite(std::uint8_t v) {
    const bool wasHeld = cpuHeld();
    cpucs_ = static_cast<std::uint8_t>((cpucs_ & ~kCpucs8051Res) | (v & kCpucs8051Res));
    if (wasHeld && !cpuHeld())
        cpu_.reset(); // leaves reset at 0x0000 with fresh SFRs
}

bool Ezusb::connected() const {
    return cable_ && (usbcs_ & kUsbcsDiscoe) && !(usbcs_ & kUsbcsDiscon);
}

void Ezusb::updateConnection() {
    const bool now = connected();
    if (now && !impl_->wasConnected) {
        // A new connection is a fresh enumeration: the host resets the bus first.
        ++connectCount_;
        impl_->wasConnected = true;
        busReset();
    }
    impl_->wasConnected = now;
}

void Ezusb::setCableAttached(bool attached) {
    cable_ = attached;
    updateConnection();
}

void Ezusb::busReset() {
    Impl& s = *impl_;
    fnaddr_ = 0;
    for (auto& io : s.toggle)
        for (bool& t : io)
            t = false;
    s.configuration = s.altSetting = 0;
    s.suspended = false;
    s.hsnak = s.ep0Stall = false;
    s.sudptrActive = false;
    s.in[0].packets.clear();
    s.out[0].packets.clear();
    s.out[0].armed = 0;
    setUsbIrq(s.usbirq, kUsbirqUres);
}

void Ezusb::suspendBus() {
    impl_->suspended = true;
    setUsbIrq(impl_->usbirq, kUsbirqSusp);
}

void Ezusb::resumeBus() {
    impl_->suspended = false;
    cpu_.raiseSfrFlags(sfr::EICON, kEiconResi);
}

void Ezusb::wakeupPin() {
    usbcs_ |= kUsbcsWakesrc;
    resumeBus();
}

// --- time -------------------------------------------------------------------------------

void Ezusb::advance(std::uint64_t n) {
    Impl& s = *impl_;
    const std::uint64_t end = cpu_.cycles() + n;
    while (cpu_.cycles() < end) {
        const std::uint64_t sliceEnd = options_.startOfFrames ? std::min(end, s.nextSof) : end;
        if (sliceEnd > cpu_.cycles()) {
            if (cpuHeld()) {
                cpu_.addIdleCycles(sliceEnd - cpu_.cycles());
            } else {
                RunLimits limits;
                limits.maxCycles = sliceEnd - cpu_.cycles();
                if (cpu_.run(limits) == StopReason::Requested && s.stopOnEvent)
                    return;
            }
        }
        if (options_.startOfFrames && cpu_.cycles() >= s.nextSof) {
            s.nextSof += kCyclesPerFrame;
            if (connected() && !s.suspended) {
                s.frame = static_cast<std::uint16_t>((s.frame + 1) & 0x7FF);
                setUsbIrq(s.usbirq, kUsbirqSof);
            }
        }
    }
}

// Start-of-frame requests that fell due while the core ran on its own.
void Ezusb::settleFrames() {
    Impl& s = *impl_;
    if (!options_.startOfFrames || cpu_.cycles() < s.nextSof)
        return;
    const std::uint64_t due = (cpu_.cycles() - s.nextSof) / kCyclesPerFrame + 1;
    s.nextSof += due * kCyclesPerFrame;
    if (connected() && !s.suspended) {
        s.frame = static_cast<std::uint16_t>((s.frame + due) & 0x7FF);
        setUsbIrq(s.usbirq, kUsbirqSof);
    }
}

void Ezusb::snapshotInto(std::vector<std::uint8_t>& out) const {
    out.clear();
    out.push_back(static_cast<std::uint8_t>(cpu_.pc()));
    out.push_back(static_cast<std::uint8_t>(cpu_.pc() >> 8));
    for (unsigned a = 0; a < 256; ++a)
        out.push_back(cpu_.iram(static_cast<std::uint8_t>(a)));
    for (unsigned a = 0x80; a < 0x100; ++a)
        out.push_back(cpu_.sfrLatch(static_cast<std::uint8_t>(a)));
    out.insert(out.end(), mem_.begin(), mem_.begin() + kEzusbRamEnd);
    out.insert(out.end(), mem_.begin() + 0x7B40, mem_.begin() + 0x7F40);
    out.insert(out.end(), mem_.begin() + 0x2000, mem_.begin() + 0x2800);
}

std::uint64_t Ezusb::skipIdleLoop(std::uint64_t cycles) {
    Impl& s = *impl_;
    // A pass longer than this is no idle loop worth the comparison.
    constexpr std::uint64_t kLongestPass = 2000;
    if (cycles == 0 || cpuHeld() || cpu_.idle())
        return 0;
    if (options_.startOfFrames && (s.regs[USBIEN & 0xFF] & kUsbirqSof))
        return 0;
    s.stopOnEvent = false;
    snapshotInto(s.idleBefore);
    const std::uint16_t head = cpu_.pc();
    const std::uint64_t start = cpu_.cycles();
    const std::uint64_t touches = s.touches;
    RunLimits first;
    first.maxInstructions = 1;
    first.maxCycles = cycles;
    (void)cpu_.run(first);
    bool back = cpu_.pc() == head;
    if (!back && cpu_.cycles() - start < cycles) {
        RunLimits rest;
        rest.maxCycles = std::min(cycles - (cpu_.cycles() - start), kLongestPass);
        rest.stopPc = head;
        back = cpu_.run(rest) == StopReason::Pc;
    }
    settleFrames();
    const std::uint64_t pass = cpu_.cycles() - start;
    if (!back || pass == 0 || pass >= cycles || s.touches != touches)
        return 0;
    snapshotInto(s.idleAfter);
    if (s.idleAfter != s.idleBefore)
        return 0;
    const std::uint64_t skip = (cycles - pass) / pass * pass;
    cpu_.addIdleCycles(skip);
    settleFrames();
    return skip;
}

StopReason Ezusb::run(std::uint64_t cycles) {
    impl_->stopOnEvent = false;
    advance(cycles);
    return StopReason::Budget;
}

bool Ezusb::runUntil(const std::function<bool()>& done, std::uint64_t budgetCycles) {
    return waitFor(done, cpu_.cycles() + budgetCycles);
}

bool Ezusb::waitFor(const std::function<bool()>& cond, std::uint64_t end) {
    impl_->stopOnEvent = true;
    bool ok = cond();
    while (!ok && cpu_.cycles() < end) {
        advance(std::min<std::uint64_t>(end - cpu_.cycles(), kPollCycles));
        ok = cond();
    }
    impl_->stopOnEvent = false;
    return ok;
}

} // namespace pulsara::sim
