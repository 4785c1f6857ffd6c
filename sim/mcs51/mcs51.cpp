#include "sim/mcs51.h"

#include "mcs51_tables.h"

namespace pulsara {

namespace {

constexpr std::uint8_t kCY = 0x80, kAC = 0x40, kOV = 0x04;

// Choice (unconfirmed): the hardware LCALL into an interrupt vector costs as much as LCALL.
constexpr std::uint64_t kInterruptEntryCycles = 4;
// Choice (unconfirmed): DIV AB by zero leaves A and B as they were (the 8051 documentation
// calls them undefined); OV=1 and CY=0 are documented.
constexpr bool kDivByZeroKeepsOperands = true;

// Bits of SFRs that always read 1 on the EZ-USB's core.
constexpr std::uint8_t kExifOnes = 0x08, kEiconOnes = 0x40, kEieOnes = 0xE0, kEipOnes = 0xE0,
                       kIpOnes = 0x80, kPconOnes = 0x30;

struct IrqSource {
    std::uint8_t flagSfr, flagMask, enableSfr, enableMask, prioSfr, prioMask;
    std::uint16_t vector;
    std::uint8_t
        clearOnEntry;     // flags the hardware clears when it vectors (TF0/TF1 and edge IE0/IE1)
    std::uint8_t edgeBit; // TCON bit selecting edge mode for IE0/IE1, else 0
};

// Natural priority order; resume comes first and sits above both IP levels.
constexpr IrqSource kSources[] = {
    {sfr::EICON, 0x10, sfr::EICON, 0x20, 0, 0, vec::Resume, 0, 0},
    {sfr::TCON, 0x02, sfr::IE, 0x01, sfr::IP, 0x01, vec::Int0, 0x02, 0x01},
    {sfr::TCON, 0x20, sfr::IE, 0x02, sfr::IP, 0x02, vec::Timer0, 0x20, 0},
    {sfr::TCON, 0x08, sfr::IE, 0x04, sfr::IP, 0x04, vec::Int1, 0x08, 0x04},
    {sfr::TCON, 0x80, sfr::IE, 0x08, sfr::IP, 0x08, vec::Timer1, 0x80, 0},
    {sfr::SCON0, 0x03, sfr::IE, 0x10, sfr::IP, 0x10, vec::Serial0, 0, 0},
    {sfr::T2CON, 0xC0, sfr::IE, 0x20, sfr::IP, 0x20, vec::Timer2, 0, 0},
    {sfr::SCON1, 0x03, sfr::IE, 0x40, sfr::IP, 0x40, vec::Serial1, 0, 0},
    {sfr::EXIF, 0x10, sfr::EIE, 0x01, sfr::EIP, 0x01, vec::Int2Usb, 0, 0},
    {sfr::EXIF, 0x20, sfr::EIE, 0x02, sfr::EIP, 0x02, vec::Int3I2c, 0, 0},
    {sfr::EXIF, 0x40, sfr::EIE, 0x04, sfr::EIP, 0x04, vec::Int4, 0, 0},
    {sfr::EXIF, 0x80, sfr::EIE, 0x08, sfr::EIP, 0x08, vec::Int5, 0, 0},
    {sfr::EICON, 0x08, sfr::EIE, 0x10, sfr::EIP, 0x10, vec::Int6, 0, 0},
};

inline bool Parity(std::uint8_t v) {
    return __builtin_parity(v) != 0;
}

} // namespace

const char* StopReasonName(StopReason r) {
    switch (r) {
    case StopReason::Budget:
        return "budget";
    case StopReason::Instructions:
        return "budget";
    case StopReason::Pc:
        return "pc";
    case StopReason::SelfJump:
        return "self-jump";
    case StopReason::Requested:
        return "requested";
    }
    return "?";
}

Mcs51::Mcs51(Mcs51Bus& bus) : bus_(bus) {
    reset();
}

void Mcs51::reset() {
    for (auto& b : sfr_)
        b = 0;
    pc_ = 0;
    bank_ = 0;
    // Port latches of a plain 8051 (absent on the EZ-USB, where they are plain storage).
    sfr_[0x80 - 0x80] = sfr_[0x90 - 0x80] = sfr_[0xA0 - 0x80] = sfr_[0xB0 - 0x80] = 0xFF;
    sfr_[sfr::SP - 0x80] = 0x07;
    sfr_[sfr::PCON - 0x80] = kPconOnes;
    sfr_[sfr::CKCON - 0x80] = 0x01; // stretch 1, the DS80C320 reset value
    sfr_[sfr::EXIF - 0x80] = kExifOnes;
    sfr_[sfr::IP - 0x80] = kIpOnes;
    sfr_[sfr::EICON - 0x80] = kEiconOnes;
    sfr_[sfr::EIE - 0x80] = kEieOnes;
    sfr_[sfr::EIP - 0x80] = kEipOnes;
    inService_ = 0;
    irqCheck_ = false;
    irqBlocked_ = false;
    idle_ = false;
}

std::uint8_t Mcs51::psw() const {
    return static_cast<std::uint8_t>((sfr_[sfr::PSW - 0x80] & 0xFE) | (Parity(acc()) ? 1 : 0));
}

std::uint16_t Mcs51::dptr(int which) const {
    const int lo = which ? sfr::DPL1 - 0x80 : sfr::DPL0 - 0x80;
    return static_cast<std::uint16_t>(sfr_[lo] | (sfr_[lo + 1] << 8));
}

void Mcs51::setSfrLatch(std::uint8_t addr, std::uint8_t v) {
    sfr_[addr & 0x7F] = v;
    if ((addr | 0x80) == sfr::PSW)
        bank_ = v & 0x18;
    irqCheck_ = true;
}

void Mcs51::raiseSfrFlags(std::uint8_t addr, std::uint8_t mask) {
    sfr_[addr & 0x7F] |= mask;
    irqCheck_ = true;
}

// --- direct and bit addressing ------------------------------------------------------------

std::uint8_t Mcs51::readSfr(std::uint8_t a) {
    if (sfrHooked_[a - 0x80])
        return bus_.sfrRead(a, sfr_[a - 0x80]);
    if (a == sfr::PSW)
        return psw();
    return sfr_[a - 0x80];
}

void Mcs51::writeSfr(std::uint8_t a, std::uint8_t v) {
    switch (a) {
    case sfr::PSW:
        bank_ = v & 0x18;
        break;
    case sfr::DPS:
        v &= 0x01;
        break;
    case 0x8F:
        v &= 0x01;
        break; // SPC_FNC: only WRS exists
    case sfr::PCON:
        v |= kPconOnes;
        if (v & 0x03)
            idle_ = true; // IDLE (and STOP, modelled alike) until an interrupt
        break;
    case sfr::EXIF:
        v = static_cast<std::uint8_t>((v & 0xF0) | kExifOnes);
        irqCheck_ = true;
        break;
    case sfr::EICON:
        v = static_cast<std::uint8_t>((v & 0xB8) | kEiconOnes);
        irqCheck_ = true;
        break;
    case sfr::IE:
        irqCheck_ = irqBlocked_ = true;
        break;
    case sfr::IP:
        v |= kIpOnes;
        irqCheck_ = irqBlocked_ = true;
        break;
    case sfr::EIE:
        v |= kEieOnes;
        irqCheck_ = irqBlocked_ = true;
        break;
    case sfr::EIP:
        v |= kEipOnes;
        irqCheck_ = irqBlocked_ = true;
        break;
    case sfr::TCON:
    case sfr::SCON0:
    case sfr::SCON1:
    case sfr::T2CON:
        irqCheck_ = true;
        break;
    default:
        break;
    }
    sfr_[a - 0x80] = v;
    if (sfrHooked_[a - 0x80])
        bus_.sfrWrite(a, v);
}

inline std::uint8_t Mcs51::readDirect(std::uint8_t a) {
    return a < 0x80 ? iram_[a] : readSfr(a);
}

inline std::uint8_t Mcs51::readDirectLatch(std::uint8_t a) {
    if (a < 0x80)
        return iram_[a];
    return a == sfr::PSW ? psw() : sfr_[a - 0x80];
}

inline void Mcs51::writeDirect(std::uint8_t a, std::uint8_t v) {
    if (a < 0x80)
        iram_[a] = v;
    else
        writeSfr(a, v);
}

inline bool Mcs51::readBit(std::uint8_t bit) {
    const std::uint8_t a = bit < 0x80 ? static_cast<std::uint8_t>(0x20 + (bit >> 3)) : bit & 0xF8;
    return (readDirect(a) >> (bit & 7)) & 1;
}

inline bool Mcs51::readBitLatch(std::uint8_t bit) {
    const std::uint8_t a = bit < 0x80 ? static_cast<std::uint8_t>(0x20 + (bit >> 3)) : bit & 0xF8;
    return (readDirectLatch(a) >> (bit & 7)) & 1;
}

inline void Mcs51::writeBit(std::uint8_t bit, bool v) {
    const std::uint8_t a = bit < 0x80 ? static_cast<std::uint8_t>(0x20 + (bit >> 3)) : bit & 0xF8;
    const std::uint8_t m = static_cast<std::uint8_t>(1u << (bit & 7));
    const std::uint8_t old = readDirectLatch(a);
    writeDirect(a, static_cast<std::uint8_t>(v ? (old | m) : (old & ~m)));
}

inline std::uint8_t Mcs51::xread(std::uint16_t addr) {
    const std::uint8_t* p = xread_[addr >> 8];
    return p ? p[addr & 0xFF] : bus_.xdataRead(addr);
}

inline void Mcs51::xwrite(std::uint16_t addr, std::uint8_t v) {
    std::uint8_t* p = xwrite_[addr >> 8];
    if (p)
        p[addr & 0xFF] = v;
    else
        bus_.xdataWrite(addr, v);
}

inline void Mcs51::push(std::uint8_t v) {
    iram_[++sfr_[sfr::SP - 0x80]] = v;
}

inline std::uint8_t Mcs51::pop() {
    return iram_[sfr_[sfr::SP - 0x80]--];
}

// --- interrupts ---------------------------------------------------------------------------

bool Mcs51::serviceInterrupt() {
    if (irqBlocked_) {
        // The instruction just done was RETI or wrote IE/IP/EIE/EIP: one more runs first.
        irqBlocked_ = false;
        return false;
    }
    irqCheck_ = false; // anything that changes the answer sets it again
    if (!(sfr_[sfr::IE - 0x80] & 0x80))
        return false;
    int best = -1;
    int bestLevel = -1;
    for (int i = 0; i < static_cast<int>(std::size(kSources)); ++i) {
        const IrqSource& s = kSources[i];
        if (!(sfr_[s.flagSfr - 0x80] & s.flagMask) || !(sfr_[s.enableSfr - 0x80] & s.enableMask))
            continue;
        const int level = s.prioSfr == 0 ? 2 : ((sfr_[s.prioSfr - 0x80] & s.prioMask) ? 1 : 0);
        if (level > bestLevel) {
            best = i;
            bestLevel = level;
        }
    }
    if (best < 0)
        return false;
    const int current = (inService_ & 4) ? 2 : (inService_ & 2) ? 1 : (inService_ & 1) ? 0 : -1;
    if (bestLevel <= current)
        return false; // RETI sets irqCheck_ again
    const IrqSource& s = kSources[best];
    if (s.clearOnEntry && (s.edgeBit == 0 || (sfr_[sfr::TCON - 0x80] & s.edgeBit)))
        sfr_[s.flagSfr - 0x80] &= static_cast<std::uint8_t>(~s.clearOnEntry);
    inService_ |= static_cast<std::uint8_t>(1u << bestLevel);
    if (idle_) {
        idle_ = false;
        sfr_[sfr::PCON - 0x80] &= 0xFC;
    }
    push(static_cast<std::uint8_t>(pc_));
    push(static_cast<std::uint8_t>(pc_ >> 8));
    pc_ = s.vector;
    cycles_ += kInterruptEntryCycles;
    irqCheck_ = true; // a higher level may still preempt after the first instruction
    if (auto patch = bus_.interruptEntry(s.vector)) {
        const std::uint8_t saved = code_[patch->addr];
        code_[patch->addr] = patch->value;
        execute();
        ++instructions_;
        code_[patch->addr] = saved;
    }
    return true;
}

// --- running ------------------------------------------------------------------------------

StopReason Mcs51::run(const RunLimits& limits) {
    stopRequested_ = false;
    selfJump_ = false;
    stopOnSelfJump_ = limits.stopOnSelfJump;
    constexpr auto kMax = std::numeric_limits<std::uint64_t>::max();
    cycleEnd_ = limits.maxCycles > kMax - cycles_ ? kMax : cycles_ + limits.maxCycles;
    const std::uint64_t insnEnd = limits.maxInstructions > kMax - instructions_
                                      ? kMax
                                      : instructions_ + limits.maxInstructions;
    const bool slow = trace_ || limits.stopPc || limits.maxInstructions != kMax;
    return slow ? runLoop<true>(insnEnd, limits) : runLoop<false>(insnEnd, limits);
}

template <bool kSlow> StopReason Mcs51::runLoop(std::uint64_t insnEnd, const RunLimits& limits) {
    while (cycles_ < cycleEnd_) {
        if constexpr (kSlow) {
            if (limits.stopPc && pc_ == *limits.stopPc)
                return StopReason::Pc;
            if (instructions_ >= insnEnd)
                return StopReason::Instructions;
            if (trace_)
                trace_(*this);
        }
        if (irqCheck_ && serviceInterrupt())
            continue;
        if (idle_) {
            // Nothing to do until an interrupt, which only an outside event can raise.
            if (!stopRequested_)
                cycles_ = cycleEnd_;
            break;
        }
        execute();
        ++instructions_;
    }
    if (stopRequested_)
        return selfJump_ ? StopReason::SelfJump : StopReason::Requested;
    if constexpr (kSlow) {
        if (limits.stopPc && pc_ == *limits.stopPc)
            return StopReason::Pc;
    }
    return StopReason::Budget;
}

void Mcs51::step() {
    cycleEnd_ = std::numeric_limits<std::uint64_t>::max();
    stopRequested_ = false;
    if (irqCheck_ && serviceInterrupt())
        return;
    if (idle_) {
        cycles_ += 1;
        return;
    }
    execute();
    ++instructions_;
}

// --- the instruction set ------------------------------------------------------------------

void Mcs51::execute() {
    std::uint8_t* const s = sfr_;
    std::uint8_t& A = s[sfr::ACC - 0x80];
    std::uint8_t& PSW = s[sfr::PSW - 0x80];
    const std::uint16_t at = pc_;
    const std::uint8_t op = code_[at];
    const std::uint8_t b1 = code_[static_cast<std::uint16_t>(at + 1)];
    const std::uint8_t b2 = code_[static_cast<std::uint16_t>(at + 2)];
    pc_ = static_cast<std::uint16_t>(at + kInsnLength[op]);
    cycles_ += kInsnCycles[op];

    auto R = [&](int n) -> std::uint8_t& { return iram_[bank_ + n]; };
    auto atRi = [&](int i) -> std::uint8_t& { return iram_[iram_[bank_ + i]]; };
    auto setCY = [&](bool c) { PSW = static_cast<std::uint8_t>(c ? (PSW | kCY) : (PSW & ~kCY)); };
    auto CY = [&]() -> unsigned { return PSW >> 7; };
    auto rel = [&](std::uint8_t r) {
        return static_cast<std::uint16_t>(pc_ + static_cast<std::int8_t>(r));
    };
    auto add = [&](std::uint8_t v, unsigned c) {
        const unsigned r = A + v + c;
        std::uint8_t f = PSW & static_cast<std::uint8_t>(~(kCY | kAC | kOV));
        if (r > 0xFF)
            f |= kCY;
        if ((A & 0x0F) + (v & 0x0F) + c > 0x0F)
            f |= kAC;
        if (~(A ^ v) & (A ^ r) & 0x80)
            f |= kOV;
        PSW = f;
        A = static_cast<std::uint8_t>(r);
    };
    auto subb = [&](std::uint8_t v) {
        const unsigned c = CY();
        const unsigned r = A - v - c;
        std::uint8_t f = PSW & static_cast<std::uint8_t>(~(kCY | kAC | kOV));
        if (A < v + c)
            f |= kCY;
        if ((A & 0x0F) < (v & 0x0F) + c)
            f |= kAC;
        if ((A ^ v) & (A ^ r) & 0x80)
            f |= kOV;
        PSW = f;
        A = static_cast<std::uint8_t>(r);
    };
    auto cjne = [&](std::uint8_t x, std::uint8_t y) {
        setCY(x < y);
        if (x != y)
            pc_ = rel(b2);
    };
    auto dptrLo = [&]() -> std::uint8_t& { return s[(s[sfr::DPS - 0x80] & 1) ? 4 : 2]; };
    auto dptrVal = [&]() -> std::uint16_t {
        const std::uint8_t* p = &dptrLo();
        return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
    };
    auto jumpTo = [&](std::uint16_t target) {
        if (target == at && stopOnSelfJump_) {
            selfJump_ = true;
            requestStop();
        }
        pc_ = target;
    };
    auto movxCycles = [&]() { cycles_ += s[sfr::CKCON - 0x80] & 7u; };
    auto riAddr = [&](int i) {
        return static_cast<std::uint16_t>((s[sfr::MPAGE - 0x80] << 8) | iram_[bank_ + i]);
    };

    switch (op) {
    // ---- row 0x0: NOP, jumps, rotates, INC
    case 0x00:
        break;
    case 0x01:
    case 0x21:
    case 0x41:
    case 0x61:
    case 0x81:
    case 0xA1:
    case 0xC1:
    case 0xE1:
        jumpTo(static_cast<std::uint16_t>((pc_ & 0xF800) | ((op & 0xE0) << 3) | b1));
        break;
    case 0x11:
    case 0x31:
    case 0x51:
    case 0x71:
    case 0x91:
    case 0xB1:
    case 0xD1:
    case 0xF1:
        push(static_cast<std::uint8_t>(pc_));
        push(static_cast<std::uint8_t>(pc_ >> 8));
        pc_ = static_cast<std::uint16_t>((pc_ & 0xF800) | ((op & 0xE0) << 3) | b1);
        break;
    case 0x02:
        jumpTo(static_cast<std::uint16_t>((b1 << 8) | b2));
        break;
    case 0x03:
        A = static_cast<std::uint8_t>((A >> 1) | (A << 7));
        break;
    case 0x04:
        ++A;
        break;
    case 0x05:
        writeDirect(b1, static_cast<std::uint8_t>(readDirectLatch(b1) + 1));
        break;
    case 0x06:
    case 0x07:
        ++atRi(op & 1);
        break;
    case 0x08:
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x0E:
    case 0x0F:
        ++R(op & 7);
        break;

    // ---- row 0x1
    case 0x10:
        if (readBitLatch(b1)) {
            writeBit(b1, false);
            pc_ = rel(b2);
        }
        break;
    case 0x12:
        push(static_cast<std::uint8_t>(pc_));
        push(static_cast<std::uint8_t>(pc_ >> 8));
        pc_ = static_cast<std::uint16_t>((b1 << 8) | b2);
        break;
    case 0x13: {
        const std::uint8_t c = static_cast<std::uint8_t>(CY() << 7);
        setCY(A & 1);
        A = static_cast<std::uint8_t>((A >> 1) | c);
        break;
    }
    case 0x14:
        --A;
        break;
    case 0x15:
        writeDirect(b1, static_cast<std::uint8_t>(readDirectLatch(b1) - 1));
        break;
    case 0x16:
    case 0x17:
        --atRi(op & 1);
        break;
    case 0x18:
    case 0x19:
    case 0x1A:
    case 0x1B:
    case 0x1C:
    case 0x1D:
    case 0x1E:
    case 0x1F:
        --R(op & 7);
        break;

    // ---- row 0x2: JB, RET, RL, ADD
    case 0x20:
        if (readBit(b1))
            pc_ = rel(b2);
        break;
    case 0x22: {
        const std::uint8_t hi = pop();
        pc_ = static_cast<std::uint16_t>((hi << 8) | pop());
        break;
    }
    case 0x23:
        A = static_cast<std::uint8_t>((A << 1) | (A >> 7));
        break;
    case 0x24:
        add(b1, 0);
        break;
    case 0x25:
        add(readDirect(b1), 0);
        break;
    case 0x26:
    case 0x27:
        add(atRi(op & 1), 0);
        break;
    case 0x28:
    case 0x29:
    case 0x2A:
    case 0x2B:
    case 0x2C:
    case 0x2D:
    case 0x2E:
    case 0x2F:
        add(R(op & 7), 0);
        break;

    // ---- row 0x3: JNB, RETI, RLC, ADDC
    case 0x30:
        if (!readBit(b1))
            pc_ = rel(b2);
        break;
    case 0x32: {
        const std::uint8_t hi = pop();
        pc_ = static_cast<std::uint16_t>((hi << 8) | pop());
        // Leaves the highest level in service.
        if (inService_ & 4)
            inService_ &= 3;
        else if (inService_ & 2)
            inService_ &= 1;
        else
            inService_ = 0;
        irqCheck_ = irqBlocked_ = true;
        break;
    }
    case 0x33: {
        const unsigned c = CY();
        setCY(A & 0x80);
        A = static_cast<std::uint8_t>((A << 1) | c);
        break;
    }
    case 0x34:
        add(b1, CY());
        break;
    case 0x35:
        add(readDirect(b1), CY());
        break;
    case 0x36:
    case 0x37:
        add(atRi(op & 1), CY());
        break;
    case 0x38:
    case 0x39:
    case 0x3A:
    case 0x3B:
    case 0x3C:
    case 0x3D:
    case 0x3E:
    case 0x3F:
        add(R(op & 7), CY());
        break;

    // ---- row 0x4: JC, ORL
    case 0x40:
        if (CY())
            pc_ = rel(b1);
        break;
    case 0x42:
        writeDirect(b1, readDirectLatch(b1) | A);
        break;
    case 0x43:
        writeDirect(b1, readDirectLatch(b1) | b2);
        break;
    case 0x44:
        A |= b1;
        break;
    case 0x45:
        A |= readDirect(b1);
        break;
    case 0x46:
    case 0x47:
        A |= atRi(op & 1);
        break;
    case 0x48:
    case 0x49:
    case 0x4A:
    case 0x4B:
    case 0x4C:
    case 0x4D:
    case 0x4E:
    case 0x4F:
        A |= R(op & 7);
        break;

    // ---- row 0x5: JNC, ANL
    case 0x50:
        if (!CY())
            pc_ = rel(b1);
        break;
    case 0x52:
        writeDirect(b1, readDirectLatch(b1) & A);
        break;
    case 0x53:
        writeDirect(b1, readDirectLatch(b1) & b2);
        break;
    case 0x54:
        A &= b1;
        break;
    case 0x55:
        A &= readDirect(b1);
        break;
    case 0x56:
    case 0x57:
        A &= atRi(op & 1);
        break;
    case 0x58:
    case 0x59:
    case 0x5A:
    case 0x5B:
    case 0x5C:
    case 0x5D:
    case 0x5E:
    case 0x5F:
        A &= R(op & 7);
        break;

    // ---- row 0x6: JZ, XRL
    case 0x60:
        if (A == 0)
            pc_ = rel(b1);
        break;
    case 0x62:
        writeDirect(b1, readDirectLatch(b1) ^ A);
        break;
    case 0x63:
        writeDirect(b1, readDirectLatch(b1) ^ b2);
        break;
    case 0x64:
        A ^= b1;
        break;
    case 0x65:
        A ^= readDirect(b1);
        break;
    case 0x66:
    case 0x67:
        A ^= atRi(op & 1);
        break;
    case 0x68:
    case 0x69:
    case 0x6A:
    case 0x6B:
    case 0x6C:
    case 0x6D:
    case 0x6E:
    case 0x6F:
        A ^= R(op & 7);
        break;

    // ---- row 0x7: JNZ, ORL C, JMP @A+DPTR, MOV #imm
    case 0x70:
        if (A != 0)
            pc_ = rel(b1);
        break;
    case 0x72:
        if (readBit(b1))
            setCY(true);
        break;
    case 0x73:
        pc_ = static_cast<std::uint16_t>(A + dptrVal());
        break;
    case 0x74:
        A = b1;
        break;
    case 0x75:
        writeDirect(b1, b2);
        break;
    case 0x76:
    case 0x77:
        atRi(op & 1) = b1;
        break;
    case 0x78:
    case 0x79:
    case 0x7A:
    case 0x7B:
    case 0x7C:
    case 0x7D:
    case 0x7E:
    case 0x7F:
        R(op & 7) = b1;
        break;

    // ---- row 0x8: SJMP, ANL C, MOVC @A+PC, DIV, MOV direct,...
    case 0x80:
        jumpTo(rel(b1));
        break;
    case 0x82:
        if (!readBit(b1))
            setCY(false);
        break;
    case 0x83:
        A = code_[static_cast<std::uint16_t>(pc_ + A)];
        break;
    case 0x84: {
        const std::uint8_t bv = s[sfr::B - 0x80];
        std::uint8_t f = PSW & static_cast<std::uint8_t>(~(kCY | kOV));
        if (bv == 0) {
            f |= kOV;
            if (!kDivByZeroKeepsOperands)
                A = s[sfr::B - 0x80] = 0xFF;
        } else {
            const std::uint8_t q = static_cast<std::uint8_t>(A / bv);
            s[sfr::B - 0x80] = static_cast<std::uint8_t>(A % bv);
            A = q;
        }
        PSW = f;
        break;
    }
    case 0x85:
        writeDirect(b2, readDirect(b1));
        break; // source byte comes first
    case 0x86:
    case 0x87:
        writeDirect(b1, atRi(op & 1));
        break;
    case 0x88:
    case 0x89:
    case 0x8A:
    case 0x8B:
    case 0x8C:
    case 0x8D:
    case 0x8E:
    case 0x8F:
        writeDirect(b1, R(op & 7));
        break;

    // ---- row 0x9: MOV DPTR, MOV bit,C, MOVC @A+DPTR, SUBB
    case 0x90: {
        std::uint8_t* p = &dptrLo();
        p[0] = b2;
        p[1] = b1;
        break;
    }
    case 0x92:
        writeBit(b1, CY() != 0);
        break;
    case 0x93:
        A = code_[static_cast<std::uint16_t>(A + dptrVal())];
        break;
    case 0x94:
        subb(b1);
        break;
    case 0x95:
        subb(readDirect(b1));
        break;
    case 0x96:
    case 0x97:
        subb(atRi(op & 1));
        break;
    case 0x98:
    case 0x99:
    case 0x9A:
    case 0x9B:
    case 0x9C:
    case 0x9D:
    case 0x9E:
    case 0x9F:
        subb(R(op & 7));
        break;

    // ---- row 0xA: ORL C,/bit, MOV C,bit, INC DPTR, MUL, 0xA5, MOV @Ri/Rn,direct
    case 0xA0:
        if (!readBit(b1))
            setCY(true);
        break;
    case 0xA2:
        setCY(readBit(b1));
        break;
    case 0xA3: {
        std::uint8_t* p = &dptrLo();
        if (++p[0] == 0)
            ++p[1];
        break;
    }
    case 0xA4: {
        const unsigned r = A * s[sfr::B - 0x80];
        A = static_cast<std::uint8_t>(r);
        s[sfr::B - 0x80] = static_cast<std::uint8_t>(r >> 8);
        PSW = static_cast<std::uint8_t>((PSW & ~(kCY | kOV)) | (r > 0xFF ? kOV : 0));
        break;
    }
    case 0xA5:
        break; // undefined on the 8051: a one-byte no-op here
    case 0xA6:
    case 0xA7:
        atRi(op & 1) = readDirect(b1);
        break;
    case 0xA8:
    case 0xA9:
    case 0xAA:
    case 0xAB:
    case 0xAC:
    case 0xAD:
    case 0xAE:
    case 0xAF:
        R(op & 7) = readDirect(b1);
        break;

    // ---- row 0xB: ANL C,/bit, CPL, CJNE
    case 0xB0:
        if (readBit(b1))
            setCY(false);
        break;
    case 0xB2:
        writeBit(b1, !readBitLatch(b1));
        break;
    case 0xB3:
        PSW ^= kCY;
        break;
    case 0xB4:
        cjne(A, b1);
        break;
    case 0xB5:
        cjne(A, readDirect(b1));
        break;
    case 0xB6:
    case 0xB7:
        cjne(atRi(op & 1), b1);
        break;
    case 0xB8:
    case 0xB9:
    case 0xBA:
    case 0xBB:
    case 0xBC:
    case 0xBD:
    case 0xBE:
    case 0xBF:
        cjne(R(op & 7), b1);
        break;

    // ---- row 0xC: PUSH, CLR, SWAP, XCH
    case 0xC0: {
        ++s[sfr::SP - 0x80];
        const std::uint8_t v = readDirect(b1);
        iram_[s[sfr::SP - 0x80]] = v;
        break;
    }
    case 0xC2:
        writeBit(b1, false);
        break;
    case 0xC3:
        PSW &= static_cast<std::uint8_t>(~kCY);
        break;
    case 0xC4:
        A = static_cast<std::uint8_t>((A << 4) | (A >> 4));
        break;
    case 0xC5: {
        const std::uint8_t v = readDirect(b1);
        writeDirect(b1, A);
        A = v;
        break;
    }
    case 0xC6:
    case 0xC7:
        std::swap(A, atRi(op & 1));
        break;
    case 0xC8:
    case 0xC9:
    case 0xCA:
    case 0xCB:
    case 0xCC:
    case 0xCD:
    case 0xCE:
    case 0xCF:
        std::swap(A, R(op & 7));
        break;

    // ---- row 0xD: POP, SETB, DA, DJNZ, XCHD
    case 0xD0: {
        const std::uint8_t v = pop();
        writeDirect(b1, v);
        break;
    }
    case 0xD2:
        writeBit(b1, true);
        break;
    case 0xD3:
        PSW |= kCY;
        break;
    case 0xD4: {
        unsigned v = A;
        if ((v & 0x0F) > 9 || (PSW & kAC))
            v += 0x06;
        if (v > 0xFF)
            PSW |= kCY;
        if ((v & 0x1F0) > 0x90 || (PSW & kCY))
            v += 0x60;
        if (v > 0xFF)
            PSW |= kCY;
        A = static_cast<std::uint8_t>(v);
        break;
    }
    case 0xD5: {
        const std::uint8_t v = static_cast<std::uint8_t>(readDirectLatch(b1) - 1);
        writeDirect(b1, v);
        if (v != 0)
            pc_ = rel(b2);
        break;
    }
    case 0xD6:
    case 0xD7: {
        std::uint8_t& m = atRi(op & 1);
        const std::uint8_t a = A;
        A = static_cast<std::uint8_t>((a & 0xF0) | (m & 0x0F));
        m = static_cast<std::uint8_t>((m & 0xF0) | (a & 0x0F));
        break;
    }
    case 0xD8:
    case 0xD9:
    case 0xDA:
    case 0xDB:
    case 0xDC:
    case 0xDD:
    case 0xDE:
    case 0xDF:
        if (--R(op & 7) != 0)
            pc_ = rel(b1);
        break;

    // ---- row 0xE: MOVX reads, CLR A, MOV A,...
    case 0xE0:
        movxCycles();
        A = xread(dptrVal());
        break;
    case 0xE2:
    case 0xE3:
        movxCycles();
        A = xread(riAddr(op & 1));
        break;
    case 0xE4:
        A = 0;
        break;
    case 0xE5:
        A = readDirect(b1);
        break;
    case 0xE6:
    case 0xE7:
        A = atRi(op & 1);
        break;
    case 0xE8:
    case 0xE9:
    case 0xEA:
    case 0xEB:
    case 0xEC:
    case 0xED:
    case 0xEE:
    case 0xEF:
        A = R(op & 7);
        break;

    // ---- row 0xF: MOVX writes, CPL A, MOV ...,A
    case 0xF0:
        movxCycles();
        xwrite(dptrVal(), A);
        break;
    case 0xF2:
    case 0xF3:
        movxCycles();
        xwrite(riAddr(op & 1), A);
        break;
    case 0xF4:
        A = static_cast<std::uint8_t>(~A);
        break;
    case 0xF5:
        writeDirect(b1, A);
        break;
    case 0xF6:
    case 0xF7:
        atRi(op & 1) = A;
        break;
    case 0xF8:
    case 0xF9:
    case 0xFA:
    case 0xFB:
    case 0xFC:
    case 0xFD:
    case 0xFE:
    case 0xFF:
        R(op & 7) = A;
        break;
    }
}

template StopReason Mcs51::runLoop<true>(std::uint64_t, const RunLimits&);
template StopReason Mcs51::runLoop<false>(std::uint64_t, const RunLimits&);

} // namespace pulsara
