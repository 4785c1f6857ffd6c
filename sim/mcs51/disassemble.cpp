#include "sim/mcs51/mcs51.h"

#include "mcs51_tables.h"

#include <cstdio>

namespace pulsara::sim {

namespace {

#include "mnemonics.inc"

std::string Hex(unsigned v, int digits) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%0*X", digits, v);
    return buf;
}

std::string DirectName(std::uint8_t a) {
    switch (a) {
    case sfr::ACC:
        return "ACC";
    case sfr::B:
        return "B";
    case sfr::PSW:
        return "PSW";
    case sfr::SP:
        return "SP";
    case sfr::DPL0:
        return "DPL";
    case sfr::DPH0:
        return "DPH";
    case sfr::DPL1:
        return "DPL1";
    case sfr::DPH1:
        return "DPH1";
    case sfr::DPS:
        return "DPS";
    case sfr::EXIF:
        return "EXIF";
    case sfr::MPAGE:
        return "MPAGE";
    case sfr::IE:
        return "IE";
    case sfr::EICON:
        return "EICON";
    case sfr::EIE:
        return "EIE";
    default:
        return Hex(a, 2);
    }
}

std::string BitName(std::uint8_t bit) {
    if (bit < 0x80)
        return Hex(bit, 2);
    std::string s = DirectName(bit & 0xF8);
    s += '.';
    s += static_cast<char>('0' + (bit & 7));
    return s;
}

} // namespace

std::string Disassemble(const std::uint8_t* code, std::uint16_t pc, int* length) {
    const std::uint8_t op = code[pc];
    const int len = kInsnLength[op];
    if (length)
        *length = len;
    auto byteAt = [&](int i) { return code[static_cast<std::uint16_t>(pc + i)]; };
    const std::uint16_t next = static_cast<std::uint16_t>(pc + len);
    int operand = 1;
    std::string out;
    for (const char* p = kMnemonic[op]; *p; ++p) {
        if (*p != '%') {
            out += *p;
            continue;
        }
        switch (*++p) {
        case 'd':
            out += DirectName(byteAt(operand++));
            break;
        case '#':
            out += '#';
            out += Hex(byteAt(operand++), 2);
            break;
        case 'b':
            out += BitName(byteAt(operand++));
            break;
        case 'r':
            out += Hex(
                static_cast<std::uint16_t>(next + static_cast<std::int8_t>(byteAt(operand++))), 4);
            break;
        case 'a':
            out += Hex(static_cast<unsigned>((next & 0xF800) | ((op & 0xE0) << 3) | byteAt(1)), 4);
            break;
        case 'L':
            out += Hex(static_cast<unsigned>((byteAt(1) << 8) | byteAt(2)), 4);
            break;
        case 'I':
            out += '#';
            out += Hex(static_cast<unsigned>((byteAt(1) << 8) | byteAt(2)), 4);
            break;
        case 'D':
            out += DirectName(byteAt(2));
            out += ',';
            out += DirectName(byteAt(1));
            break;
        default:
            break;
        }
    }
    return out;
}

} // namespace pulsara::sim
