#include "capture/shift_jis.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace pulsara {
namespace {

struct IconvCloser {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};

} // namespace

std::string ShiftJisToUtf8(std::string_view bytes) {
    if (std::all_of(bytes.begin(), bytes.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        return std::string(bytes); // the common case needs no converter
    }
    iconv_t raw = iconv_open("UTF-8", "CP932");
    if (raw == reinterpret_cast<iconv_t>(-1)) {
        return std::string(bytes); // no converter: show the bytes as they are
    }
    std::unique_ptr<void, IconvCloser> cd(raw);
    std::string out;
    char buffer[256];
    auto* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const auto rc = iconv(raw, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // An invalid or cut-off sequence: mark it and go on with the next byte.
            out += "\xEF\xBF\xBD";
            ++in;
            --inLeft;
            iconv(raw, nullptr, nullptr, nullptr, nullptr);
        }
    }
    return out;
}

} // namespace pulsara
