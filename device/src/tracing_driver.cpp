#include "device/tracing_driver.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ostream>

namespace pulsara {
namespace {

std::string Hex(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const auto b : bytes) {
        std::array<char, 3> digits{};
        std::snprintf(digits.data(), digits.size(), "%02x", b);
        text += digits.data();
    }
    return text;
}

} // namespace

DriverHandle TracingDriver::Open(int instance) {
    const auto handle = inner_.Open(instance);
    trace_ << "io: open instance " << instance << " -> "
           << (handle == kInvalidHandle ? std::string("failed")
                                        : "handle " + std::to_string(handle))
           << "\n";
    return handle;
}

void TracingDriver::Close(DriverHandle handle) {
    inner_.Close(handle);
    trace_ << "io: close handle " << handle << "\n";
}

IoResult TracingDriver::IoControl(DriverHandle handle, std::uint32_t code,
                                  std::span<const std::uint8_t> input,
                                  std::span<std::uint8_t> output) {
    const auto result = inner_.IoControl(handle, code, input, output);
    // An image download is 4096 bytes: show its length, not its bytes.
    const bool bulkInput = code == IOCTL_Ezusb_ANCHOR_DOWNLOAD;
    trace_ << "io: " << IoControlName(code)
           << " in=" << (bulkInput ? "(" + std::to_string(input.size()) + " bytes)" : Hex(input))
           << " out_len=" << output.size() << " -> " << (result.ok ? "ok" : "FAILED")
           << " returned=" << result.bytesReturned;
    // Command bytes and short replies are what one wants to see; sample blocks are not.
    constexpr std::size_t kShownBytes = 16;
    if (code == IOCTL_EZUSB_BULK_WRITE && output.size() <= kShownBytes) {
        trace_ << " data=" << Hex(output);
    } else if (code == IOCTL_EZUSB_BULK_READ && result.ok && result.bytesReturned <= kShownBytes) {
        trace_ << " data="
               << Hex(output.first(std::min<std::size_t>(result.bytesReturned, output.size())));
    }
    trace_ << "\n";
    return result;
}

} // namespace pulsara
