#pragma once
// Which probe a user means by a signal name, and which samples of a capture hold data.

#include "analysis/result.h"
#include "capture/capture.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pulsara::analysis {

struct Signal {
    std::string name; // as the user wrote it
    int probe = 0;    // 0..31
};

// Turns a row name's bytes (Shift-JIS in definition texts) into the text a user types.
// Without one, names are matched and listed as raw bytes.
using NameDecoder = std::function<std::string(std::string_view)>;

// A one-probe row by its name, a bus row's j-th probe as NAME[j], or a bare probe number
// 0..31; a row name wins over a number. The error lists the names there are.
[[nodiscard]] Result<Signal> ResolveSignal(const ChannelTable& channels, std::string_view text,
                                           const NameDecoder& decodeName = {});

// A row's name as the user types it: decoded, without the line end a name-only line keeps.
[[nodiscard]] std::string RowName(const ChannelRow& row, const NameDecoder& decodeName = {});

// Every name ResolveSignal accepts besides the probe numbers, in row order.
[[nodiscard]] std::vector<std::string> SignalNames(const ChannelTable& channels,
                                                   const NameDecoder& decodeName = {});

// The row named `text` (a one-probe row or a bus), by its index; nothing when no row is.
[[nodiscard]] std::optional<int> FindRow(const ChannelTable& channels, std::string_view text,
                                         const NameDecoder& decodeName = {});

// The first sample that holds captured data: the 2 x unfilledPairs before it were cleared.
[[nodiscard]] int FirstCapturedSample(const CaptureSettings& settings);

// The sample the trigger stands at for the capture's trigger position (TOP, CENTER, LAST):
// 24, 16378 or 32728, as the ruler counts from it; nothing for a position outside that table.
[[nodiscard]] std::optional<int> TriggerSample(const CaptureSettings& settings);

// Nanoseconds from the trigger sample to `sample` (negative before it); nothing for EXT or
// an unknown trigger position.
[[nodiscard]] std::optional<double> NsFromTrigger(const CaptureSettings& settings, int sample);

// Nanoseconds per sample, or nothing for the external clock (or a rate index outside the
// table), whose period is unknown.
[[nodiscard]] std::optional<double> SamplePeriodNs(const CaptureSettings& settings);

// Samples per second of the capture's rate, rounded to whole hertz; nothing for EXT.
[[nodiscard]] std::optional<std::uint64_t> SampleRateHz(const CaptureSettings& settings);

} // namespace pulsara::analysis
