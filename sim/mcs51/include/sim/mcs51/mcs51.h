#pragma once
// An 8051 core with the DS80C320-style extensions of the EZ-USB AN21xx: machine cycles of
// 4 clocks, two data pointers selected by DPS, MPAGE as the high byte of MOVX @Ri,
// MOVX stretch from CKCON, and the extended interrupts (INT2..INT6, resume).
//
// Memory is plain arrays wired in by the owner:
//   - code fetches and MOVC read one 64 KiB array (setCode);
//   - each 256-byte xdata page has a read pointer and a write pointer (mapXdataPage); a
//     null pointer sends that page's accesses to the Mcs51Bus, so plain RAM costs no call;
//   - SFRs live in the core; hookSfr(addr) sends reads and writes of one SFR to the bus.
// Nothing is global: several cores can run side by side.
//
//   Mcs51Bus& bus = ...;             // the chip or test harness
//   Mcs51 cpu(bus);
//   cpu.setCode(mem.data());
//   for (int p = 0; p < 0x20; ++p) cpu.mapXdataPage(p, &mem[p << 8], &mem[p << 8]);
//   cpu.reset();
//   RunLimits lim; lim.maxCycles = 1'000'000; lim.stopPc = 0x0123;
//   StopReason why = cpu.run(lim);

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>

namespace pulsara::sim {

// The machine cycle: 4 clocks of the 24 MHz CPU clock.
inline constexpr std::uint64_t kClockHz = 24'000'000;
inline constexpr std::uint64_t kClocksPerCycle = 4;
inline constexpr std::uint64_t kCyclesPerSecond = kClockHz / kClocksPerCycle;

// SFR addresses the core itself gives meaning to.
namespace sfr {
inline constexpr std::uint8_t SP = 0x81, DPL0 = 0x82, DPH0 = 0x83, DPL1 = 0x84, DPH1 = 0x85,
                              DPS = 0x86, PCON = 0x87, TCON = 0x88, CKCON = 0x8E, EXIF = 0x91,
                              MPAGE = 0x92, SCON0 = 0x98, IE = 0xA8, IP = 0xB8, SCON1 = 0xC0,
                              T2CON = 0xC8, PSW = 0xD0, EICON = 0xD8, ACC = 0xE0, EIE = 0xE8,
                              B = 0xF0, EIP = 0xF8;
} // namespace sfr

// Interrupt vectors, in natural priority order after resume.
namespace vec {
inline constexpr std::uint16_t Resume = 0x33, Int0 = 0x03, Timer0 = 0x0B, Int1 = 0x13,
                               Timer1 = 0x1B, Serial0 = 0x23, Timer2 = 0x2B, Serial1 = 0x3B,
                               Int2Usb = 0x43, Int3I2c = 0x4B, Int4 = 0x53, Int5 = 0x5B,
                               Int6 = 0x63;
} // namespace vec

// A one-instruction replacement of a code byte, used for the USB autovector: while the
// first instruction of an interrupt handler runs, `addr` reads as `value`.
struct CodePatch {
    std::uint16_t addr = 0;
    std::uint8_t value = 0;
};

// What the core cannot answer from its own arrays.
class Mcs51Bus {
public:
    virtual ~Mcs51Bus() = default;
    // Accesses to xdata pages whose pointer is null.
    virtual std::uint8_t xdataRead(std::uint16_t addr) = 0;
    virtual void xdataWrite(std::uint16_t addr, std::uint8_t value) = 0;
    // Accesses to hooked SFRs; `latch` is the value the core last stored there.
    virtual std::uint8_t sfrRead(std::uint8_t /*addr*/, std::uint8_t latch) { return latch; }
    virtual void sfrWrite(std::uint8_t /*addr*/, std::uint8_t /*value*/) {}
    // Called when the core vectors to an interrupt, before the handler's first instruction.
    virtual std::optional<CodePatch> interruptEntry(std::uint16_t /*vector*/) {
        return std::nullopt;
    }
};

enum class StopReason : std::uint8_t {
    Budget,       // maxCycles reached
    Instructions, // maxInstructions reached
    Pc,           // the PC reached stopPc
    SelfJump,     // SJMP/AJMP/LJMP to its own address (only with stopOnSelfJump)
    Requested,    // requestStop() from a bus handler or callback
};

[[nodiscard]] const char* StopReasonName(StopReason r);

struct RunLimits {
    // Absolute limits are awkward for callers; both counts are relative to the call.
    std::uint64_t maxCycles = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t maxInstructions = std::numeric_limits<std::uint64_t>::max();
    std::optional<std::uint16_t> stopPc;
    bool stopOnSelfJump = false;
};

class Mcs51 {
public:
    explicit Mcs51(Mcs51Bus& bus);
    Mcs51(const Mcs51&) = delete;
    Mcs51& operator=(const Mcs51&) = delete;

    // --- wiring -------------------------------------------------------------------------
    // The core writes code memory only to apply an interrupt-entry CodePatch, and restores it.
    void setCode(std::uint8_t* code64k) { code_ = code64k; }
    void mapXdataPage(std::uint8_t page, const std::uint8_t* read, std::uint8_t* write) {
        xread_[page] = read;
        xwrite_[page] = write;
    }
    void hookSfr(std::uint8_t addr) { sfrHooked_[addr & 0x7F] = true; }

    // --- reset and running --------------------------------------------------------------
    // PC = 0, SFRs to their reset values, no interrupt in service, not idle. Internal RAM
    // keeps its contents, as on the chip.
    void reset();
    StopReason run(const RunLimits& limits);
    // One instruction, or one interrupt entry with the handler's first instruction.
    void step();
    // Ends run() after the current instruction; safe to call from bus handlers.
    void requestStop() {
        stopRequested_ = true;
        cycleEnd_ = 0;
    }
    // Advances time without executing (the CPU held in reset, or idle).
    void addIdleCycles(std::uint64_t n) { cycles_ += n; }

    // --- state --------------------------------------------------------------------------
    [[nodiscard]] std::uint16_t pc() const { return pc_; }
    void setPc(std::uint16_t pc) { pc_ = pc; }
    [[nodiscard]] std::uint64_t cycles() const { return cycles_; }
    [[nodiscard]] std::uint64_t instructions() const { return instructions_; }
    [[nodiscard]] bool idle() const { return idle_; }

    [[nodiscard]] std::uint8_t acc() const { return sfr_[sfr::ACC - 0x80]; }
    [[nodiscard]] std::uint8_t b() const { return sfr_[sfr::B - 0x80]; }
    [[nodiscard]] std::uint8_t psw() const; // with the parity bit of A
    [[nodiscard]] std::uint8_t sp() const { return sfr_[sfr::SP - 0x80]; }
    [[nodiscard]] std::uint8_t dps() const { return sfr_[sfr::DPS - 0x80]; }
    [[nodiscard]] std::uint16_t dptr(int which) const;
    [[nodiscard]] std::uint8_t reg(int n) const { return iram_[bank_ + n]; }

    // Raw access for harnesses and tests (no hooks, no side effects except PSW's bank).
    [[nodiscard]] std::uint8_t iram(std::uint8_t addr) const { return iram_[addr]; }
    void setIram(std::uint8_t addr, std::uint8_t v) { iram_[addr] = v; }
    [[nodiscard]] std::uint8_t sfrLatch(std::uint8_t addr) const { return sfr_[addr & 0x7F]; }
    void setSfrLatch(std::uint8_t addr, std::uint8_t v);

    // For devices raising interrupt flags (EXIF.4 for USB, EICON.4 for resume, ...):
    // ORs `mask` into the SFR and re-evaluates pending interrupts.
    void raiseSfrFlags(std::uint8_t addr, std::uint8_t mask);

    // MOVX stretch from CKCON.2-0: a MOVX takes 2 + stretch cycles.
    [[nodiscard]] unsigned movxStretch() const { return sfr_[sfr::CKCON - 0x80] & 7u; }

    // Called before every instruction while set (slow; for --trace and debugging).
    void setTrace(std::function<void(const Mcs51&)> trace) { trace_ = std::move(trace); }

private:
    struct Insn; // one fetched instruction
    struct Ops;  // the instruction handlers (instructions.inc)

    template <bool kSlow> StopReason runLoop(std::uint64_t insnEnd, const RunLimits& limits);
    void execute();
    bool serviceInterrupt();
    void updateIrq();

    std::uint8_t readDirect(std::uint8_t a);
    std::uint8_t readDirectLatch(std::uint8_t a); // read-modify-write reads the latch
    void writeDirect(std::uint8_t a, std::uint8_t v);
    std::uint8_t readSfr(std::uint8_t a);
    void writeSfr(std::uint8_t a, std::uint8_t v);
    bool readBit(std::uint8_t bit);
    bool readBitLatch(std::uint8_t bit);
    void writeBit(std::uint8_t bit, bool v);
    std::uint8_t xread(std::uint16_t addr);
    void xwrite(std::uint16_t addr, std::uint8_t v);
    void push(std::uint8_t v);
    std::uint8_t pop();
    void setPswRaw(std::uint8_t v);

    Mcs51Bus& bus_;
    std::uint8_t* code_ = nullptr;
    const std::uint8_t* xread_[256] = {};
    std::uint8_t* xwrite_[256] = {};

    std::uint16_t pc_ = 0;
    std::uint8_t bank_ = 0; // PSW.RS1:RS0 * 8, cached for register access
    std::uint64_t cycles_ = 0;
    std::uint64_t instructions_ = 0;
    std::uint64_t cycleEnd_ = 0; // run() ends when cycles_ reaches it; requestStop zeroes it
    bool stopRequested_ = false;
    bool selfJump_ = false;
    bool stopOnSelfJump_ = false;
    bool idle_ = false;

    // Interrupts: irqCheck_ is set whenever a flag, enable or priority may have changed.
    bool irqCheck_ = false;
    bool irqBlocked_ = false;    // RETI or a write to IE/IP/EIE/EIP: one more instruction first
    std::uint8_t inService_ = 0; // bit 0 low, bit 1 high, bit 2 resume

    std::uint8_t iram_[256] = {};
    std::uint8_t sfr_[128] = {};
    bool sfrHooked_[128] = {};

    std::function<void(const Mcs51&)> trace_;
};

// One instruction as text, e.g. "MOV A,#0x12"; *length gets its size in bytes.
[[nodiscard]] std::string Disassemble(const std::uint8_t* code64k, std::uint16_t pc,
                                      int* length = nullptr);

} // namespace pulsara::sim
