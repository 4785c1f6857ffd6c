#include "analysis/signal.h"

#include "capture/labels.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

namespace pulsara::analysis {
namespace {

// A row line of a name alone keeps its CR LF in the name; nobody types that.
std::string_view NameBytes(const ChannelRow& row) {
    std::string_view name(row.name.data(), ::strnlen(row.name.data(), row.name.size()));
    while (!name.empty() && (name.back() == '\r' || name.back() == '\n')) {
        name.remove_suffix(1);
    }
    return name;
}

std::string Shown(std::string_view bytes, const NameDecoder& decodeName) {
    return decodeName ? decodeName(bytes) : std::string(bytes);
}

bool NameIs(std::string_view bytes, std::string_view text, const NameDecoder& decodeName) {
    return bytes == text || (decodeName && decodeName(bytes) == text);
}

int RowCount(const ChannelTable& channels) {
    return std::clamp(channels.rowCount, 0, kMaxRows);
}

std::optional<int> WholeNumber(std::string_view text) {
    int value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return value;
}

Result<Signal> ProbeOf(std::string_view text, int probe, std::string_view rowName) {
    if (probe > 31) {
        return Result<Signal>::Fail("\"" + std::string(text) + "\" shows probe " +
                                    std::to_string(probe) + " of row " + std::string(rowName) +
                                    ", which the board does not have; fix the definition text");
    }
    return Signal{std::string(text), probe};
}

} // namespace

std::string RowName(const ChannelRow& row, const NameDecoder& decodeName) {
    return Shown(NameBytes(row), decodeName);
}

std::vector<std::string> SignalNames(const ChannelTable& channels, const NameDecoder& decodeName) {
    std::vector<std::string> names;
    for (int r = 0; r < RowCount(channels); ++r) {
        const auto& row = channels.rows[static_cast<std::size_t>(r)];
        const std::string name = Shown(NameBytes(row), decodeName);
        if (row.probeCount == 1) {
            names.push_back(name);
        } else if (row.probeCount > 1) {
            names.push_back(name + "[0.." + std::to_string(row.probeCount - 1) + "]");
        }
    }
    return names;
}

Result<Signal> ResolveSignal(const ChannelTable& channels, std::string_view text,
                             const NameDecoder& decodeName) {
    // NAME[j]: the part before the last '[' names a bus row.
    std::optional<std::pair<std::string_view, int>> indexed;
    if (text.size() > 3 && text.back() == ']') {
        const auto open = text.rfind('[');
        if (open != std::string_view::npos && open > 0) {
            if (const auto j = WholeNumber(text.substr(open + 1, text.size() - open - 2))) {
                indexed.emplace(text.substr(0, open), *j);
            }
        }
    }
    for (int r = 0; r < RowCount(channels); ++r) {
        const auto& row = channels.rows[static_cast<std::size_t>(r)];
        const auto bytes = NameBytes(row);
        const int count = std::clamp(row.probeCount, 0, kMaxProbesPerRow);
        if (NameIs(bytes, text, decodeName)) {
            if (count == 1) {
                return ProbeOf(text, row.probes[0], text);
            }
            if (count == 0) {
                return Result<Signal>::Fail("row \"" + std::string(text) +
                                            "\" shows no probe; give it one in the "
                                            "definition text");
            }
            if (count > 1) {
                return Result<Signal>::Fail(
                    "\"" + std::string(text) + "\" is a bus of " + std::to_string(count) +
                    " probes; name one of them as " + std::string(text) + "[0] to " +
                    std::string(text) + "[" + std::to_string(count - 1) + "]");
            }
        }
        if (indexed && count > 1 && NameIs(bytes, indexed->first, decodeName)) {
            if (indexed->second < 0 || indexed->second >= count) {
                return Result<Signal>::Fail(
                    "bus " + std::string(indexed->first) + " has probes " +
                    std::string(indexed->first) + "[0] to " + std::string(indexed->first) + "[" +
                    std::to_string(count - 1) + "], not [" + std::to_string(indexed->second) + "]");
            }
            return ProbeOf(text, row.probes[static_cast<std::size_t>(indexed->second)],
                           indexed->first);
        }
    }
    if (const auto probe = WholeNumber(text); probe && *probe >= 0 && *probe <= 31) {
        return Signal{std::string(text), *probe};
    }
    std::string names;
    for (const auto& name : SignalNames(channels, decodeName)) {
        names += (names.empty() ? "" : ", ") + name;
    }
    return Result<Signal>::Fail(
        "no row is named \"" + std::string(text) + "\"; name one of the rows (" +
        (names.empty() ? std::string("there are none") : names) + ") or a probe number 0 to 31");
}

std::optional<int> FindRow(const ChannelTable& channels, std::string_view text,
                           const NameDecoder& decodeName) {
    for (int r = 0; r < RowCount(channels); ++r) {
        if (NameIs(NameBytes(channels.rows[static_cast<std::size_t>(r)]), text, decodeName)) {
            return r;
        }
    }
    return std::nullopt;
}

std::optional<int> TriggerSample(const CaptureSettings& settings) {
    static constexpr std::array<int, 3> kTriggerSamples = {24, 16378, 32728};
    if (settings.triggerPosition < 0 ||
        settings.triggerPosition >= static_cast<std::int32_t>(kTriggerSamples.size())) {
        return std::nullopt;
    }
    return kTriggerSamples[static_cast<std::size_t>(settings.triggerPosition)];
}

std::optional<double> NsFromTrigger(const CaptureSettings& settings, int sample) {
    const auto trigger = TriggerSample(settings);
    const auto period = SamplePeriodNs(settings);
    if (!trigger || !period) {
        return std::nullopt;
    }
    return static_cast<double>(sample - *trigger) * *period;
}

int FirstCapturedSample(const CaptureSettings& settings) {
    return std::min(2 * static_cast<int>(settings.unfilledPairs), kSampleCount);
}

std::optional<double> SamplePeriodNs(const CaptureSettings& settings) {
    const auto label = LabelAt(rateLabels, settings.rateIndex);
    if (!label || *label == "EXT") {
        return std::nullopt;
    }
    return static_cast<double>(samplePeriodNs[static_cast<std::size_t>(settings.rateIndex)]);
}

std::optional<std::uint64_t> SampleRateHz(const CaptureSettings& settings) {
    const auto period = SamplePeriodNs(settings);
    if (!period) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(std::llround(1e9 / *period));
}

} // namespace pulsara::analysis
