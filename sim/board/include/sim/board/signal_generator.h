#pragma once
// What the simulated board's 32 probes see at a moment of board time. Probes 0-15 are a
// 16-bit binary counter that counts up every 10 ns, so two samples P ns apart differ by
// P / 10 (mod 65536): a self-test anyone can run on a capture. Probes 16-31 carry signals
// a user recognises; their pattern repeats every millisecond, except probe 25's rare event,
// which a short capture holds only now and then (so capture-until has something to wait for).

#include <cstdint>
#include <string_view>

namespace pulsara::sim {

namespace probe {
inline constexpr int kCounterBits = 16; // probes 0-15
inline constexpr int kClock1MHz = 16;
inline constexpr int kUartTx = 17; // 115200 baud, 8N1, "pulsara\r\n"
inline constexpr int kSpiClock = 18;
inline constexpr int kSpiMosi = 19;
inline constexpr int kSpiSelect = 20; // active low
inline constexpr int kSpiMiso = 21;
inline constexpr int kI2cScl = 22;
inline constexpr int kI2cSda = 23;
inline constexpr int kPwm = 24;       // 100 kHz, duty 0..99 % stepping 1 % each period
inline constexpr int kRareEvent = 25; // high for 2 us once every 8 ms of board time
} // namespace probe

inline constexpr std::uint64_t kCounterStepNs = 10;
inline constexpr std::uint64_t kSignalFrameNs = 1'000'000;
inline constexpr std::string_view kUartText = "pulsara\r\n";
inline constexpr std::uint32_t kUartBaud = 115200;
// Frame offsets at which each transfer begins.
inline constexpr std::uint64_t kSpiStartNs = 100'000;
inline constexpr std::uint64_t kI2cStartNs = 300'000;
// SPI: mode 0, MSB first, 1 MHz; a JEDEC "read ID" and its answer.
inline constexpr std::uint8_t kSpiMosiBytes[4] = {0x9F, 0x00, 0x00, 0x00};
inline constexpr std::uint8_t kSpiMisoBytes[4] = {0xFF, 0xC2, 0x20, 0x18};
inline constexpr std::uint64_t kSpiBitNs = 1000;
// I2C: 100 kHz, a write of register 0x10 = 0x42 to device 0x50, every byte ACKed.
inline constexpr std::uint8_t kI2cAddress = 0x50;
inline constexpr std::uint8_t kI2cBytes[2] = {0x10, 0x42};
inline constexpr std::uint64_t kI2cBitNs = 10'000;
inline constexpr std::uint64_t kPwmPeriodNs = 10'000;
// The rare event: high from 5 ms into every 8 ms for 2 us; 8 ms divides the 2.048 s in
// which the other signals repeat, so the board's whole pattern still does. A capture at
// 10MHz (3.3 ms) holds it about two times in five, one at 100MHz (0.33 ms) about one time
// in twenty-four.
inline constexpr std::uint64_t kRareEventPeriodNs = 8'000'000;
inline constexpr std::uint64_t kRareEventAtNs = 5'000'000;
inline constexpr std::uint64_t kRareEventWidthNs = 2'000;

// All 32 probes at board time `ns` (bit p = probe p).
[[nodiscard]] std::uint32_t ProbesAt(std::uint64_t ns);

} // namespace pulsara::sim
