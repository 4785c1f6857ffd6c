#pragma once
// The four label tables that fill the main window's combo boxes, and the sample period
// of each rate. An index into a table is also the value of its CaptureSettings field.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace pulsara {

inline constexpr std::array<std::string_view, 16> rateLabels = {
    "100MHz",  "50MHz", "25MHz", "16.6MHz", "12.5MHz", "10MHz", "8.3MHz", "5MHz",
    "3.84MHz", "2MHz",  "1MHz",  "500KHz",  "100KHz",  "10KHz", "1KHz",   "EXT",
};

// Nanoseconds per sample for each rate index; EXT counts as 1 ns.
inline constexpr std::array<float, 16> samplePeriodNs = {
    10.0F,  20.0F,  40.0F,   60.0F,   80.0F,    100.0F,    120.0F,     200.0F,
    260.0F, 500.0F, 1000.0F, 2000.0F, 10000.0F, 100000.0F, 1000000.0F, 1.0F,
};

inline constexpr std::array<std::string_view, 3> triggerPositionLabels = {"TOP", "CENTER", "LAST"};

// Rising edge, falling edge, high, low: U+2191, U+2193, U+FF28, U+FF2C in UTF-8.
inline constexpr std::array<std::string_view, 4> triggerConditionLabels = {"\u2191", "\u2193",
                                                                           "\uFF28", "\uFF2C"};

inline constexpr std::array<std::string_view, 16> triggerProbeLabels = {
    "PROBE00", "PROBE01", "PROBE02", "PROBE03", "PROBE04", "PROBE05", "PROBE06", "PROBE07",
    "PROBE08", "PROBE09", "PROBE10", "PROBE11", "PROBE12", "PROBE13", "PROBE14", "HDL",
};

// The label at index, or nothing when the index lies outside the table (a settings
// line may name any number).
template <std::size_t N>
[[nodiscard]] constexpr std::optional<std::string_view>
LabelAt(const std::array<std::string_view, N>& table, std::int32_t index) {
    if (index < 0 || static_cast<std::size_t>(index) >= N) {
        return std::nullopt;
    }
    return table[static_cast<std::size_t>(index)];
}

// The index of a label, or nothing when no entry matches exactly.
template <std::size_t N>
[[nodiscard]] constexpr std::optional<std::int32_t>
IndexOfLabel(const std::array<std::string_view, N>& table, std::string_view label) {
    for (std::size_t i = 0; i < N; ++i) {
        if (table[i] == label) {
            return static_cast<std::int32_t>(i);
        }
    }
    return std::nullopt;
}

} // namespace pulsara
