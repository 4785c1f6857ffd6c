#include "analysis/search.h"

#include "probe_edges.h"

#include <algorithm>
#include <bit>

namespace pulsara::analysis {
namespace {

std::uint32_t Word(const SampleMemory& memory, int s) {
    const auto* b = memory.data() + static_cast<std::size_t>(s) * 4;
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

void FindEdges(const Capture& capture, const Query& q, int first, std::size_t max,
               std::vector<Match>& out) {
    const detail::ProbeEdges edges(capture.samples, q.signal.probe, first);
    const auto& changes = edges.Words();
    const auto& levels = edges.LevelWords();
    const std::uint64_t rising = q.rising ? ~std::uint64_t{0} : 0;
    const std::uint64_t falling = q.falling ? ~std::uint64_t{0} : 0;
    const auto picked = [&](std::size_t w) {
        return changes[w] & ((levels[w] & rising) | (~levels[w] & falling));
    };
    std::size_t total = 0;
    for (std::size_t w = 0; w < changes.size(); ++w) {
        total += static_cast<std::size_t>(std::popcount(picked(w)));
    }
    out.reserve(out.size() + std::min(total, max));
    for (std::size_t w = 0; w < changes.size() && out.size() < max; ++w) {
        std::uint64_t word = picked(w);
        for (; word != 0 && out.size() < max; word &= word - 1) {
            const int s = static_cast<int>(w * 64) + std::countr_zero(word);
            out.push_back({s, s, MatchKind::Edge, {}});
        }
    }
}

void FindPulses(const Capture& capture, const Query& q, int first, std::size_t max,
                std::vector<Match>& out) {
    const detail::ProbeEdges edges(capture.samples, q.signal.probe, first);
    const auto& changes = edges.Words();
    const auto& levels = edges.LevelWords();
    int previous = -1;
    bool previousHigh = false;
    for (std::size_t w = 0; w < changes.size() && out.size() < max; ++w) {
        for (std::uint64_t word = changes[w]; word != 0; word &= word - 1) {
            const int bit = std::countr_zero(word);
            const int s = static_cast<int>(w * 64) + bit;
            if (previous >= 0 && previousHigh == q.high) {
                const int width = s - previous;
                if (width >= q.minWidth && width <= q.maxWidth) {
                    out.push_back({previous, s, MatchKind::Pulse, {}});
                    if (out.size() >= max) {
                        return;
                    }
                }
            }
            previous = s;
            previousHigh = ((levels[w] >> bit) & 1U) != 0;
        }
    }
}

void FindValues(const Capture& capture, const Query& q, int first, std::size_t max,
                std::vector<Match>& out) {
    if (q.impossible) {
        return;
    }
    int runStart = -1;
    for (int s = first; s < kSampleCount; ++s) {
        const bool holds = (Word(capture.samples, s) & q.mask) == q.want;
        if (holds && runStart < 0) {
            runStart = s;
        } else if (!holds && runStart >= 0) {
            out.push_back({runStart, s - 1, MatchKind::Value, {}});
            runStart = -1;
            if (out.size() >= max) {
                return;
            }
        }
    }
    if (runStart >= 0) {
        out.push_back({runStart, kSampleCount - 1, MatchKind::Value, {}});
    }
}

} // namespace

std::string_view MatchKindName(MatchKind kind) {
    switch (kind) {
    case MatchKind::Edge:
        return "edge";
    case MatchKind::Pulse:
        return "pulse";
    case MatchKind::Value:
        return "value";
    case MatchKind::Decoded:
        return "decoded";
    }
    return "edge";
}

bool TextMatches(const Annotation& annotation, const Query& query) {
    return std::any_of(annotation.texts.begin(), annotation.texts.end(),
                       [&](const std::string& text) {
                           return query.pattern ? std::regex_search(text, *query.pattern)
                                                : text.find(query.text) != std::string::npos;
                       });
}

std::vector<Match> MatchAnnotations(const std::vector<Annotation>& annotations, const Query& query,
                                    int firstSample, std::size_t maxMatches) {
    std::vector<Match> out;
    for (const auto& a : annotations) {
        if (a.start < static_cast<std::uint64_t>(std::max(firstSample, 0)) ||
            (query.filter && !query.filter->Shows(a)) || !TextMatches(a, query)) {
            continue;
        }
        out.push_back({static_cast<int>(a.start), static_cast<int>(a.end), MatchKind::Decoded,
                       a.texts.empty() ? std::string() : a.texts.front()});
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const Match& a, const Match& b) { return a.start < b.start; });
    if (out.size() > maxMatches) {
        out.resize(maxMatches);
    }
    return out;
}

Result<std::vector<Match>> FindMatches(const Capture& capture, const Query& query,
                                       const FindLimits& limits) {
    const int first = FirstCapturedSample(capture.settings);
    std::vector<Match> out;
    if (first >= kSampleCount || limits.maxMatches == 0) {
        return out;
    }
    switch (query.kind) {
    case MatchKind::Edge:
        FindEdges(capture, query, first, limits.maxMatches, out);
        return out;
    case MatchKind::Pulse:
        FindPulses(capture, query, first, limits.maxMatches, out);
        return out;
    case MatchKind::Value:
        FindValues(capture, query, first, limits.maxMatches, out);
        return out;
    case MatchKind::Decoded:
        break;
    }
    // Decoding stops a chunk after enough annotations matched.
    std::atomic<bool> stop{false};
    std::vector<Annotation> picked;
    std::size_t matched = 0;
    const auto result = RunDecode(
        capture, query.plan,
        [&](const Annotation& a) {
            if (limits.cancel != nullptr && limits.cancel->load()) {
                stop = true;
            }
            if ((query.filter && !query.filter->Shows(a)) || !TextMatches(a, query)) {
                return;
            }
            picked.push_back(a);
            if (++matched >= limits.maxMatches) {
                stop = true;
            }
        },
        &stop);
    if (result.status == DecodeStatus::Failed) {
        return Result<std::vector<Match>>::Fail(result.error);
    }
    if (result.status == DecodeStatus::Cancelled && limits.cancel != nullptr &&
        limits.cancel->load()) {
        return Result<std::vector<Match>>::Fail("the search was cancelled");
    }
    return MatchAnnotations(picked, query, first, limits.maxMatches);
}

} // namespace pulsara::analysis
