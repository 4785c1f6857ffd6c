#pragma once
// Fixed points of the firmware image and the firmware's state in the chip's RAM, for
// whatever inspects a running board (the simulator, tests, tools).

#include <cstdint>

namespace pulsara::fw {

// Code-space addresses (equal to image offsets).
inline constexpr std::uint16_t kResetVector = 0x0000;
inline constexpr std::uint16_t kResumeVector = 0x0033;
inline constexpr std::uint16_t kUsbVector = 0x0043;
inline constexpr std::uint16_t kDescriptorTable = 0x0978; // device, configuration, strings
inline constexpr std::uint16_t kDescriptorTableEnd = 0x0A18;
inline constexpr std::uint16_t kUsbJumpTable = 0x0B00; // 22 slots of LJMP + 0x00
inline constexpr int kUsbJumpSlots = 22;
inline constexpr std::uint8_t kUnusedFill = 0xAA;

// External-data state, above the image.
inline constexpr std::uint16_t kPacketsLeft = 0x1000; // 16 bits, high byte first
inline constexpr std::uint16_t kTailBytes = 0x1002;
inline constexpr std::uint16_t kDirection = 0x1003;       // 0 block read, 1 block write
inline constexpr std::uint16_t kUnfilledCounter = 0x1004; // 32 bits, most significant first

// String descriptors 1 and 2, which the host reads to recognise this firmware.
inline constexpr const char* kManufacturerText = "WFFW";
inline constexpr const char* kProductText = "V100";

} // namespace pulsara::fw
