#pragma once
// The driver's binary input records, little-endian with natural alignment, and their
// decoders for backends.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace pulsara {

inline constexpr std::uint8_t kFirmwareLoadRequest = 0xA0;
inline constexpr std::uint16_t kCpucsAddress = 0x7F92;

// VENDOR_REQUEST_IN, 10 bytes.
struct VendorRequestIn {
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint16_t length = 0;
    std::uint8_t direction = 0; // 0: host to device
    std::uint8_t data = 0;

    friend bool operator==(const VendorRequestIn&, const VendorRequestIn&) = default;
};
inline constexpr std::size_t kVendorRequestInSize = 10;

// GET_STRING_DESCRIPTOR_IN, 4 bytes.
struct GetStringDescriptorIn {
    std::uint8_t index = 0;
    std::uint16_t languageId = 0;

    friend bool operator==(const GetStringDescriptorIn&, const GetStringDescriptorIn&) = default;
};
inline constexpr std::size_t kGetStringDescriptorInSize = 4;

// BULK_TRANSFER_CONTROL, 4 bytes.
struct BulkTransferControl {
    std::uint32_t pipeNumber = 0;

    friend bool operator==(const BulkTransferControl&, const BulkTransferControl&) = default;
};
inline constexpr std::size_t kBulkTransferControlSize = 4;

// Padding bytes are written as 0.
[[nodiscard]] std::array<std::uint8_t, kVendorRequestInSize> Encode(const VendorRequestIn& r);
[[nodiscard]] std::array<std::uint8_t, kGetStringDescriptorInSize>
Encode(const GetStringDescriptorIn& r);
[[nodiscard]] std::array<std::uint8_t, kBulkTransferControlSize>
Encode(const BulkTransferControl& r);

// Nothing when the input is shorter than the record.
[[nodiscard]] std::optional<VendorRequestIn>
DecodeVendorRequestIn(std::span<const std::uint8_t> in);
[[nodiscard]] std::optional<GetStringDescriptorIn>
DecodeGetStringDescriptorIn(std::span<const std::uint8_t> in);
[[nodiscard]] std::optional<BulkTransferControl>
DecodeBulkTransferControl(std::span<const std::uint8_t> in);

} // namespace pulsara
