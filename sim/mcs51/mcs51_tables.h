#pragma once
// Instruction lengths and DS80C320 machine-cycle counts, shared by the core and the
// disassembler.

#include <array>
#include <cstdint>

namespace pulsara::sim {

// Bytes per opcode, row = high nibble.
inline constexpr std::array<std::uint8_t, 256> kInsnLength = {
    1, 2, 3, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // 0x0_
    3, 2, 3, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // 0x1_
    3, 2, 1, 1, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // 0x2_
    3, 2, 1, 1, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // 0x3_
    2, 2, 2, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // 0x4_
    2, 2, 2, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // 0x5_
    2, 2, 2, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // 0x6_
    2, 2, 2, 1, 2, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, // 0x7_
    2, 2, 2, 1, 1, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, // 0x8_
    3, 2, 2, 1, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // 0x9_
    2, 2, 2, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, // 0xA_
    2, 2, 2, 1, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, // 0xB_
    2, 2, 2, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // 0xC_
    2, 2, 2, 1, 1, 3, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, // 0xD_
    1, 2, 1, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // 0xE_
    1, 2, 1, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // 0xF_
};

// Machine cycles (4 clocks each) before any MOVX stretch: as many as bytes, except the
// jumps, calls, returns, MOVC, INC DPTR, MUL/DIV and MOVX below. The MUL/DIV count is
// the Dallas figure (unconfirmed for the AN21xx; ucsim's DS320 model uses 7).
inline constexpr std::uint8_t kMulDivCycles = 5;

constexpr std::array<std::uint8_t, 256> MakeInsnCycles() {
    std::array<std::uint8_t, 256> c = kInsnLength;
    for (int op = 0; op < 256; ++op) {
        if ((op & 0x1F) == 0x01 || (op & 0x1F) == 0x11)
            c[op] = 3; // AJMP, ACALL
    }
    constexpr std::uint8_t four[] = {0x02, 0x12, 0x22, 0x32, 0x10, 0x20,
                                     0x30, 0xB4, 0xB5, 0xB6, 0xB7, 0xD5};
    for (auto op : four)
        c[op] = 4;
    constexpr std::uint8_t three[] = {0x40, 0x50, 0x60, 0x70, 0x73, 0x80, 0x83, 0x93, 0xA3};
    for (auto op : three)
        c[op] = 3;
    for (int r = 0; r < 8; ++r) {
        c[0xB8 + r] = 4; // CJNE Rn
        c[0xD8 + r] = 3; // DJNZ Rn
    }
    c[0x84] = c[0xA4] = kMulDivCycles;
    c[0xE0] = c[0xE2] = c[0xE3] = c[0xF0] = c[0xF2] = c[0xF3] = 2; // + stretch
    return c;
}

inline constexpr std::array<std::uint8_t, 256> kInsnCycles = MakeInsnCycles();

} // namespace pulsara::sim
