#pragma once
// The board's 8051 firmware image, embedded at build time from firmware/pulsara-fw.bin.
// The host downloads it whole to 8051 address 0 and releases the CPU.

#include <cstddef>
#include <cstdint>
#include <span>

namespace pulsara {

inline constexpr std::size_t kFirmwareImageSize = 4096;

[[nodiscard]] std::span<const std::uint8_t, kFirmwareImageSize> FirmwareImage();

} // namespace pulsara
