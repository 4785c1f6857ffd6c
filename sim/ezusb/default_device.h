#pragma once
// The descriptors the USB core serves by itself while RENUM=0 (no firmware answering).

#include <cstdint>
#include <vector>

namespace pulsara::sim {

// Interface 0 has three alternate settings: 0 without endpoints, 1 and 2 with them.
inline constexpr std::uint8_t kDefaultAltSettings = 3;

// bcdDevice of the default device is not documented: 0x0000 is a choice.
[[nodiscard]] std::vector<std::uint8_t>
DefaultDeviceDescriptor(std::uint16_t vendorId, std::uint16_t productId, std::uint16_t deviceId);
// 218 bytes in all, as the chip reports; the endpoint lists of alternate settings 1 and 2
// are a choice (the chip's are not documented): bulk 2-7 IN and OUT plus interrupt 1 IN.
[[nodiscard]] std::vector<std::uint8_t> DefaultConfigurationDescriptor();

} // namespace pulsara::sim
