#pragma once
// The capture data shared by every part of the program: settings, sample memory,
// channel rows and the definition text, held together in one Capture record.

#include <array>
#include <cstddef>
#include <cstdint>

namespace pulsara {

inline constexpr int kSampleCount = 32768;
inline constexpr std::size_t kSampleMemoryBytes = 131072;
inline constexpr int kMaxRows = 64;
inline constexpr int kMaxProbesPerRow = 32;
inline constexpr int kMaxNameLength = 12;
inline constexpr std::size_t kDefinitionTextSize = 16384;
// The longest line ReadLine copies; its buffer holds one more byte for the NUL.
inline constexpr int kMaxLineLength = 1023;

// The horizontal scroll bar's range: two samples per unit.
inline constexpr std::int32_t kHorizontalScrollMin = -8190;
inline constexpr std::int32_t kHorizontalScrollMax = 8158;

[[nodiscard]] constexpr std::int32_t ClampHorizontalPos(std::int32_t h) {
    return h < kHorizontalScrollMin ? kHorizontalScrollMin
                                    : (h > kHorizontalScrollMax ? kHorizontalScrollMax : h);
}

struct CaptureSettings {
    std::int32_t rateIndex = 0;
    std::int32_t triggerPosition = 0;
    std::int32_t triggerCondition = 0;
    std::int32_t triggerProbe = 0;
    // Two-sample units at the start of the memory that hold no captured data.
    std::uint16_t unfilledPairs = 0;
    std::int32_t savedScrollPos = 0;

    friend bool operator==(const CaptureSettings&, const CaptureSettings&) = default;
};

// 32768 samples of 32 bits, little-endian, probe p in bit p.
using SampleMemory = std::array<std::uint8_t, kSampleMemoryBytes>;

struct ChannelRow {
    // At most 12 characters and a NUL. Bytes as in the definition text (Shift-JIS).
    std::array<char, kMaxNameLength + 1> name{};
    std::int32_t probeCount = 0;
    std::array<std::uint8_t, kMaxProbesPerRow> probes{};
};

struct ChannelTable {
    std::array<ChannelRow, kMaxRows> rows{};
    std::int32_t rowCount = 0;
};

// NUL-terminated, so at most 16383 characters of text.
using DefinitionText = std::array<char, kDefinitionTextSize>;

// One record for all program-wide capture data; the application owns exactly one.
// It is about 150 KiB, so keep it on the heap (std::make_unique<Capture>()).
struct Capture {
    CaptureSettings settings{};
    SampleMemory samples{};
    ChannelTable channels{};
    DefinitionText definition{};
};

} // namespace pulsara
