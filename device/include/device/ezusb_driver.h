#pragma once
// The seam in place of the EZ-USB general-purpose kernel driver: numbered device instances
// 0..7 and one synchronous I/O-control call. Backends: real boards over libusb, the
// simulated board, and recording fakes in tests.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace pulsara {

// The driver's I/O-control codes (device type FILE_DEVICE_UNKNOWN, any access).
inline constexpr std::uint32_t IOCTL_Ezusb_VENDOR_REQUEST = 0x222014;
inline constexpr std::uint32_t IOCTL_Ezusb_ANCHOR_DOWNLOAD = 0x22201C;
inline constexpr std::uint32_t IOCTL_Ezusb_GET_STRING_DESCRIPTOR = 0x222044;
inline constexpr std::uint32_t IOCTL_EZUSB_BULK_WRITE = 0x222051;
inline constexpr std::uint32_t IOCTL_EZUSB_BULK_READ = 0x22204E;

// The control's name for traces and messages, or "IOCTL_UNKNOWN".
[[nodiscard]] std::string_view IoControlName(std::uint32_t code);

inline constexpr int kMaxInstances = 8;

// A driver handle. Backends hand out positive values; the two below are never valid.
using DriverHandle = std::int64_t;
inline constexpr DriverHandle kNullHandle = 0;
inline constexpr DriverHandle kInvalidHandle = -1;

struct [[nodiscard]] IoResult {
    bool ok = false;
    std::uint32_t bytesReturned = 0;
};

class EzusbDriver {
public:
    virtual ~EzusbDriver() = default;

    // Opens device instance 0..7; kInvalidHandle when there is no such instance or it
    // cannot be opened.
    [[nodiscard]] virtual DriverHandle Open(int instance) = 0;
    // Closes a handle from Open. Unknown or already closed handles are ignored.
    virtual void Close(DriverHandle handle) = 0;
    // One synchronous I/O control. Fails (ok = false) for a handle that is not open.
    // For IOCTL_EZUSB_BULK_WRITE the data to send travels in `output` and is only read.
    virtual IoResult IoControl(DriverHandle handle, std::uint32_t code,
                               std::span<const std::uint8_t> input,
                               std::span<std::uint8_t> output) = 0;

    // What the backend can tell about instance n without opening it (bus position, USB
    // ID), for listings; empty when it has no such instance.
    [[nodiscard]] virtual std::string DescribeInstance(int instance) {
        (void)instance;
        return {};
    }

    // The first failure the backend met since the last call, in its own words
    // ("... LIBUSB_ERROR_TIMEOUT ..."), for messages; empty when none or it cannot tell.
    [[nodiscard]] virtual std::string TakeError() { return {}; }
};

} // namespace pulsara
