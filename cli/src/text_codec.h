#pragma once
// Texts for the terminal: names from definition texts are Shift-JIS (CP932) bytes.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace pulsara::cli {

// UTF-8 of the bytes read as CP932; a byte that starts no valid character becomes U+FFFD.
[[nodiscard]] std::string DecodeShiftJis(std::string_view bytes);

// Terminal columns a UTF-8 text takes: East Asian wide and full-width characters count 2.
[[nodiscard]] int DisplayWidth(std::string_view utf8);

[[nodiscard]] std::string LowerHex(std::string_view bytes);

[[nodiscard]] std::string Sha256Hex(std::span<const std::uint8_t> bytes);

} // namespace pulsara::cli
