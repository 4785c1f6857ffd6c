// pulsara-cli diff: where two captures differ, row by row or signal by signal. The exit
// status tells scripts the answer: 0 the same, 1 they differ, 2 the input was bad.

#include "analysis/compare.h"
#include "cli/commands.h"
#include "cli/startup.h"
#include "text_codec.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <array>
#include <charconv>
#include <memory>
#include <ostream>
#include <string_view>

namespace pulsara::cli {
namespace {

using Json = nlohmann::ordered_json;

struct DiffOptions {
    std::optional<std::filesystem::path> definition;
    std::filesystem::path first;
    std::filesystem::path second;
    std::vector<std::string> signals;
    std::string align = "trigger";
    bool json = false;
};

std::vector<int> Probes(std::uint32_t mask) {
    std::vector<int> probes;
    for (int p = 0; p < 32; ++p) {
        if ((mask >> p) & 1U) {
            probes.push_back(p);
        }
    }
    return probes;
}

// Two random captures differ in thousands of ranges a row, megabytes of lines: they go out
// through one small buffer, formatted in place.
class LineWriter {
public:
    explicit LineWriter(std::ostream& out) : out_(out) {}
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;
    ~LineWriter() { Flush(); }

    void Text(std::string_view text) {
        if (text.size() > buffer_.size() - used_) {
            Flush();
        }
        if (text.size() > buffer_.size()) {
            out_.write(text.data(), static_cast<std::streamsize>(text.size()));
            return;
        }
        std::copy(text.begin(), text.end(), buffer_.begin() + static_cast<std::ptrdiff_t>(used_));
        used_ += text.size();
    }
    void Number(int value) {
        if (buffer_.size() - used_ < 16) {
            Flush();
        }
        char* at = buffer_.data() + used_;
        used_ = static_cast<std::size_t>(std::to_chars(at, at + 16, value).ptr - buffer_.data());
    }
    void Flush() {
        out_.write(buffer_.data(), static_cast<std::streamsize>(used_));
        used_ = 0;
    }

private:
    std::ostream& out_;
    std::array<char, 65536> buffer_{};
    std::size_t used_ = 0;
};

void PrintLines(std::ostream& out, const analysis::Comparison& comparison) {
    auto writer = std::make_unique<LineWriter>(out);
    for (const auto& t : comparison.targets) {
        writer->Text(t.target.name);
        writer->Text(": ");
        writer->Number(t.samples);
        writer->Text(" samples differ");
        std::string_view separator = ": ";
        for (const auto& span : t.spans) {
            writer->Text(separator);
            separator = ", ";
            writer->Number(span.first);
            writer->Text("-");
            writer->Number(span.last);
        }
        writer->Text("\n");
    }
}

void PrintJson(std::ostream& out, const DiffOptions& options,
               const analysis::Comparison& comparison) {
    const auto& overlap = comparison.overlap;
    Json json;
    json["a"] = options.first.string();
    json["b"] = options.second.string();
    json["align"] = options.align;
    json["offset"] = overlap.offset;
    json["compared"] =
        overlap.empty() ? Json(nullptr) : Json{{"first", overlap.first}, {"last", overlap.last}};
    json["same"] = !comparison.differs();
    Json signals = Json::array();
    for (const auto& t : comparison.targets) {
        Json ranges = Json::array();
        for (const auto& span : t.spans) {
            ranges.push_back({span.first, span.last});
        }
        signals.push_back({{"name", t.target.name},
                           {"probes", Probes(t.target.probes)},
                           {"samples", t.samples},
                           {"ranges", std::move(ranges)}});
    }
    json["signals"] = std::move(signals);
    out << json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

void RunDiff(const DiffOptions& options, CommandContext& context) {
    LoadResult load;
    const auto a = StartUpAndLoad(options.definition, options.first, context, load);
    const auto b = a ? StartUpAndLoad(options.definition, options.second, context, load) : nullptr;
    if (!a || !b) {
        context.exitCode = 2;
        return;
    }
    const auto fail = [&context](const std::string& message) {
        context.err << "pulsara-cli: " << message << "\n";
        context.exitCode = 2;
    };
    std::vector<analysis::CompareTarget> targets;
    if (options.signals.empty()) {
        targets = analysis::RowTargets(a->channels, ShiftJisToUtf8);
        if (targets.empty()) {
            return fail("the rows of \"" + options.first.string() +
                        "\" show no probe; name the signals to compare with --signal");
        }
    }
    for (const auto& text : options.signals) {
        auto target = analysis::ResolveTarget(a->channels, text, ShiftJisToUtf8);
        if (!target) {
            return fail(target.error());
        }
        targets.push_back(std::move(target).value());
    }
    const auto alignment =
        options.align == "start" ? analysis::Alignment::Start : analysis::Alignment::Trigger;
    const auto comparison = analysis::CompareCaptures(*a, *b, targets, alignment);
    if (!comparison) {
        return fail(comparison.error());
    }
    const auto& overlap = comparison->overlap;
    if (overlap.empty()) {
        context.err << "pulsara-cli: warning: no sample holds captured data in both\n";
    } else {
        context.err << "pulsara-cli: compared samples " << overlap.first << "-" << overlap.last
                    << " of " << options.first.string() << " with "
                    << overlap.first + overlap.offset << "-" << overlap.last + overlap.offset
                    << " of " << options.second.string() << " (aligned at the "
                    << (alignment == analysis::Alignment::Start ? "start" : "trigger") << ")\n";
    }
    if (options.json) {
        PrintJson(context.out, options, *comparison);
    } else {
        PrintLines(context.out, *comparison);
    }
    context.exitCode = comparison->differs() ? 1 : 0;
}

} // namespace

void AddDiffCommand(CLI::App& app, CommandContext& context) {
    auto options = std::make_shared<DiffOptions>();
    auto* cmd = app.add_subcommand(
        "diff", "Where two captures differ, row by row: exit status 0 the same, 1 they "
                "differ, 2 bad input");
    cmd->add_option("--def", options->definition, "definition text to start with");
    cmd->add_option("a", options->first, "capture file (.wfa); its rows are compared")->required();
    cmd->add_option("b", options->second, "capture file (.wfa) to compare it with")->required();
    cmd->add_option("--signal,-s", options->signals,
                    "a row name (a bus as a whole), a bus row's probe as NAME[j], or a probe "
                    "number 0-31; repeat for more (default: every row)");
    cmd->add_option("--align", options->align,
                    "line the captures up at their trigger samples (default) or at sample 0")
        ->check(CLI::IsMember({"trigger", "start"}));
    cmd->add_flag("--json", options->json, "print one JSON object");
    cmd->callback([options, &context] { RunDiff(*options, context); });
}

} // namespace pulsara::cli
