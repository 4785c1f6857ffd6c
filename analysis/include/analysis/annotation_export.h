#pragma once
// Decoded annotations as files: RFC 4180 CSV with times from the trigger sample, and JSON
// lines. `pulsara-cli decode --csv/--json` and the decoded table's "Export..." write the
// same lines through these.

#include "analysis/decode.h"
#include "capture/capture.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pulsara::analysis {

// What the time columns count from and with: empty columns when either is unknown.
struct AnnotationClock {
    std::optional<int> triggerSample;
    std::uint64_t samplerate = 0; // samples per second; 0: unknown

    // Seconds from the trigger sample as a plain decimal ("-0.00000024", "0.0015"), or "".
    [[nodiscard]] std::string SecondsAt(std::uint64_t sample) const;
};

// The capture's trigger sample and rate, the rate replaced by `samplerate` when given
// (decode --samplerate).
[[nodiscard]] AnnotationClock ClockFor(const CaptureSettings& settings,
                                       std::optional<std::uint64_t> samplerate = std::nullopt);

inline constexpr std::string_view kAnnotationCsvHeader =
    "start_sample,end_sample,start_s,end_s,decoder,class,row,text\r\n";

// One CSV record, CR LF at its end: the longest text, quoted when it holds a comma, a quote
// or a line break.
[[nodiscard]] std::string AnnotationCsvLine(const Annotation& a, const AnnotationClock& clock);

// One JSON object on one line (no line break at its end): start, end, instance, decoder,
// class, row (null when none) and every text.
[[nodiscard]] std::string AnnotationJsonLine(const Annotation& a);

} // namespace pulsara::analysis
