// The one Shift-JIS decoder every name on screen and terminal goes through.

#include "capture/shift_jis.h"

#include <gtest/gtest.h>

namespace pulsara {
namespace {

TEST(ShiftJis, DecodesCp932AndMarksWhatIsNoCharacter) {
    const struct {
        std::string_view bytes;
        std::string_view utf8;
    } cases[] = {
        {"CLK_1", "CLK_1"},
        {"\x83\x65\x83\x58\x83\x67", "テスト"},
        {"\xB1"
         "A",
         "ｱA"},                                     // half-width katakana is one byte
        {"\x87\x40", "①"},                          // an NEC special character, CP932 only
        {"AB\x83", "AB\uFFFD"},                     // a name cut at 12 bytes inside a character
        {"\x80|\xA0|\xFD", "\uFFFD|\uFFFD|\uFFFD"}, // bytes CP932 leaves undefined
        {"\x85\x40", "\uFFFD@"}, // no character there: the ASCII byte stays itself
        {"\x81\x20", "\uFFFD "}, // a lead byte before a blank
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ShiftJisToUtf8(c.bytes), c.utf8) << c.bytes;
    }
}

} // namespace
} // namespace pulsara
