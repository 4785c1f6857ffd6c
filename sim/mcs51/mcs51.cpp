#include "sim/mcs51/mcs51.h"

#include "mcs51_tables.h"

namespace pulsara::sim {

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
        return "instruction-budget";
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

#include "instructions.inc"

template StopReason Mcs51::runLoop<true>(std::uint64_t, const RunLimits&);
template StopReason Mcs51::runLoop<false>(std::uint64_t, const RunLimits&);

} // namespace pulsara::sim
