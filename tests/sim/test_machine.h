#pragma once
// A plain 8051 with 64 KiB of unified RAM for the core's tests, and a tiny assembler for
// the handful of instructions the tests build programs from.

#include "sim/mcs51/mcs51.h"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <vector>

namespace pulsara::test {
using namespace pulsara::sim;

// Writes at a position that org() may move back and forth; gaps are NOPs.
struct Code {
    std::vector<std::uint8_t> bytes;
    std::size_t pos = 0;
    Code& raw(std::initializer_list<std::uint8_t> b) {
        if (bytes.size() < pos + b.size())
            bytes.resize(pos + b.size(), 0x00);
        for (auto v : b)
            bytes[pos++] = v;
        return *this;
    }
    [[nodiscard]] std::uint16_t here() const { return static_cast<std::uint16_t>(pos); }
    Code& org(std::uint16_t addr) {
        pos = addr;
        if (bytes.size() < pos)
            bytes.resize(pos, 0x00);
        return *this;
    }
    Code& movA(std::uint8_t v) { return raw({0x74, v}); }
    Code& movDirect(std::uint8_t d, std::uint8_t v) { return raw({0x75, d, v}); }
    Code& movDptr(std::uint16_t v) {
        return raw({0x90, static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
    }
    // MOV DPTR,#addr / MOV A,#v / MOVX @DPTR,A
    Code& xwrite(std::uint16_t addr, std::uint8_t v) { return movDptr(addr).movA(v).raw({0xF0}); }
    Code& ljmp(std::uint16_t a) {
        return raw({0x02, static_cast<std::uint8_t>(a >> 8), static_cast<std::uint8_t>(a)});
    }
    Code& selfJump() { return raw({0x80, 0xFE}); }
    Code& sjmp(std::uint16_t target) { return raw({0x80, rel(target, 2)}); }
    // MOV DPTR,#addr / MOVX A,@DPTR
    Code& xread(std::uint16_t addr) { return movDptr(addr).raw({0xE0}); }
    Code& jbAcc(int bit, std::uint16_t target) {
        return raw({0x20, static_cast<std::uint8_t>(0xE0 + bit), rel(target, 3)});
    }
    Code& jnbAcc(int bit, std::uint16_t target) {
        return raw({0x30, static_cast<std::uint8_t>(0xE0 + bit), rel(target, 3)});
    }
    std::uint8_t rel(std::uint16_t target, int length) const {
        return static_cast<std::uint8_t>(target - (here() + length));
    }
    Code& reti() { return raw({0x32}); }
};

class Machine final : public Mcs51Bus {
public:
    explicit Machine(const Code& code = {}) : cpu(*this) {
        std::copy(code.bytes.begin(), code.bytes.end(), mem.begin());
        cpu.setCode(mem.data());
        for (unsigned p = 0; p < 256; ++p)
            cpu.mapXdataPage(static_cast<std::uint8_t>(p), &mem[p << 8], &mem[p << 8]);
    }
    std::uint8_t xdataRead(std::uint16_t a) override { return mem[a]; }
    void xdataWrite(std::uint16_t a, std::uint8_t v) override { mem[a] = v; }
    std::uint8_t sfrRead(std::uint8_t a, std::uint8_t latch) override {
        auto it = pins.find(a);
        return it == pins.end() ? latch : it->second;
    }

    StopReason runToSelfJump(std::uint64_t maxCycles = 1'000'000) {
        RunLimits l;
        l.maxCycles = maxCycles;
        l.stopOnSelfJump = true;
        return cpu.run(l);
    }

    std::array<std::uint8_t, 0x10000> mem{};
    std::map<std::uint8_t, std::uint8_t> pins; // what hooked SFRs read as
    Mcs51 cpu;
};

} // namespace pulsara::test
