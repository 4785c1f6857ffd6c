// The interrupt system: two priority levels plus resume, natural order, nesting, RETI,
// the instruction after RETI, flags the hardware clears, and IDLE.

#include "test_machine.h"

#include <gtest/gtest.h>

#include <ostream>

namespace pulsara {
using namespace sim;
namespace {

using test::Code;
using test::Machine;

constexpr std::uint16_t kMain = 0x0100, kMainLoop = 0x0110, kInt2Body = 0x0200, kInt2Mid = 0x0206,
                        kLog = 0x40;

// Each handler appends a marker to a log at iram 0x40 through R1. INT2 logs 0x43 on
// entry and 0xC3 on exit, with a NOP between (where tests raise other interrupts).
Code Program() {
    Code c;
    c.ljmp(kMain);
    c.org(vec::Timer0).raw({0x77, 0x0B, 0x09, 0x32});                   // log 0B, RETI
    c.org(vec::Resume).raw({0x77, 0x33, 0x09, 0x53, 0xD8, 0xEF, 0x32}); // clear RESI
    c.org(vec::Int2Usb).ljmp(kInt2Body);
    c.org(vec::Int4).raw({0x53, 0x91, 0xBF, 0x77, 0x53, 0x09, 0x32}); // clear IE4
    c.org(kMain)
        .raw({0x79, kLog})                                // MOV R1,#log
        .movDirect(sfr::IE, 0x82)                         // EA, ET0
        .movDirect(sfr::EIE, 0x05)                        // EUSB, EX4
        .movDirect(sfr::EICON, 0x20);                     // ERESI
    c.org(kMainLoop).raw({0x05, 0x31}).raw({0x80, 0xFC}); // INC 31h; SJMP back
    c.org(kInt2Body)
        .raw({0x53, 0x91, 0xEF}) // ANL EXIF,#~USBINT
        .raw({0x77, 0x43, 0x09}) // log 43
        .raw({0x00})             // kInt2Mid
        .raw({0x77, 0xC3, 0x09, 0x32});
    return c;
}

std::vector<std::uint8_t> Log(const Machine& m) {
    std::vector<std::uint8_t> log;
    for (std::uint8_t a = kLog; a < m.cpu.reg(1); ++a)
        log.push_back(m.cpu.iram(a));
    return log;
}

void RunTo(Machine& m, std::uint16_t pc) {
    RunLimits l;
    l.maxCycles = 10'000;
    l.stopPc = pc;
    ASSERT_EQ(m.cpu.run(l), StopReason::Pc) << "never reached " << pc;
}

void RunFor(Machine& m, std::uint64_t cycles) {
    RunLimits l;
    l.maxCycles = cycles;
    m.cpu.run(l);
}

struct NestCase {
    const char* name;
    std::uint8_t eip;       // priority bits of the extended interrupts
    std::uint8_t sfr, mask; // what is raised while INT2's handler runs
    std::vector<std::uint8_t> log;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const NestCase& c, std::ostream* os) {
    *os << c.name;
}

class Nesting : public testing::TestWithParam<NestCase> {};

TEST_P(Nesting, PreemptsOnlyFromAHigherLevel) {
    const NestCase& c = GetParam();
    Machine m(Program());
    RunTo(m, kMainLoop);
    m.cpu.setSfrLatch(sfr::EIP, static_cast<std::uint8_t>(0xE0 | c.eip));
    m.cpu.raiseSfrFlags(sfr::EXIF, 0x10); // INT2
    RunTo(m, kInt2Mid);
    m.cpu.raiseSfrFlags(c.sfr, c.mask);
    RunFor(m, 200);
    EXPECT_EQ(Log(m), c.log);
}

INSTANTIATE_TEST_SUITE_P(
    Interrupts, Nesting,
    testing::Values(NestCase{"high_preempts_low", 0x04, sfr::EXIF, 0x40, {0x43, 0x53, 0xC3}},
                    NestCase{"same_level_waits", 0x00, sfr::EXIF, 0x40, {0x43, 0xC3, 0x53}},
                    NestCase{"low_waits_for_high", 0x01, sfr::EXIF, 0x40, {0x43, 0xC3, 0x53}},
                    NestCase{"resume_preempts_high", 0x01, sfr::EICON, 0x10, {0x43, 0x33, 0xC3}},
                    NestCase{"timer0_same_level_waits", 0x00, sfr::TCON, 0x20, {0x43, 0xC3, 0x0B}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Interrupts, NaturalOrderBreaksTiesAndHardwareClearsTimerFlag) {
    Machine m(Program());
    RunTo(m, kMainLoop);
    // INT4, INT2 and timer 0 all pending at the low level: timer 0 first, then INT2, INT4.
    m.cpu.raiseSfrFlags(sfr::EXIF, 0x50);
    m.cpu.raiseSfrFlags(sfr::TCON, 0x20);
    RunFor(m, 300);
    EXPECT_EQ(Log(m), (std::vector<std::uint8_t>{0x0B, 0x43, 0xC3, 0x53}));
    EXPECT_EQ(m.cpu.sfrLatch(sfr::TCON) & 0x20, 0);    // TF0 cleared on entry
    EXPECT_EQ(m.cpu.sfrLatch(sfr::EXIF) & 0x50, 0);    // handlers cleared theirs
    EXPECT_EQ(m.cpu.sfrLatch(sfr::EXIF) & 0x08, 0x08); // EXIF.3 reads 1
}

TEST(Interrupts, OneMainInstructionRunsBetweenRetiAndTheNextInterrupt) {
    Code c = Program();
    // INT4 logs the main-loop counter instead of a marker.
    c.org(vec::Int4).raw({0x53, 0x91, 0xBF, 0xE5, 0x31, 0xF7, 0x09, 0x32});
    Machine m(c);
    RunTo(m, kMainLoop);
    const std::uint8_t before = m.cpu.iram(0x31);
    m.cpu.raiseSfrFlags(sfr::EXIF, 0x50); // INT2 then INT4, both low
    RunFor(m, 300);
    const auto log = Log(m);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[2], static_cast<std::uint8_t>(before + 1)); // one INC 31h in between
}

TEST(Interrupts, RetiRestoresPcAndStack) {
    Machine m(Program());
    RunTo(m, kMainLoop);
    const std::uint8_t sp = m.cpu.sp();
    m.cpu.raiseSfrFlags(sfr::EXIF, 0x10);
    RunTo(m, kInt2Mid);
    EXPECT_EQ(m.cpu.sp(), sp + 2);
    RunTo(m, kMainLoop);
    EXPECT_EQ(m.cpu.sp(), sp);
}

TEST(Interrupts, IdleWaitsForAnInterruptThenContinues) {
    Code c = Program();
    c.org(kMainLoop).raw({0x43, 0x87, 0x01}).raw({0x75, 0x32, 0x99}).selfJump(); // ORL PCON,#1
    Machine m(c);
    RunTo(m, kMainLoop);
    RunFor(m, 5);
    const auto insns = m.cpu.instructions();
    RunFor(m, 10'000);
    EXPECT_TRUE(m.cpu.idle());
    EXPECT_EQ(m.cpu.instructions(), insns);
    EXPECT_EQ(m.cpu.iram(0x32), 0);
    m.cpu.raiseSfrFlags(sfr::EXIF, 0x10);
    EXPECT_EQ(m.runToSelfJump(10'000), StopReason::SelfJump);
    EXPECT_FALSE(m.cpu.idle());
    EXPECT_EQ(Log(m), (std::vector<std::uint8_t>{0x43, 0xC3}));
    EXPECT_EQ(m.cpu.iram(0x32), 0x99);
    EXPECT_EQ(m.cpu.sfrLatch(sfr::PCON) & 0x01, 0);
}

TEST(Interrupts, NothingIsTakenWithEaClear) {
    Machine m(Program());
    RunTo(m, kMainLoop);
    m.cpu.setSfrLatch(sfr::IE, 0x02);
    m.cpu.raiseSfrFlags(sfr::EXIF, 0x10);
    RunFor(m, 500);
    EXPECT_TRUE(Log(m).empty());
}

} // namespace
} // namespace pulsara
