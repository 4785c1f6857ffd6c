// Checking what the user wrote and resolving it against a capture's rows and rate.

#include "analysis/search.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

namespace pulsara::analysis {
namespace {
template <typename T> Result<T> Fail(std::string message) {
    return Result<T>::Fail(std::move(message));
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (auto& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

std::string RowList(const ChannelTable& channels, const NameDecoder& decodeName) {
    std::string names;
    for (const auto& name : SignalNames(channels, decodeName)) {
        names += (names.empty() ? "" : ", ") + name;
    }
    return names.empty() ? std::string("there are none") : names;
}

// A width limit: a bare whole number of samples, or a decimal with a unit (s, ms, us, ns,
// ps) that is turned into samples exactly, in picoseconds, so "30ns" at 10 ns a sample is
// three samples, not 2.9999.
struct Limit {
    std::int64_t samples = 0;       // a bare number
    std::optional<std::int64_t> ps; // a time
};

Result<Limit> ParseLimit(std::string_view option, std::string_view text) {
    const auto bad = [&] {
        return Fail<Limit>("--" + std::string(option) + " takes a number of samples (3) or a " +
                           "time with a unit (25ns, 1.5us, 2ms), not \"" + std::string(text) +
                           "\"");
    };
    std::size_t i = 0;
    std::int64_t whole = 0;
    std::int64_t fraction = 0;
    int fractionDigits = 0;
    const auto digit = [&] {
        return i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) != 0;
    };
    if (!digit()) {
        return bad();
    }
    for (; digit(); ++i) {
        if (whole > 1'000'000'000'000) {
            return bad();
        }
        whole = whole * 10 + (text[i] - '0');
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        for (; digit(); ++i) {
            if (fractionDigits < 12) {
                fraction = fraction * 10 + (text[i] - '0');
                ++fractionDigits;
            }
        }
    }
    const std::string unit = Lower(text.substr(i));
    if (unit.empty()) {
        if (fractionDigits > 0) {
            return bad();
        }
        return Limit{whole, std::nullopt};
    }
    std::int64_t perUnit = 0;
    if (unit == "s") {
        perUnit = 1'000'000'000'000;
    } else if (unit == "ms") {
        perUnit = 1'000'000'000;
    } else if (unit == "us" || unit == "\xC2\xB5s") {
        perUnit = 1'000'000;
    } else if (unit == "ns") {
        perUnit = 1'000;
    } else if (unit == "ps") {
        perUnit = 1;
    } else {
        return bad();
    }
    if (whole > 100'000) { // more than a whole capture at any rate
        whole = 100'000;
        fraction = 0;
    }
    std::int64_t scale = 1;
    for (int d = 0; d < fractionDigits; ++d) {
        scale *= 10;
    }
    return Limit{0, whole * perUnit + fraction * perUnit / scale};
}

struct HexValue {
    std::uint64_t value = 0;
    std::uint64_t care = 0; // bits that are not '?'
    int digits = 0;
};

// "3A", "0x3A", "0x3?" (with `wildcards`): hex digits, '?' for a digit that may be anything.
std::optional<HexValue> ParseHex(std::string_view text, bool wildcards) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 8) {
        return std::nullopt;
    }
    HexValue hex;
    for (const char c : text) {
        int d = 0;
        std::uint64_t care = 0xF;
        if (c >= '0' && c <= '9') {
            d = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            d = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            d = c - 'A' + 10;
        } else if (wildcards && (c == '?' || c == 'x' || c == 'X')) {
            care = 0;
        } else {
            return std::nullopt;
        }
        hex.value = hex.value << 4 | static_cast<std::uint64_t>(d);
        hex.care = hex.care << 4 | care;
        ++hex.digits;
    }
    return hex;
}

// The probes behind a row or a single signal, probe[j] giving bit j of its value.
struct Bits {
    std::string name;
    std::vector<int> probes;
};

Result<Bits> BitsOf(const Capture& capture, std::string_view name, const NameDecoder& decodeName) {
    if (const auto row = FindRow(capture.channels, name, decodeName)) {
        const auto& r = capture.channels.rows[static_cast<std::size_t>(*row)];
        const int count = std::clamp(r.probeCount, 0, kMaxProbesPerRow);
        if (count > 1) {
            Bits bits{std::string(name), {}};
            for (int j = 0; j < count; ++j) {
                bits.probes.push_back(r.probes[static_cast<std::size_t>(j)]);
            }
            return bits;
        }
    }
    const auto signal = ResolveSignal(capture.channels, name, decodeName);
    if (!signal) {
        return Fail<Bits>(signal.error());
    }
    return Bits{signal->name, {signal->probe}};
}

// Adds "bits shows `value` under `care`" to a raw-sample mask; false on a contradiction.
// A probe the board does not have reads 0.
bool Require(const Bits& bits, std::uint64_t value, std::uint64_t care, Query& query,
             std::string* conflict) {
    for (std::size_t j = 0; j < bits.probes.size(); ++j) {
        if (((care >> j) & 1U) == 0) {
            continue;
        }
        const int probe = bits.probes[j];
        const bool level = ((value >> j) & 1U) != 0;
        if (probe < 0 || probe > 31) {
            if (level) {
                *conflict = "probe " + std::to_string(probe) + " of " + bits.name +
                            " does not exist on the board and always reads 0";
                return false;
            }
            continue;
        }
        const std::uint32_t bit = 1U << static_cast<unsigned>(probe);
        if ((query.mask & bit) != 0 && ((query.want & bit) != 0) != level) {
            *conflict = "probe " + std::to_string(probe) + " (in " + bits.name +
                        ") would have to be both 0 and 1";
            return false;
        }
        query.mask |= bit;
        query.want = level ? (query.want | bit) : (query.want & ~bit);
    }
    return true;
}

Result<Query> CompileValue(const Capture& capture, const MatchWords& words,
                           const NameDecoder& decodeName) {
    const auto bits = BitsOf(capture, *words.signal, decodeName);
    if (!bits) {
        return Fail<Query>(bits.error());
    }
    const auto width = static_cast<int>(bits->probes.size());
    const std::uint64_t all = width >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1;
    const auto parse = [&](std::string_view option, const std::string& text) -> Result<HexValue> {
        const auto hex = ParseHex(text, false);
        if (!hex || (hex->value & ~all) != 0) {
            return Result<HexValue>::Fail(
                "--" + std::string(option) + " takes a hex value of " + bits->name + "'s " +
                std::to_string(width) + " bit" + (width == 1 ? "" : "s") + " (0 to " +
                [&] {
                    char t[16];
                    std::snprintf(t, sizeof t, "%llX", static_cast<unsigned long long>(all));
                    return std::string(t);
                }() +
                "), not \"" + text + "\"");
        }
        return *hex;
    };
    const auto value = parse("value", *words.value);
    if (!value) {
        return Fail<Query>(value.error());
    }
    std::uint64_t care = all;
    if (words.mask) {
        const auto mask = parse("mask", *words.mask);
        if (!mask) {
            return Fail<Query>(mask.error());
        }
        care = mask->value;
    }
    Query query;
    query.kind = MatchKind::Value;
    std::string conflict;
    // A row that shows one probe twice can ask for both levels of it: that never matches.
    query.impossible = !Require(*bits, value->value, care, query, &conflict);
    return query;
}

Result<Query> CompilePattern(const Capture& capture, const std::string& pattern,
                             const NameDecoder& decodeName) {
    Query query;
    query.kind = MatchKind::Value;
    std::size_t from = 0;
    int terms = 0;
    while (from <= pattern.size()) {
        auto comma = pattern.find(',', from);
        if (comma == std::string::npos) {
            comma = pattern.size();
        }
        const std::string term = pattern.substr(from, comma - from);
        from = comma + 1;
        const auto eq = term.rfind('=');
        if (eq == std::string::npos || eq == 0 || eq + 1 == term.size()) {
            return Fail<Query>("--pattern takes SIGNAL=LEVEL terms separated by commas, as "
                               "CLK=1,CS#=0,DATA=0x3? (a bus in hex, ? for any digit), not \"" +
                               term + "\"");
        }
        const auto bits = BitsOf(capture, term.substr(0, eq), decodeName);
        if (!bits) {
            return Fail<Query>(bits.error());
        }
        const std::string level = term.substr(eq + 1);
        const auto hex = ParseHex(level, true);
        const auto width = bits->probes.size();
        const std::uint64_t all = (std::uint64_t{1} << width) - 1;
        if (!hex || (hex->value & ~all) != 0 ||
            (width == 1 && level != "0" && level != "1" && level != "?")) {
            return Fail<Query>("in --pattern, " + bits->name +
                               (width == 1 ? " takes 0, 1 or ?"
                                           : " takes a hex value of its " + std::to_string(width) +
                                                 " bits, ? for any digit (as 0x3?)") +
                               ", not \"" + level + "\"");
        }
        std::string conflict;
        if (!Require(*bits, hex->value, hex->care & all, query, &conflict)) {
            return Fail<Query>("--pattern can never match: " + conflict);
        }
        ++terms;
    }
    if (terms == 0) {
        return Fail<Query>("--pattern needs at least one SIGNAL=LEVEL term");
    }
    return query;
}

Result<Query> CompileDecoded(const Capture& capture, const MatchWords& words,
                             const NameDecoder& decodeName, const DecodePlanner& planDecode) {
    if (!words.text) {
        return Fail<Query>("a decoded match needs --text TEXT (with --regex, an expression)");
    }
    const DecodeRequest request{words.stacks, std::nullopt, decodeName};
    auto plan = planDecode ? planDecode(request) : PlanDecode(capture, request);
    if (!plan) {
        return Fail<Query>(plan.error());
    }
    auto filter = ParseAnnotationFilter(words.annotations, *plan);
    if (!filter) {
        return Fail<Query>(filter.error());
    }
    Query query;
    query.kind = MatchKind::Decoded;
    query.plan = std::move(plan).value();
    query.filter = std::move(filter).value();
    query.text = *words.text;
    if (words.regex) {
        try {
            query.pattern = std::make_shared<const std::regex>(*words.text);
        } catch (const std::regex_error& e) {
            return Fail<Query>("--regex: \"" + *words.text + "\" is not a regular expression (" +
                               e.what() + ")");
        }
    }
    return query;
}

} // namespace

Result<Query> CompileMatch(const Capture& capture, const MatchWords& words,
                           const NameDecoder& decodeName, const DecodePlanner& planDecode) {
    if ((words.shorter || words.longer) && !words.pulse) {
        return Fail<Query>("--shorter and --longer limit a --pulse");
    }
    if (words.mask && !words.value) {
        return Fail<Query>("--mask goes with --value");
    }
    if ((words.text || words.regex || !words.annotations.empty()) && words.stacks.empty()) {
        return Fail<Query>("--text, --regex and -A search decoded annotations: give the "
                           "decoder stack with -P");
    }
    const int kinds = (words.edge ? 1 : 0) + (words.pulse ? 1 : 0) + (words.value ? 1 : 0) +
                      (words.pattern ? 1 : 0) + (words.stacks.empty() ? 0 : 1);
    if (kinds == 0) {
        return Fail<Query>("say what to find: --signal S --edge rising|falling|either, "
                           "--signal S --pulse high|low [--shorter T] [--longer T], "
                           "--signal ROW --value V [--mask M], --pattern SIG=LEVEL,..., or "
                           "-P STACK --text TEXT [--regex]");
    }
    if (kinds > 1) {
        return Fail<Query>("give one match kind: --edge, --pulse, --value, --pattern or -P, "
                           "not several");
    }
    if (words.pattern) {
        if (words.signal) {
            return Fail<Query>("--pattern names its own signals; leave out --signal");
        }
        return CompilePattern(capture, *words.pattern, decodeName);
    }
    if (!words.stacks.empty()) {
        return CompileDecoded(capture, words, decodeName, planDecode);
    }
    if (!words.signal) {
        return Fail<Query>(std::string(words.value  ? "--value"
                                       : words.edge ? "--edge"
                                                    : "--pulse") +
                           " needs --signal (one of " + RowList(capture.channels, decodeName) +
                           ")");
    }
    if (words.value) {
        return CompileValue(capture, words, decodeName);
    }
    const auto signal = ResolveSignal(capture.channels, *words.signal, decodeName);
    if (!signal) {
        return Fail<Query>(signal.error());
    }
    Query query;
    query.signal = *signal;
    if (words.edge) {
        query.kind = MatchKind::Edge;
        const std::string edge = Lower(*words.edge);
        if (edge != "rising" && edge != "falling" && edge != "either") {
            return Fail<Query>("--edge is rising, falling or either, not \"" + *words.edge + "\"");
        }
        query.rising = edge != "falling";
        query.falling = edge != "rising";
        return query;
    }
    query.kind = MatchKind::Pulse;
    const std::string level = Lower(*words.pulse);
    if (level != "high" && level != "low") {
        return Fail<Query>("--pulse is high or low, not \"" + *words.pulse + "\"");
    }
    query.high = level == "high";
    const auto periodNs = SamplePeriodNs(capture.settings);
    const auto limit = [&](std::string_view option, const std::string& text,
                           bool shorter) -> std::optional<std::string> {
        const auto parsed = ParseLimit(option, text);
        if (!parsed) {
            return parsed.error();
        }
        if (parsed->ps && !periodNs) {
            return "--" + std::string(option) + " " + text +
                   ": this capture ran on the external clock, whose period is unknown; give "
                   "the limit in samples (a bare number)";
        }
        // width * period < limit, and width * period > limit, in whole picoseconds.
        const std::int64_t period = parsed->ps ? std::llround(*periodNs * 1000) : 1;
        const std::int64_t amount = parsed->ps ? *parsed->ps : parsed->samples;
        if (shorter) {
            query.maxWidth = static_cast<int>(
                std::min<std::int64_t>(amount <= 0 ? -1 : (amount - 1) / period, kSampleCount));
        } else {
            query.minWidth =
                static_cast<int>(std::min<std::int64_t>(amount / period + 1, kSampleCount + 1));
        }
        return std::nullopt;
    };
    if (words.shorter) {
        if (auto error = limit("shorter", *words.shorter, true)) {
            return Fail<Query>(*error);
        }
    }
    if (words.longer) {
        if (auto error = limit("longer", *words.longer, false)) {
            return Fail<Query>(*error);
        }
    }
    return query;
}

} // namespace pulsara::analysis
