#pragma once
// Texts for the terminal: names from definition texts are Shift-JIS (CP932) bytes, read
// with ShiftJisToUtf8 (capture/shift_jis.h).

#include "capture/shift_jis.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace pulsara::cli {

// Terminal columns a UTF-8 text takes: East Asian wide and full-width characters count 2.
[[nodiscard]] int DisplayWidth(std::string_view utf8);

[[nodiscard]] std::string LowerHex(std::string_view bytes);

[[nodiscard]] std::string Sha256Hex(std::span<const std::uint8_t> bytes);

} // namespace pulsara::cli
