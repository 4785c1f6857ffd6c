// pulsara-cli measure: edge statistics of one signal and, at a sample, its pulse and period.

#include "analysis/measure.h"
#include "analysis/signal.h"
#include "capture/labels.h"
#include "cli/commands.h"
#include "cli/startup.h"
#include "text_codec.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <iomanip>
#include <ostream>
#include <sstream>

namespace pulsara::cli {
namespace {

using analysis::PointMeasurement;
using analysis::SignalMeasurement;
using Json = nlohmann::ordered_json;

struct MeasureOptions {
    std::optional<std::filesystem::path> definition;
    std::filesystem::path capturePath;
    std::string signal;
    std::optional<int> at;
    bool json = false;
};

template <typename T> Json OrNull(const std::optional<T>& value) {
    return value ? Json(*value) : Json(nullptr);
}

Json RangeJson(const analysis::PulseRange& range) {
    return {{"minSamples", OrNull(range.minSamples)}, {"maxSamples", OrNull(range.maxSamples)}};
}

Json AtJson(const PointMeasurement& m) {
    return {{"sample", m.sample},
            {"level", m.level},
            {"pulse",
             {{"start", OrNull(m.pulse.start)},
              {"end", OrNull(m.pulse.end)},
              {"samples", OrNull(m.pulse.samples)},
              {"ns", OrNull(m.pulse.ns)}}},
            {"period",
             {{"start", OrNull(m.period.start)},
              {"end", OrNull(m.period.end)},
              {"samples", OrNull(m.period.samples)},
              {"ns", OrNull(m.period.ns)},
              {"hz", OrNull(m.period.hz)},
              {"duty", OrNull(m.period.duty)}}}};
}

std::string Text(const std::optional<int>& value) {
    return value ? std::to_string(*value) : std::string("-");
}

// Fixed-point with at most `decimals` places and no trailing zeros: 1000000, 66666.667.
std::string Number(double value, int decimals = 3) {
    std::ostringstream out;
    out << std::fixed << std::setprecision(decimals) << value;
    std::string text = out.str();
    if (text.find('.') != std::string::npos) {
        text.erase(text.find_last_not_of('0') + 1);
        if (text.back() == '.') {
            text.pop_back();
        }
    }
    return text;
}

std::string Duration(const std::optional<int>& samples, const std::optional<double>& periodNs) {
    if (!samples) {
        return "-";
    }
    std::string text = std::to_string(*samples) + " samples";
    if (periodNs) {
        text += " (" + Number(*samples * *periodNs) + " ns)";
    }
    return text;
}

void PrintText(std::ostream& out, const analysis::Signal& signal, const Capture& capture,
               const SignalMeasurement& m, const std::optional<PointMeasurement>& at) {
    const auto periodNs = analysis::SamplePeriodNs(capture.settings);
    const auto range = [&](const analysis::PulseRange& r) {
        return r.minSamples
                   ? Duration(r.minSamples, periodNs) + " to " + Duration(r.maxSamples, periodNs)
                   : std::string("none complete");
    };
    out << "signal        " << signal.name << " (probe " << signal.probe << ")\n"
        << "sample period "
        << (periodNs ? Number(*periodNs) + " ns" : std::string("unknown (external clock)")) << "\n"
        << "data          samples " << analysis::FirstCapturedSample(capture.settings) << " to "
        << kSampleCount - 1 << "\n"
        << "edges         " << m.rising << " rising, " << m.falling << " falling\n"
        << "high pulses   " << range(m.high) << "\n"
        << "low pulses    " << range(m.low) << "\n"
        << "mean period   "
        << (m.meanPeriodSamples ? Number(*m.meanPeriodSamples) + " samples" : std::string("-"));
    if (m.meanFrequencyHz) {
        out << " (" << Number(*m.meanFrequencyHz) << " Hz)";
    }
    out << "\n";
    if (!at) {
        return;
    }
    out << "at sample     " << at->sample << ": level " << at->level << "\n"
        << "  pulse       " << Text(at->pulse.start) << " to " << Text(at->pulse.end) << ", "
        << Duration(at->pulse.samples, periodNs) << "\n"
        << "  period      " << Text(at->period.start) << " to " << Text(at->period.end) << ", "
        << Duration(at->period.samples, periodNs);
    if (at->period.hz) {
        out << ", " << Number(*at->period.hz) << " Hz";
    }
    if (at->period.duty) {
        out << ", duty " << Number(*at->period.duty * 100, 1) << " %";
    }
    out << "\n";
}

} // namespace

void AddMeasureCommand(CLI::App& app, CommandContext& context) {
    auto options = std::make_shared<MeasureOptions>();
    auto* cmd = app.add_subcommand(
        "measure", "Edge counts, pulse widths and frequency of one signal; its pulse and "
                   "period at a sample");
    cmd->add_option("--def", options->definition, "definition text to start with");
    cmd->add_option("capture", options->capturePath, "capture file (.wfa)")->required();
    cmd->add_option("--signal,-s", options->signal,
                    "a row name, a bus row's probe as NAME[j], or a probe number 0-31")
        ->required();
    cmd->add_option("--at", options->at, "sample whose pulse and period to measure");
    cmd->add_flag("--json", options->json, "print one JSON object");
    cmd->callback([options, &context] {
        LoadResult load;
        const auto capture =
            StartUpAndLoad(options->definition, options->capturePath, context, load);
        if (!capture) {
            return;
        }
        const auto signal =
            analysis::ResolveSignal(capture->channels, options->signal, ShiftJisToUtf8);
        if (!signal) {
            context.err << "pulsara-cli: " << signal.error() << "\n";
            context.exitCode = 1;
            return;
        }
        std::optional<PointMeasurement> at;
        if (options->at) {
            auto point = analysis::MeasureAt(*capture, *signal, *options->at);
            if (!point) {
                context.err << "pulsara-cli: " << point.error() << "\n";
                context.exitCode = 1;
                return;
            }
            at = std::move(point).value();
        }
        const auto summary = analysis::MeasureSignal(*capture, *signal);
        if (!options->json) {
            PrintText(context.out, *signal, *capture, summary, at);
            return;
        }
        Json json;
        json["signal"] = signal->name;
        json["probe"] = signal->probe;
        // Every period in the rate table is whole nanoseconds; print it as such.
        const auto periodNs = analysis::SamplePeriodNs(capture->settings);
        json["samplePeriodNs"] =
            periodNs ? Json(static_cast<std::int64_t>(*periodNs)) : Json(nullptr);
        json["edges"] = {{"rising", summary.rising}, {"falling", summary.falling}};
        json["highPulse"] = RangeJson(summary.high);
        json["lowPulse"] = RangeJson(summary.low);
        json["meanFrequencyHz"] = OrNull(summary.meanFrequencyHz);
        json["at"] = at ? AtJson(*at) : Json(nullptr);
        context.out << json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    });
}

} // namespace pulsara::cli
