#pragma once
// Finding things in a capture: edges, pulses by width (a glitch finder), a bus value or a
// pattern of levels, and decoded annotations by their text. What the user wrote (a
// MatchWords, from the command line or a dialog) is checked and resolved against a capture
// once, then searched:
//
//   auto query = CompileMatch(capture, words, decodeName);   // error: what to write instead
//   auto matches = FindMatches(capture, *query);             // decoded: runs the decoders
//
// Only captured samples are searched (FirstCapturedSample on): nothing is ever found in the
// cleared samples at the start. Matches come in sample order.

#include "analysis/annotation_filter.h"
#include "analysis/decode.h"
#include "analysis/result.h"
#include "analysis/signal.h"
#include "capture/capture.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

namespace pulsara::analysis {

enum class MatchKind { Edge, Pulse, Value, Decoded };

[[nodiscard]] std::string_view MatchKindName(MatchKind kind); // "edge", "pulse", ...

// The words of `pulsara-cli find`'s options, unchecked.
struct MatchWords {
    std::optional<std::string> signal;    // --signal: a signal (edge, pulse) or a row (value)
    std::optional<std::string> edge;      // --edge rising|falling|either
    std::optional<std::string> pulse;     // --pulse high|low
    std::optional<std::string> shorter;   // --shorter 3 (samples) or 25ns, 1.5us, 2ms
    std::optional<std::string> longer;    // --longer
    std::optional<std::string> value;     // --value 3A (hex, as the bus is drawn)
    std::optional<std::string> mask;      // --mask F0
    std::optional<std::string> pattern;   // --pattern SIG1=1,SIG2=0,DATA=0x3?
    std::vector<std::string> stacks;      // -P, as decode takes it
    std::vector<std::string> annotations; // -A
    std::optional<std::string> text;      // --text
    bool regex = false;                   // --regex: text is an ECMAScript expression
};

// Splits a one-line match ("--signal CLK --pulse high --shorter 20ns") into a MatchWords;
// words may be quoted with ' or ". The error names the word it does not know.
[[nodiscard]] Result<MatchWords> ParseMatchWords(std::string_view line);

// The match as the command line would take it again, for messages and dialogs.
[[nodiscard]] std::string MatchWordsText(const MatchWords& words);

// A match resolved against one capture's rows and rate.
struct Query {
    MatchKind kind = MatchKind::Edge;
    Signal signal;                                  // edge, pulse
    bool rising = true, falling = true;             // edge
    bool high = true;                               // pulse: high or low
    int minWidth = 0;                               // pulse, in samples
    int maxWidth = std::numeric_limits<int>::max(); // pulse
    std::uint32_t mask = 0, want = 0;               // value: over the raw sample
    bool impossible = false; // value: the levels asked for contradict each other
    DecodePlan plan;         // decoded
    std::optional<AnnotationFilter> filter;
    std::string text;
    std::shared_ptr<const std::regex> pattern; // set with --regex
};

// Checks the words: one match kind, signals and rows the capture has (the error lists
// them), limits with a unit only when the rate is known, hex digits that fit the row.
// A decoded match's plan comes from `planDecode` when given (a caller that decodes
// through DecodeRemembered), else from PlanDecode.
using DecodePlanner = std::function<Result<DecodePlan>(const DecodeRequest&)>;
[[nodiscard]] Result<Query> CompileMatch(const Capture& capture, const MatchWords& words,
                                         const NameDecoder& decodeName = {},
                                         const DecodePlanner& planDecode = {});

struct Match {
    // Capture sample indices. An edge is a point (end == start). A pulse runs from the edge
    // that starts it to the edge that ends it (end - start is its width, as measure counts
    // it); only complete pulses count. A value runs from the first sample that shows it to
    // the last. A decoded match has its annotation's samples.
    int start = 0;
    int end = 0;
    MatchKind kind = MatchKind::Edge;
    std::string text; // decoded: the annotation's longest text
};

struct FindLimits {
    std::size_t maxMatches = std::numeric_limits<std::size_t>::max();
    const std::atomic<bool>* cancel = nullptr; // decoding only
};

// Every match of an edge, pulse or value query; a decoded query runs its decoders here,
// and fails when a decoder does.
[[nodiscard]] Result<std::vector<Match>> FindMatches(const Capture& capture, const Query& query,
                                                     const FindLimits& limits = {});

// The annotations of an earlier decode that a decoded query picks, for callers that hold
// them already (the analysis window). Annotations before `firstSample` are left out.
[[nodiscard]] std::vector<Match>
MatchAnnotations(const std::vector<Annotation>& annotations, const Query& query, int firstSample,
                 std::size_t maxMatches = std::numeric_limits<std::size_t>::max());

// Whether an annotation's text is what a decoded query asks for (any of its texts).
[[nodiscard]] bool TextMatches(const Annotation& annotation, const Query& query);

} // namespace pulsara::analysis
