#include "default_device.h"

#include "sim/ezusb/ezusb.h"

namespace pulsara::sim {

std::vector<std::uint8_t> DefaultDeviceDescriptor(std::uint16_t vendorId, std::uint16_t productId,
                                                  std::uint16_t deviceId) {
    auto lo = [](std::uint16_t v) { return static_cast<std::uint8_t>(v); };
    auto hi = [](std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); };
    return {18,
            1,
            0x00,
            0x01,
            0xFF,
            0xFF,
            0xFF,
            64,
            lo(vendorId),
            hi(vendorId),
            lo(productId),
            hi(productId),
            lo(deviceId),
            hi(deviceId),
            0,
            0,
            0,
            1};
}

std::vector<std::uint8_t> DefaultConfigurationDescriptor() {
    std::vector<std::uint8_t> d = {9, 2, 0, 0, 1, 1, 0, 0x80, 0x32};
    for (std::uint8_t alt = 0; alt < kDefaultAltSettings; ++alt) {
        const std::uint8_t endpoints = alt == 0 ? 0 : 13;
        const std::uint8_t intf[] = {9, 4, 0, alt, endpoints, 0xFF, 0xFF, 0xFF, 0};
        d.insert(d.end(), intf, intf + 9);
        if (alt == 0)
            continue;
        const std::uint8_t interrupt1[] = {7, 5, 0x81, 0x03, 64, 0, 10};
        d.insert(d.end(), interrupt1, interrupt1 + 7);
        for (std::uint8_t ep = 2; ep <= 7; ++ep) {
            for (std::uint8_t dir : {std::uint8_t{0x80}, std::uint8_t{0x00}}) {
                const std::uint8_t bulk[] = {7, 5, static_cast<std::uint8_t>(dir | ep), 0x02, 64,
                                             0, 0};
                d.insert(d.end(), bulk, bulk + 7);
            }
        }
    }
    d[2] = static_cast<std::uint8_t>(d.size());
    d[3] = static_cast<std::uint8_t>(d.size() >> 8);
    return d;
}

} // namespace pulsara::sim
