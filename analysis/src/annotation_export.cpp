#include "analysis/annotation_export.h"

#include "analysis/signal.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace pulsara::analysis {
namespace {

// RFC 4180: a field with a comma, a quote or a line break is quoted, its quotes doubled.
std::string CsvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + '"';
}

} // namespace

std::string AnnotationClock::SecondsAt(std::uint64_t sample) const {
    if (!triggerSample || samplerate == 0) {
        return {};
    }
    const auto fromTrigger =
        static_cast<double>(static_cast<std::int64_t>(sample) - *triggerSample);
    // To the picosecond: finer than any rate, and no exponent for a spreadsheet to misread.
    char text[64];
    std::snprintf(text, sizeof text, "%.12f", fromTrigger / static_cast<double>(samplerate));
    std::string out = text;
    while (out.ends_with('0')) {
        out.pop_back();
    }
    if (out.ends_with('.')) {
        out.pop_back();
    }
    return out == "-0" ? "0" : out;
}

AnnotationClock ClockFor(const CaptureSettings& settings, std::optional<std::uint64_t> samplerate) {
    return {TriggerSample(settings), samplerate.value_or(SampleRateHz(settings).value_or(0))};
}

std::string AnnotationCsvLine(const Annotation& a, const AnnotationClock& clock) {
    std::string line = std::to_string(a.start) + ',' + std::to_string(a.end) + ',' +
                       clock.SecondsAt(a.start) + ',' + clock.SecondsAt(a.end) + ',';
    line += CsvField(a.decoder) + ',' + CsvField(a.className) + ',' + CsvField(a.row.value_or("")) +
            ',' +
            CsvField(a.texts.empty() ? std::string_view() : std::string_view(a.texts.front()));
    return line + "\r\n";
}

std::string AnnotationJsonLine(const Annotation& a) {
    using Json = nlohmann::ordered_json;
    const Json json{{"start", a.start},       {"end", a.end},
                    {"instance", a.instance}, {"decoder", a.decoder},
                    {"class", a.className},   {"row", a.row ? Json(*a.row) : Json(nullptr)},
                    {"texts", a.texts}};
    return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

} // namespace pulsara::analysis
