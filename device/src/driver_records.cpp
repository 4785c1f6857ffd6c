#include "device/driver_records.h"
#include "device/ezusb_driver.h"

namespace pulsara {
namespace {

void Put16(std::uint8_t* at, std::uint16_t v) {
    at[0] = static_cast<std::uint8_t>(v & 0xFFU);
    at[1] = static_cast<std::uint8_t>(v >> 8);
}

std::uint16_t Get16(const std::uint8_t* at) {
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

} // namespace

std::string_view IoControlName(std::uint32_t code) {
    switch (code) {
    case IOCTL_Ezusb_VENDOR_REQUEST:
        return "IOCTL_Ezusb_VENDOR_REQUEST";
    case IOCTL_Ezusb_ANCHOR_DOWNLOAD:
        return "IOCTL_Ezusb_ANCHOR_DOWNLOAD";
    case IOCTL_Ezusb_GET_STRING_DESCRIPTOR:
        return "IOCTL_Ezusb_GET_STRING_DESCRIPTOR";
    case IOCTL_EZUSB_BULK_WRITE:
        return "IOCTL_EZUSB_BULK_WRITE";
    case IOCTL_EZUSB_BULK_READ:
        return "IOCTL_EZUSB_BULK_READ";
    default:
        return "IOCTL_UNKNOWN";
    }
}

std::array<std::uint8_t, kVendorRequestInSize> Encode(const VendorRequestIn& r) {
    std::array<std::uint8_t, kVendorRequestInSize> out{};
    out[0] = r.request;
    Put16(&out[2], r.value);
    Put16(&out[4], r.index);
    Put16(&out[6], r.length);
    out[8] = r.direction;
    out[9] = r.data;
    return out;
}

std::array<std::uint8_t, kGetStringDescriptorInSize> Encode(const GetStringDescriptorIn& r) {
    std::array<std::uint8_t, kGetStringDescriptorInSize> out{};
    out[0] = r.index;
    Put16(&out[2], r.languageId);
    return out;
}

std::array<std::uint8_t, kBulkTransferControlSize> Encode(const BulkTransferControl& r) {
    std::array<std::uint8_t, kBulkTransferControlSize> out{};
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<std::uint8_t>((r.pipeNumber >> (8 * i)) & 0xFFU);
    }
    return out;
}

std::optional<VendorRequestIn> DecodeVendorRequestIn(std::span<const std::uint8_t> in) {
    if (in.size() < kVendorRequestInSize) {
        return std::nullopt;
    }
    return VendorRequestIn{in[0], Get16(&in[2]), Get16(&in[4]), Get16(&in[6]), in[8], in[9]};
}

std::optional<GetStringDescriptorIn> DecodeGetStringDescriptorIn(std::span<const std::uint8_t> in) {
    if (in.size() < kGetStringDescriptorInSize) {
        return std::nullopt;
    }
    return GetStringDescriptorIn{in[0], Get16(&in[2])};
}

std::optional<BulkTransferControl> DecodeBulkTransferControl(std::span<const std::uint8_t> in) {
    if (in.size() < kBulkTransferControlSize) {
        return std::nullopt;
    }
    std::uint32_t pipe = 0;
    for (std::size_t i = 0; i < kBulkTransferControlSize; ++i) {
        pipe |= static_cast<std::uint32_t>(in[i]) << (8 * i);
    }
    return BulkTransferControl{pipe};
}

} // namespace pulsara
