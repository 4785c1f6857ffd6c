// The 8051 core: flags, the odd instructions, addressing, DS80C320 extensions, timing and
// stopping. The differential suite against s51 covers the instruction set at large.

#include "test_machine.h"

#include <gtest/gtest.h>

#include <ostream>
#include <set>
#include <string>

namespace pulsara {
using namespace sim;
namespace {

using test::Code;
using test::Machine;

constexpr std::uint8_t CY = 0x80, AC = 0x40, OV = 0x04, P = 0x01;

struct AluCase {
    const char* name;
    std::uint8_t op; // ADD A,#imm (0x24), ADDC (0x34), SUBB (0x94)
    std::uint8_t a, imm;
    bool carryIn;
    std::uint8_t result;
    std::uint8_t flags; // CY|AC|OV|P after the instruction
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const AluCase& c, std::ostream* os) {
    *os << c.name;
}

class AluFlags : public testing::TestWithParam<AluCase> {};

TEST_P(AluFlags, ResultAndFlags) {
    const AluCase& c = GetParam();
    Code code;
    code.movA(c.a)
        .raw({static_cast<std::uint8_t>(c.carryIn ? 0xD3 : 0xC3), c.op, c.imm})
        .selfJump();
    Machine m(code);
    m.runToSelfJump();
    EXPECT_EQ(m.cpu.acc(), c.result);
    EXPECT_EQ(m.cpu.psw() & (CY | AC | OV | P), c.flags);
}

INSTANTIATE_TEST_SUITE_P(
    Core, AluFlags,
    testing::Values(AluCase{"add_overflow", 0x24, 0x7F, 0x01, false, 0x80, AC | OV | P},
                    AluCase{"add_carry_no_ov", 0x24, 0xFF, 0x01, false, 0x00, CY | AC},
                    AluCase{"add_neg_overflow", 0x24, 0x80, 0x80, false, 0x00, CY | OV},
                    AluCase{"addc_uses_carry", 0x34, 0x0E, 0x01, true, 0x10, AC | P},
                    AluCase{"subb_borrow", 0x94, 0x00, 0x01, false, 0xFF, CY | AC},
                    AluCase{"subb_carry_in", 0x94, 0x10, 0x0F, true, 0x00, AC},
                    AluCase{"subb_overflow", 0x94, 0x80, 0x01, false, 0x7F, AC | OV | P},
                    AluCase{"subb_equal_with_borrow", 0x94, 0x00, 0x00, true, 0xFF, CY | AC}),
    [](const auto& info) { return std::string(info.param.name); });

struct DaCase {
    std::uint8_t a;
    std::uint8_t psw;
    std::uint8_t result;
    bool carry;
};

TEST(Core, DecimalAdjustTable) {
    const DaCase cases[] = {
        {0x0A, 0, 0x10, false},      {0x9A, 0, 0x00, true},  {0x00, AC, 0x06, false},
        {0x00, CY, 0x60, true},      {0x99, 0, 0x99, false}, {0xFA, 0, 0x60, true},
        {0x81, AC | CY, 0xE7, true},
    };
    for (const auto& c : cases) {
        Code code;
        code.movA(c.a).movDirect(sfr::PSW, c.psw).raw({0xD4}).selfJump();
        Machine m(code);
        m.runToSelfJump();
        EXPECT_EQ(m.cpu.acc(), c.result) << "DA of " << int(c.a) << " psw " << int(c.psw);
        EXPECT_EQ((m.cpu.psw() & CY) != 0, c.carry) << "DA of " << int(c.a);
    }
}

TEST(Core, MulAndDivFlags) {
    struct Case {
        std::uint8_t op, a, b, resultA, resultB, flags;
    } cases[] = {
        {0xA4, 0x10, 0x10, 0x00, 0x01, OV}, // MUL: product above 255 sets OV
        {0xA4, 0x0F, 0x11, 0xFF, 0x00, 0},  // MUL: fits, OV clear, CY always clear
        {0x84, 0xFB, 0x12, 0x0D, 0x11, P},  // DIV: 251 / 18 = 13 r 17
        {0x84, 0x42, 0x00, 0x42, 0x00, OV}, // DIV by zero: OV, operands kept
    };
    for (const auto& c : cases) {
        Code code;
        code.movA(c.a).movDirect(sfr::B, c.b).raw({0xD3, c.op}).selfJump();
        Machine m(code);
        m.runToSelfJump();
        EXPECT_EQ(m.cpu.acc(), c.resultA) << int(c.op) << " " << int(c.a) << "," << int(c.b);
        EXPECT_EQ(m.cpu.b(), c.resultB);
        EXPECT_EQ(m.cpu.psw() & (CY | OV | P), c.flags);
    }
}

// The 8051 selects the bank from RS1:RS0 however PSW was written; s51 0.6.4 misses bit
// writes, so this lives here rather than in the differential suite.
TEST(Core, RegisterBankFollowsPswBitWrites) {
    Code code;
    code.raw({0x78, 0x11}) // MOV R0,#11h (bank 0: 0x00)
        .raw({0xD2, 0xD3}) // SETB PSW.3
        .raw({0x78, 0x22}) // MOV R0,#22h (bank 1: 0x08)
        .raw({0xD2, 0xD4}) // SETB PSW.4
        .raw({0x78, 0x33}) // bank 3: 0x18
        .raw({0xC2, 0xD3}) // CLR PSW.3
        .raw({0x78, 0x44}) // bank 2: 0x10
        .selfJump();
    Machine m(code);
    m.runToSelfJump();
    EXPECT_EQ(m.cpu.iram(0x00), 0x11);
    EXPECT_EQ(m.cpu.iram(0x08), 0x22);
    EXPECT_EQ(m.cpu.iram(0x18), 0x33);
    EXPECT_EQ(m.cpu.iram(0x10), 0x44);
}

TEST(Core, StackUsesUpperRamAndWraps) {
    Code code;
    code.movDirect(sfr::SP, 0xFE)
        .movA(0xA1)
        .raw({0xC0, 0xE0}) // PUSH ACC -> 0xFF
        .movA(0xB2)
        .raw({0xC0, 0xE0}) // PUSH ACC -> 0x00 (wraps)
        .raw({0xD0, 0xF0}) // POP B <- 0x00
        .selfJump();
    Machine m(code);
    m.runToSelfJump();
    EXPECT_EQ(m.cpu.iram(0xFF), 0xA1);
    EXPECT_EQ(m.cpu.b(), 0xB2);
    EXPECT_EQ(m.cpu.sp(), 0xFF);
}

TEST(Core, DualDataPointersAndMpage) {
    Code code;
    code.movDptr(0x1234)
        .raw({0x05, 0x86}) // INC DPS: select DPTR1 (only bit 0 exists)
        .movDptr(0x2000)
        .raw({0xA3}) // INC DPTR (DPTR1 -> 0x2001)
        .movA(0x5A)
        .raw({0xF0})       // MOVX @DPTR,A -> 0x2001
        .raw({0x05, 0x86}) // back to DPTR0
        .movA(0x6B)
        .raw({0xF0}) // -> 0x1234
        .movDirect(sfr::MPAGE, 0x30)
        .raw({0x78, 0x40}) // MPAGE=30h, R0=40h
        .movA(0x7C)
        .raw({0xF2})               // MOVX @R0,A -> 0x3040
        .movDirect(sfr::DPS, 0xFF) // upper DPS bits read 0
        .selfJump();
    Machine m(code);
    m.runToSelfJump();
    EXPECT_EQ(m.cpu.dptr(0), 0x1234);
    EXPECT_EQ(m.cpu.dptr(1), 0x2001);
    EXPECT_EQ(m.mem[0x2001], 0x5A);
    EXPECT_EQ(m.mem[0x1234], 0x6B);
    EXPECT_EQ(m.mem[0x3040], 0x7C);
    EXPECT_EQ(m.cpu.dps(), 0x01);
}

// Read-modify-write instructions work on the latch; plain reads see the pins.
TEST(Core, ReadModifyWriteReadsTheLatch) {
    Code code;
    code.movDirect(0x90, 0x0F)   // latch of SFR 0x90 = 0Fh
        .raw({0xE5, 0x90})       // MOV A,90h (pins)
        .raw({0xF5, 0x30})       // MOV 30h,A
        .raw({0x43, 0x90, 0x10}) // ORL 90h,#10h (latch 0F -> 1F)
        .raw({0xB2, 0x97})       // CPL 90h.7 (latch 1F -> 9F)
        .selfJump();
    Machine m(code);
    m.cpu.hookSfr(0x90);
    m.pins[0x90] = 0xC0;
    m.runToSelfJump();
    EXPECT_EQ(m.cpu.iram(0x30), 0xC0);
    EXPECT_EQ(m.cpu.sfrLatch(0x90), 0x9F);
}

TEST(Core, CycleCountsIncludingMovxStretch) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> insn;
        std::uint8_t ckcon;
        std::uint64_t cycles;
    } cases[] = {
        {"NOP", {0x00}, 0, 1},
        {"MOV A,#imm", {0x74, 0x01}, 0, 2},
        {"MOV direct,#imm", {0x75, 0x30, 0x01}, 0, 3},
        {"LCALL", {0x12, 0x01, 0x00}, 0, 4},
        {"SJMP", {0x80, 0x00}, 0, 3},
        {"DJNZ Rn", {0xD8, 0x00}, 0, 3},
        {"INC DPTR", {0xA3}, 0, 3},
        {"MUL AB", {0xA4}, 0, 5},
        {"MOVC", {0x93}, 0, 3},
        {"0xA5", {0xA5}, 0, 1},
        {"MOVX stretch 0", {0xE0}, 0, 2},
        {"MOVX stretch 1", {0xE0}, 1, 3},
        {"MOVX @Ri stretch 7", {0xF2}, 7, 9},
    };
    for (const auto& c : cases) {
        Machine m;
        std::copy(c.insn.begin(), c.insn.end(), m.mem.begin());
        m.cpu.reset();
        m.cpu.setSfrLatch(sfr::CKCON, c.ckcon);
        const auto before = m.cpu.cycles();
        m.cpu.step();
        EXPECT_EQ(m.cpu.cycles() - before, c.cycles) << c.what;
    }
}

TEST(Core, StopsAtPcBudgetSelfJumpButNotDjnzLoop) {
    Code code;
    code.raw({0x7F, 0x05}) // 0000 MOV R7,#5
        .raw({0xDF, 0xFE}) // 0002 DJNZ R7,$ (loops on itself, not a stop)
        .raw({0x00})       // 0004 NOP
        .ljmp(0x0005);     // 0005 LJMP to itself
    {
        Machine m(code);
        EXPECT_EQ(m.runToSelfJump(), StopReason::SelfJump);
        EXPECT_EQ(m.cpu.pc(), 0x0005);
        EXPECT_EQ(m.cpu.instructions(), 8u); // MOV, 5 x DJNZ, NOP, LJMP
    }
    {
        Machine m(code);
        RunLimits l;
        l.stopPc = 0x0004;
        EXPECT_EQ(m.cpu.run(l), StopReason::Pc);
        EXPECT_EQ(m.cpu.reg(7), 0);
    }
    {
        Machine m(code);
        RunLimits l;
        l.maxCycles = 7; // MOV (2) + DJNZ (3) + DJNZ (3) crosses 7
        EXPECT_EQ(m.cpu.run(l), StopReason::Budget);
        EXPECT_EQ(m.cpu.reg(7), 3);
        RunLimits i;
        i.maxInstructions = 2;
        EXPECT_EQ(m.cpu.run(i), StopReason::Instructions);
        EXPECT_EQ(m.cpu.reg(7), 1);
    }
    // The runner's report names the reason; no two reasons may read alike.
    const StopReason all[] = {StopReason::Budget, StopReason::Instructions, StopReason::Pc,
                              StopReason::SelfJump, StopReason::Requested};
    std::set<std::string> names;
    for (const auto r : all)
        names.insert(StopReasonName(r));
    EXPECT_EQ(names.size(), std::size(all));
}

TEST(Core, DisassemblesOperandsInSourceOrder) {
    struct Case {
        std::vector<std::uint8_t> bytes;
        const char* text;
        int length;
    } cases[] = {
        {{0x85, 0x30, 0x40}, "MOV 0x40,0x30", 3},    {{0xB4, 0x12, 0xFD}, "CJNE A,#0x12,0x0000", 3},
        {{0x12, 0x1A, 0x00}, "LCALL 0x1A00", 3},     {{0xD2, 0xAF}, "SETB IE.7", 2},
        {{0x90, 0x7F, 0x92}, "MOV DPTR,#0x7F92", 3}, {{0xA5}, "DB 0xA5", 1},
    };
    for (const auto& c : cases) {
        std::array<std::uint8_t, 0x10000> code{};
        std::copy(c.bytes.begin(), c.bytes.end(), code.begin());
        int len = 0;
        EXPECT_EQ(Disassemble(code.data(), 0, &len), c.text);
        EXPECT_EQ(len, c.length);
    }
}

} // namespace
} // namespace pulsara
