#pragma once
// Names in definition texts and capture files are Shift-JIS (CP932) bytes; everything that
// shows them (window, terminal, exports' messages) reads them through this one decoder.

#include <string>
#include <string_view>

namespace pulsara {

// UTF-8 of the bytes read as CP932. A byte that starts no valid character, and a lead byte
// cut off at the end (names are cut at 12 bytes), become U+FFFD; an ASCII byte after a lead
// byte that forms no character stays itself. The bytes themselves are never changed.
[[nodiscard]] std::string ShiftJisToUtf8(std::string_view bytes);

} // namespace pulsara
