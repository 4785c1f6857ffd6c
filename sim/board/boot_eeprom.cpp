#include "sim/board/board.h"

#include <algorithm>
#include <array>

namespace pulsara::sim {
namespace {

// Product string descriptor of our firmware: "V100" as UTF-16LE.
constexpr std::array<std::uint8_t, 10> kProductDescriptor = {10, 3, 'V', 0, '1', 0, '0', 0, '0', 0};
// B2 records carry 10-bit lengths.
constexpr std::size_t kRecordMax = 1023;

} // namespace

std::optional<std::vector<std::uint8_t>> BootEeprom(std::span<const std::uint8_t> image,
                                                    std::string_view product) {
    if (image.empty() || image.size() > kEzusbRamEnd) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> code(image.begin(), image.end());
    if (!product.empty()) {
        const auto at = std::search(code.begin(), code.end(), kProductDescriptor.begin(),
                                    kProductDescriptor.end());
        if (at == code.end() || product.size() != 4) {
            return std::nullopt;
        }
        for (std::size_t i = 0; i < product.size(); ++i) {
            *(at + 2 + 2 * static_cast<std::ptrdiff_t>(i)) = static_cast<std::uint8_t>(product[i]);
        }
    }
    // Header: type, VID, PID, DID (little-endian).
    std::vector<std::uint8_t> e = {0xB2, 0x47, 0x05, 0x31, 0x21, 0x01, 0x00};
    for (std::size_t off = 0; off < code.size(); off += kRecordMax) {
        const std::size_t n = std::min(kRecordMax, code.size() - off);
        e.push_back(static_cast<std::uint8_t>(n >> 8));
        e.push_back(static_cast<std::uint8_t>(n));
        e.push_back(static_cast<std::uint8_t>(off >> 8));
        e.push_back(static_cast<std::uint8_t>(off));
        e.insert(e.end(), code.begin() + static_cast<std::ptrdiff_t>(off),
                 code.begin() + static_cast<std::ptrdiff_t>(off + n));
    }
    // Last record: CPUCS = 0 releases the 8051.
    const std::uint8_t last[] = {0x80, 0x01, static_cast<std::uint8_t>(kEzusbCpucs >> 8),
                                 static_cast<std::uint8_t>(kEzusbCpucs), 0x00};
    e.insert(e.end(), std::begin(last), std::end(last));
    return e;
}

} // namespace pulsara::sim
