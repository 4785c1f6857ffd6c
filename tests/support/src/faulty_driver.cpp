#include "support/faulty_driver.h"

#include <algorithm>
#include <vector>

namespace pulsara {

IoResult FaultyDriver::IoControl(DriverHandle handle, std::uint32_t code,
                                 std::span<const std::uint8_t> input,
                                 std::span<std::uint8_t> output) {
    ++calls_;
    if (calls_ != faultAt_) {
        return inner_.IoControl(handle, code, input, output);
    }
    firedCode_ = code;
    if (fault_ == IoFault::Fail) {
        return {};
    }
    switch (code) {
    case IOCTL_EZUSB_BULK_WRITE: {
        // Half of the data reaches the board, and the driver says so.
        const auto sent = inner_.IoControl(handle, code, input, output.first(output.size() / 2));
        return {sent.ok, std::min<std::uint32_t>(sent.bytesReturned,
                                                 static_cast<std::uint32_t>(output.size() / 2))};
    }
    case IOCTL_Ezusb_ANCHOR_DOWNLOAD: {
        const auto sent = inner_.IoControl(handle, code, input.first(input.size() / 2), output);
        return {sent.ok, sent.bytesReturned / 2};
    }
    default: {
        // A read, a descriptor or a vendor request: the board answered in full, but only
        // half of it arrived; the rest of the buffer is as the caller left it.
        std::vector<std::uint8_t> whole(output.size());
        const auto got = inner_.IoControl(handle, code, input, whole);
        const std::uint32_t arrived = std::min<std::uint32_t>(
            got.bytesReturned / 2, static_cast<std::uint32_t>(output.size()));
        std::copy_n(whole.begin(), arrived, output.begin());
        return {got.ok, arrived};
    }
    }
}

} // namespace pulsara
