#include "sim/board/signal_generator.h"

namespace pulsara::sim {
namespace {

std::uint32_t Bit(bool level, int probe) {
    return level ? (std::uint32_t{1} << probe) : 0;
}

// 8N1, idle high: start bit, eight data bits LSB first, stop bit, then idle to the frame end.
bool UartLevel(std::uint64_t offset) {
    const std::uint64_t bit = offset * kUartBaud / 1'000'000'000;
    const std::uint64_t index = bit / 10;
    if (index >= kUartText.size()) {
        return true;
    }
    const std::uint64_t within = bit % 10;
    if (within == 0) {
        return false;
    }
    if (within == 9) {
        return true;
    }
    return ((static_cast<unsigned char>(kUartText[index]) >> (within - 1)) & 1) != 0;
}

constexpr std::uint64_t kSpiLeadNs = 500;
constexpr std::uint64_t kSpiBits = 8 * sizeof kSpiMosiBytes;

// Mode 0: the select falls half a bit before the first rising clock edge, data change
// while the clock is low.
std::uint32_t SpiLevels(std::uint64_t offset) {
    constexpr std::uint64_t kLength = kSpiLeadNs + kSpiBits * kSpiBitNs + kSpiLeadNs;
    if (offset < kSpiStartNs || offset >= kSpiStartNs + kLength) {
        return Bit(true, probe::kSpiSelect) | Bit(true, probe::kSpiMiso);
    }
    const std::uint64_t t = offset - kSpiStartNs;
    const bool inBits = t >= kSpiLeadNs && t < kSpiLeadNs + kSpiBits * kSpiBitNs;
    std::uint64_t bit = 0;
    if (t >= kSpiLeadNs) {
        bit = inBits ? (t - kSpiLeadNs) / kSpiBitNs : kSpiBits - 1;
    }
    const bool clock = inBits && (t - kSpiLeadNs) % kSpiBitNs >= kSpiBitNs / 2;
    const auto level = [&](const std::uint8_t* bytes) {
        return ((bytes[bit / 8] >> (7 - bit % 8)) & 1) != 0;
    };
    return Bit(clock, probe::kSpiClock) | Bit(level(kSpiMosiBytes), probe::kSpiMosi) |
           Bit(level(kSpiMisoBytes), probe::kSpiMiso);
}

// Slot 0 is the start condition, slots 1-27 three bytes with their ACKs, slot 28 the stop.
// Within a data slot SCL is low for the first half; SDA changes a quarter into the slot.
bool I2cDataBit(std::uint64_t slot) {
    const std::uint64_t i = slot - 1;
    const std::uint64_t byte = i / 9;
    if (i % 9 == 8) {
        return false; // ACK
    }
    const std::uint8_t value =
        byte == 0 ? static_cast<std::uint8_t>(kI2cAddress << 1) : kI2cBytes[byte - 1];
    return ((value >> (7 - i % 9)) & 1) != 0;
}

std::uint32_t I2cLevels(std::uint64_t offset) {
    constexpr std::uint64_t kDataSlots = 9 * (1 + sizeof kI2cBytes);
    constexpr std::uint64_t kSlots = kDataSlots + 2;
    bool scl = true;
    bool sda = true;
    if (offset >= kI2cStartNs && offset < kI2cStartNs + kSlots * kI2cBitNs) {
        const std::uint64_t t = offset - kI2cStartNs;
        const std::uint64_t slot = t / kI2cBitNs;
        const std::uint64_t q = t % kI2cBitNs;
        if (slot == 0) {
            sda = q < kI2cBitNs / 2; // falls while SCL is high: START
        } else {
            scl = q >= kI2cBitNs / 2;
            const bool before = slot == 1 ? false : I2cDataBit(slot - 1);
            if (slot <= kDataSlots) {
                sda = q < kI2cBitNs / 4 ? before : I2cDataBit(slot);
            } else {
                sda = q < kI2cBitNs / 4 ? before : q >= kI2cBitNs * 3 / 4; // rises: STOP
            }
        }
    }
    return Bit(scl, probe::kI2cScl) | Bit(sda, probe::kI2cSda);
}

} // namespace

std::uint32_t ProbesAt(std::uint64_t ns) {
    const std::uint64_t offset = ns % kSignalFrameNs;
    const std::uint64_t duty = (ns / kPwmPeriodNs) % 100;
    return static_cast<std::uint32_t>((ns / kCounterStepNs) & 0xFFFF) |
           Bit(ns % 1000 < 500, probe::kClock1MHz) | Bit(UartLevel(offset), probe::kUartTx) |
           SpiLevels(offset) | I2cLevels(offset) |
           Bit(ns % kPwmPeriodNs < duty * (kPwmPeriodNs / 100), probe::kPwm) |
           Bit(ns % kRareEventPeriodNs - kRareEventAtNs < kRareEventWidthNs, probe::kRareEvent);
}

} // namespace pulsara::sim
