// pulsara-cli find: edges, pulses, values or patterns and decoded text in a capture, one
// line per match. Exit status as grep's: 0 found, 1 nothing found, 2 bad input.

#include "analysis/decode_cache.h"
#include "analysis/search.h"
#include "cli/commands.h"
#include "cli/startup.h"
#include "match_options.h"
#include "text_codec.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <ostream>

namespace pulsara::cli {
namespace {

using Json = nlohmann::ordered_json;

struct FindOptions {
    std::optional<std::filesystem::path> definition;
    std::filesystem::path capturePath;
    analysis::MatchWords match;
    bool json = false;
    bool first = false;
    bool count = false;
    bool noCache = false;
};

constexpr int kFound = 0;
constexpr int kNotFound = 1;
constexpr int kBadInput = 2;

void Find(const FindOptions& options, CommandContext& context) {
    LoadResult load;
    const auto capture = StartUpAndLoad(options.definition, options.capturePath, context, load);
    if (!capture) {
        context.exitCode = kBadInput;
        return;
    }
    // A decoded match decodes the whole capture once and keeps it, so that the next
    // question about the same capture is answered without the decoders.
    std::optional<analysis::DecodedCapture> decoded;
    analysis::DecodePlanner planDecode;
    if (!options.noCache) {
        planDecode = [&](const analysis::DecodeRequest& request) {
            auto done =
                analysis::DecodeRemembered(*capture, request, analysis::DefaultDecodeCacheFolder());
            if (!done) {
                return analysis::Result<analysis::DecodePlan>::Fail(done.error());
            }
            decoded = std::move(done).value();
            return analysis::Result<analysis::DecodePlan>(decoded->plan);
        };
    }
    const auto query = analysis::CompileMatch(*capture, options.match, ShiftJisToUtf8, planDecode);
    if (!query) {
        context.err << "pulsara-cli: " << query.error() << "\n";
        context.exitCode = kBadInput;
        return;
    }
    analysis::FindLimits limits;
    if (options.first) {
        limits.maxMatches = 1;
    }
    const auto matches =
        decoded ? analysis::Result<std::vector<analysis::Match>>(analysis::MatchAnnotations(
                      decoded->annotations, *query,
                      analysis::FirstCapturedSample(capture->settings), limits.maxMatches))
                : analysis::FindMatches(*capture, *query, limits);
    if (!matches) {
        context.err << "pulsara-cli: " << matches.error() << "\n";
        context.exitCode = kBadInput;
        return;
    }
    context.exitCode = matches->empty() ? kNotFound : kFound;
    if (options.count) {
        context.out << matches->size() << "\n";
        return;
    }
    const auto& settings = capture->settings;
    for (const auto& m : *matches) {
        const auto startNs = analysis::NsFromTrigger(settings, m.start);
        if (options.json) {
            Json line = {{"start", m.start},
                         {"end", m.end},
                         {"startNs", startNs ? Json(*startNs) : Json(nullptr)},
                         {"endNs", startNs ? Json(*analysis::NsFromTrigger(settings, m.end))
                                           : Json(nullptr)},
                         {"kind", analysis::MatchKindName(m.kind)}};
            if (m.kind == analysis::MatchKind::Decoded) {
                line["text"] = m.text;
            }
            context.out << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                        << "\n";
            continue;
        }
        context.out << m.start << '-' << m.end;
        if (startNs) {
            context.out << ' ' << TimeText(*startNs);
        }
        if (m.kind == analysis::MatchKind::Decoded) {
            context.out << ' ' << m.text;
        }
        context.out << '\n';
    }
}

} // namespace

void AddFindCommand(CLI::App& app, CommandContext& context) {
    auto options = std::make_shared<FindOptions>();
    auto* cmd = app.add_subcommand(
        "find", "Find edges, pulses (glitches), values or patterns and decoded text in a "
                "capture; exit status 0 found, 1 not found, 2 bad input");
    cmd->add_option("--def", options->definition, "definition text to start with");
    cmd->add_option("capture", options->capturePath, "capture file (.wfa, .vcd, .sr)")->required();
    AddMatchOptions(*cmd, options->match);
    cmd->add_flag("--json", options->json,
                  "one JSON object per match: start, end, startNs, endNs, kind (text)");
    cmd->add_flag("--first", options->first, "only the first match");
    cmd->add_flag("--count", options->count, "print only how many matched");
    cmd->add_flag("--no-cache", options->noCache,
                  "decode afresh and keep nothing (decoded matches are otherwise kept in "
                  "$XDG_CACHE_HOME/pulsara/decoded)");
    cmd->callback([options, &context] { Find(*options, context); });
}

} // namespace pulsara::cli
