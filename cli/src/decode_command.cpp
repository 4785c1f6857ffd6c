// pulsara-cli decode: protocol decoders from libsigrokdecode over a capture, printing the
// annotations in sigrok-cli's --protocol-decoder-samplenum form, or as JSON.

#include "analysis/annotation_export.h"
#include "analysis/annotation_filter.h"
#include "analysis/decode.h"
#include "capture/capture_files.h"
#include "capture/session_file.h"
#include "cli/commands.h"
#include "cli/startup.h"
#include "text_codec.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ostream>

namespace pulsara::cli {
namespace {

using analysis::Annotation;
using analysis::DecoderInfo;
using Json = nlohmann::ordered_json;

struct DecodeOptions {
    std::optional<std::filesystem::path> definition;
    std::optional<std::filesystem::path> capturePath;
    std::vector<std::string> stacks;
    std::vector<std::string> annotations;
    std::optional<std::string> samplerate;
    bool json = false;
    bool csv = false;
    bool list = false;
};

std::string Dump(const Json& json) {
    return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// "115200", "10M", "2.5MHz", "100k": whole hertz, at least 1.
std::optional<std::uint64_t> ParseRate(const std::string& text) {
    if (text.empty() || (std::isdigit(static_cast<unsigned char>(text[0])) == 0)) {
        return std::nullopt;
    }
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    std::string unit(end);
    if (unit.size() >= 2 && (unit.ends_with("Hz") || unit.ends_with("hz"))) {
        unit.resize(unit.size() - 2);
    }
    if (unit == "k" || unit == "K") {
        value *= 1e3;
    } else if (unit == "M") {
        value *= 1e6;
    } else if (unit == "G") {
        value *= 1e9;
    } else if (!unit.empty()) {
        return std::nullopt;
    }
    if (!std::isfinite(value) || value < 1 || value > 1e12 || value != std::floor(value)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(value);
}

Json OptionJson(const analysis::OptionValue& value) {
    return std::visit([](const auto& v) { return Json(v); }, value);
}

Json DecoderJson(const DecoderInfo& d) {
    const auto channels = [](const std::vector<analysis::DecoderChannel>& list) {
        Json out = Json::array();
        for (const auto& ch : list) {
            out.push_back({{"id", ch.id}, {"name", ch.name}, {"desc", ch.desc}});
        }
        return out;
    };
    Json options = Json::array();
    for (const auto& o : d.options) {
        Json values = Json::array();
        for (const auto& v : o.values) {
            values.push_back(OptionJson(v));
        }
        options.push_back({{"id", o.id},
                           {"desc", o.desc},
                           {"default", OptionJson(o.defaultValue)},
                           {"values", values}});
    }
    Json classes = Json::array();
    for (const auto& a : d.annotations) {
        classes.push_back({{"id", a.id}, {"desc", a.desc}});
    }
    Json rows = Json::array();
    for (const auto& r : d.rows) {
        rows.push_back({{"id", r.id}, {"desc", r.desc}, {"classes", r.classes}});
    }
    return {{"id", d.id},
            {"name", d.name},
            {"longname", d.longname},
            {"desc", d.desc},
            {"inputs", d.inputs},
            {"outputs", d.outputs},
            {"channels", channels(d.channels)},
            {"optionalChannels", channels(d.optionalChannels)},
            {"options", options},
            {"annotations", classes},
            {"rows", rows}};
}

void PrintDecoder(std::ostream& out, const DecoderInfo& d) {
    out << d.id << "  " << d.longname << "\n";
    const auto channels = [&](const char* label,
                              const std::vector<analysis::DecoderChannel>& list) {
        if (list.empty()) {
            return;
        }
        out << "    " << label;
        for (const auto& ch : list) {
            out << " " << ch.id << " (" << ch.desc << ")";
        }
        out << "\n";
    };
    channels("channels:", d.channels);
    channels("optional:", d.optionalChannels);
    for (const auto& o : d.options) {
        out << "    option " << o.id << "=" << analysis::OptionText(o.defaultValue) << "  "
            << o.desc;
        if (!o.values.empty()) {
            out << " [";
            for (std::size_t i = 0; i < o.values.size(); ++i) {
                out << (i > 0 ? ", " : "") << analysis::OptionText(o.values[i]);
            }
            out << "]";
        }
        out << "\n";
    }
    if (d.inputs.empty() || d.inputs.front() != "logic") {
        out << "    stacks on:";
        for (const auto& in : d.inputs) {
            out << " " << in;
        }
        out << "\n";
    }
}

void List(const DecodeOptions& options, CommandContext& context) {
    const auto decoders = analysis::InstalledDecoders();
    if (!decoders) {
        context.err << "pulsara-cli: " << decoders.error() << "\n";
        context.exitCode = 1;
        return;
    }
    if (options.json) {
        Json all = Json::array();
        for (const auto& d : *decoders) {
            all.push_back(DecoderJson(d));
        }
        context.out << Dump(all) << "\n";
        return;
    }
    for (const auto& d : *decoders) {
        PrintDecoder(context.out, d);
    }
}

// sigrok-cli's line with --protocol-decoder-samplenum: the longest text only.
void PrintLine(std::ostream& out, const Annotation& a) {
    out << a.start << '-' << a.end << ' ' << a.instance << ": "
        << (a.texts.empty() ? std::string() : a.texts.front()) << '\n';
}

void PrintJson(std::ostream& out, const Annotation& a) {
    out << analysis::AnnotationJsonLine(a) << '\n';
}

void Decode(const DecodeOptions& options, CommandContext& context) {
    LoadResult load;
    const auto capture = StartUpAndLoad(options.definition, *options.capturePath, context, load);
    if (!capture) {
        return;
    }
    analysis::DecodeRequest request{options.stacks, std::nullopt, ShiftJisToUtf8};
    if (options.samplerate) {
        request.samplerate = ParseRate(*options.samplerate);
        if (!request.samplerate) {
            context.err << "pulsara-cli: --samplerate takes whole hertz, as 115200, 100k or "
                           "10MHz, not \""
                        << *options.samplerate << "\"\n";
            context.exitCode = 1;
            return;
        }
    }
    const auto plan = analysis::PlanDecode(*capture, request);
    if (!plan) {
        context.err << "pulsara-cli: " << plan.error() << "\n";
        context.exitCode = 1;
        return;
    }
    const auto filter = analysis::ParseAnnotationFilter(options.annotations, *plan);
    if (!filter) {
        context.err << "pulsara-cli: " << filter.error() << "\n";
        context.exitCode = 1;
        return;
    }
    const auto clock = analysis::ClockFor(capture->settings, plan->samplerate);
    if (options.csv) {
        context.out << analysis::kAnnotationCsvHeader;
    }
    const auto print = [&](const Annotation& a) {
        if (options.csv) {
            context.out << analysis::AnnotationCsvLine(a, clock);
        } else if (options.json) {
            PrintJson(context.out, a);
        } else {
            PrintLine(context.out, a);
        }
    };
    // sigrok-cli feeds a file this small in one piece, so its stacks print one after the
    // other; chunks interleave them here, so several stacks are gathered and ordered first.
    const bool gather = plan->stacks.size() > 1;
    std::vector<Annotation> gathered;
    const auto result = analysis::RunDecode(*capture, *plan, [&](const Annotation& a) {
        if (!filter->Shows(a)) {
            return;
        }
        if (gather) {
            gathered.push_back(a);
        } else {
            print(a);
        }
    });
    std::stable_sort(gathered.begin(), gathered.end(),
                     [](const Annotation& a, const Annotation& b) { return a.stack < b.stack; });
    for (const auto& a : gathered) {
        print(a);
    }
    if (result.status != analysis::DecodeStatus::Finished) {
        context.err << "pulsara-cli: " << result.error << "\n";
        context.exitCode = 1;
    }
}

} // namespace

void AddDecodeCommand(CLI::App& app, CommandContext& context) {
    auto options = std::make_shared<DecodeOptions>();
    auto* cmd = app.add_subcommand(
        "decode", "Decode UART, SPI, I2C and more with libsigrokdecode's protocol decoders");
    cmd->add_option("--def", options->definition, "definition text to start with");
    cmd->add_option("capture", options->capturePath, "capture file (.wfa)");
    cmd->add_option("-P,--protocol-decoders", options->stacks,
                    "decoder stack as sigrok-cli takes it: uart:rx=NAME:baudrate=115200, "
                    "stacked with commas; repeat for more stacks (default: those of the "
                    "capture's .wfs session)")
        ->allow_extra_args(false);
    cmd->add_option("-A,--protocol-decoder-annotations", options->annotations,
                    "annotations to show: DECODER or DECODER=CLASS[:CLASS...] (classes or rows)")
        ->allow_extra_args(false);
    cmd->add_option("--samplerate", options->samplerate,
                    "sample rate in Hz (115200, 100k, 10MHz); needed for EXT captures");
    auto* json =
        cmd->add_flag("--json", options->json, "one JSON object per annotation (per line)");
    cmd->add_flag("--csv", options->csv,
                  "CSV (RFC 4180): start_sample,end_sample,start_s,end_s,decoder,class,row,text, "
                  "times in seconds from the trigger sample")
        ->excludes(json);
    cmd->add_flag("--list", options->list, "list the installed decoders, channels and options");
    cmd->callback([options, &context, cmd] {
        if (options->list) {
            List(*options, context);
            return;
        }
        if (options->capturePath && options->stacks.empty()) {
            // The decoders the analysis window kept with the capture.
            const SessionRead session = ReadSessionFile(SessionPath(*options->capturePath));
            if (!session.error.empty()) {
                context.err << "pulsara-cli: " << session.error << "\n";
            } else if (session.session) {
                options->stacks = session.session->stacks;
            }
        }
        if (!options->capturePath || options->stacks.empty()) {
            context.err << "pulsara-cli: decode needs a capture file and -P STACK (or a "
                           "capture whose .wfs session names decoders), or --list\n"
                        << cmd->help();
            context.exitCode = 2;
            return;
        }
        Decode(*options, context);
    });
}

} // namespace pulsara::cli
