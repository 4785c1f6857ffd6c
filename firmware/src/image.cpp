#include "firmware/image.h"

namespace pulsara {

namespace detail {
extern const std::uint8_t kFirmwareImageData[kFirmwareImageSize];
} // namespace detail

std::span<const std::uint8_t, kFirmwareImageSize> FirmwareImage() {
    return std::span<const std::uint8_t, kFirmwareImageSize>(detail::kFirmwareImageData);
}

} // namespace pulsara
