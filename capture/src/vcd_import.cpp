// VCD import: 1-bit wires and vectors (split into bits) in declaration order onto probes,
// one sample per time unit from the first time stamp, or per period of a chosen rate.

#include "vcd_import.h"
#include "capture/labels.h"
#include "interop_names.h"
#include "interop_settings.h"
#include "token_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <unordered_map>

namespace pulsara::detail {
namespace {

struct Variable {
    std::string name; // the reference, with a one-bit select kept ("D[3]")
    std::vector<std::string> scopes;
    int code = 0; // index into the distinct identifier codes
    long line = 0;
};

enum class Kind { Logic, Event, Other };

struct Code {
    int width = 1;
    int firstProbe = -1; // -1: the values set no probe (the trigger mark, a left-out signal)
    bool triggerMark = false;
    Kind kind = Kind::Logic;
    std::string type; // as declared, for the warning that leaves a variable out
};

// Types whose values are no logic bits: their variables become no probes.
bool IsOtherType(std::string_view type) {
    return type == "real" || type == "realtime" || type == "shortreal" || type == "string";
}

constexpr std::size_t kMaxVariables = 4096;
// Wider vectors are left out like any that does not fit; wider still is no sound file.
constexpr std::uint64_t kMaxWidth = 1 << 16;

// The four VCD values and IEEE 1164's other five (GHDL writes them): U, W, L, H and -.
bool IsValueDigit(char c) {
    return std::strchr("01xXzZuUwWlLhH-", c) != nullptr && c != '\0';
}

// Read as GTKWave reads them: L is 0, H is 1, the rest is no level.
bool IsUnknown(char c) {
    return std::strchr("xXzZuUwW-", c) != nullptr && c != '\0';
}

bool IsHigh(char c) {
    return c == '1' || c == 'h' || c == 'H';
}

// Time stamps of up to 18 digits times a unit in femtoseconds need more than 64 bits.
__extension__ typedef unsigned __int128 Wide;

// A span of femtoseconds as a person reads it: "40 ns", "1.5 us", "32.768 ps".
std::string FormatFs(Wide fs) {
    static constexpr std::pair<std::string_view, std::uint64_t> kUnits[] = {
        {"s", 1000000000000000ULL}, {"ms", 1000000000000ULL}, {"us", 1000000000ULL},
        {"ns", 1000000ULL},         {"ps", 1000ULL},          {"fs", 1ULL},
    };
    for (const auto& [name, size] : kUnits) {
        if (fs >= size || size == 1) {
            char text[48];
            std::snprintf(text, sizeof text, "%.6g %s",
                          static_cast<double>(fs) / static_cast<double>(size), name.data());
            return text;
        }
    }
    return "0 fs";
}

std::optional<std::uint64_t> ParseCount(std::string_view digits) {
    if (digits.empty() || digits.size() > 18) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

// "10 ns", "10ns", "1 ps" in femtoseconds.
std::optional<std::uint64_t> ParseTimescale(std::string_view text) {
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
        ++digits;
    }
    const auto number = ParseCount(text.substr(0, digits));
    std::string_view unit = text.substr(digits);
    while (!unit.empty() && unit.front() == ' ') {
        unit.remove_prefix(1);
    }
    static constexpr std::pair<std::string_view, std::uint64_t> kUnits[] = {
        {"s", 1000000000000000ULL}, {"ms", 1000000000000ULL}, {"us", 1000000000ULL},
        {"ns", 1000000ULL},         {"ps", 1000ULL},          {"fs", 1ULL},
    };
    if (!number || *number == 0 || *number > 1000) {
        return std::nullopt;
    }
    for (const auto& [name, fs] : kUnits) {
        if (unit == name) {
            return *number * fs;
        }
    }
    return std::nullopt;
}

class VcdParser {
public:
    VcdParser(TokenReader& tokens, const ImportOptions& options, ImportedCapture& out)
        : tokens_(tokens), options_(options), out_(out) {}

    std::optional<std::string> Run() {
        if (auto error = Header()) {
            return error;
        }
        if (auto error = Layout()) {
            return error;
        }
        if (auto error = Body()) {
            return error;
        }
        Finish();
        return std::nullopt;
    }

private:
    std::string At(long line, const std::string& what) const {
        return "line " + std::to_string(line) + ": " + what;
    }

    std::string ReadFailure() const {
        const std::string why = std::strerror(errno);
        if (tokens_.Line() == 0) {
            return "cannot read it: " + why;
        }
        return "reading stopped after line " + std::to_string(tokens_.Line()) + ": " + why;
    }

    // Collects the tokens up to the next $end, joined by blanks.
    std::optional<std::string> Section(std::string_view keyword, std::string* text) {
        const long line = tokens_.Line();
        std::string_view token;
        while (tokens_.Next(token)) {
            if (token == "$end") {
                return std::nullopt;
            }
            if (text != nullptr) {
                *text += text->empty() ? "" : " ";
                *text += token;
            }
        }
        return At(line, std::string(keyword) + " is not closed by $end");
    }

    std::optional<std::string> Header() {
        std::string_view token;
        while (tokens_.Next(token)) {
            const long line = tokens_.Line();
            if (token == "$enddefinitions") {
                endLine_ = line;
                return Section("$enddefinitions", nullptr);
            }
            if (token == "$var") {
                if (auto error = Declaration(line)) {
                    return error;
                }
            } else if (token == "$scope") {
                std::string text;
                if (auto error = Section("$scope", &text)) {
                    return error;
                }
                // "module top": the scope's name is its last word.
                const auto blank = text.rfind(' ');
                scopes_.push_back(blank == std::string::npos ? text : text.substr(blank + 1));
            } else if (token == "$upscope") {
                if (auto error = Section("$upscope", nullptr)) {
                    return error;
                }
                if (!scopes_.empty()) {
                    scopes_.pop_back();
                }
            } else if (token == "$timescale") {
                // The token dies with the next read; an error names the keyword later.
                const std::string_view keyword = "$timescale";
                std::string text;
                if (auto error = Section(keyword, &text)) {
                    return error;
                }
                const auto fs = ParseTimescale(text);
                if (!fs) {
                    return At(line,
                              "timescale \"" + text +
                                  "\" is not 1, 10 or 100 and a unit (s, ms, us, ns, ps, fs)");
                }
                unitFs_ = *fs;
            } else if (token == "$version") {
                const std::string_view keyword = "$version";
                std::string text;
                if (auto error = Section(keyword, &text)) {
                    return error;
                }
                pulsaraFile_ = text == "pulsara" || text.starts_with("pulsara ");
            } else if (token.starts_with("$")) {
                const std::string keyword(token);
                if (auto error = Section(keyword, nullptr)) {
                    return error;
                }
            } else {
                return At(line, "\"" + std::string(token.substr(0, 40)) +
                                    "\" stands outside any $ section; a VCD header holds only "
                                    "sections such as $var ... $end (remove lines other tools "
                                    "add, such as sigrok-cli's \"META ...\")");
            }
        }
        if (tokens_.Failed()) {
            return ReadFailure();
        }
        return At(tokens_.Line(), "the file ends before $enddefinitions; it is not a complete VCD");
    }

    std::optional<std::string> Declaration(long line) {
        std::string text;
        if (auto error = Section("$var", &text)) {
            return error;
        }
        // 32 probes leave room for many names of the same signals, but not without end.
        if (variables_.size() >= kMaxVariables) {
            return At(line, "the file declares more than " + std::to_string(kMaxVariables) +
                                " variables; pulsara reads 32 probes");
        }
        std::vector<std::string> parts;
        for (std::size_t start = 0; start <= text.size();) {
            const auto end = std::min(text.find(' ', start), text.size());
            parts.emplace_back(text.substr(start, end - start));
            start = end + 1;
        }
        if (parts.size() < 4) {
            return At(line, "$var needs a type, a width, an identifier and a name");
        }
        const Kind kind = IsOtherType(parts[0]) ? Kind::Other
                          : parts[0] == "event" ? Kind::Event
                                                : Kind::Logic;
        const auto width = ParseCount(parts[1]);
        if (!width || *width == 0 || *width > kMaxWidth) {
            return At(line, "variable \"" + parts[3] + "\" has width \"" + parts[1] +
                                "\"; a VCD variable is 1 to " + std::to_string(kMaxWidth) +
                                " bits wide");
        }
        std::string name = parts[3];
        for (std::size_t i = 4; i < parts.size(); ++i) {
            name += parts[i];
        }
        // An escaped identifier ("\data$in ") is the name without its backslash.
        if (name.starts_with('\\') && name.size() > 1) {
            name.erase(0, 1);
        }
        // A vector's range is in its declaration, not its name.
        if (*width > 1 && name.ends_with(']')) {
            const auto open = name.rfind('[');
            if (open != std::string::npos && name.find(':', open) != std::string::npos) {
                name.erase(open);
            }
        }
        const auto [it, added] = codeIndex_.try_emplace(parts[2], static_cast<int>(codes_.size()));
        if (added) {
            if (const auto slot = ShortSlot(parts[2])) {
                shortCodes_[*slot] = static_cast<int>(codes_.size());
            }
            codes_.push_back({static_cast<int>(*width), -1, false, kind, parts[0]});
        } else if (codes_[static_cast<std::size_t>(it->second)].width != static_cast<int>(*width)) {
            return At(line, "identifier \"" + parts[2] + "\" is declared again with another width");
        }
        variables_.push_back({name, scopes_, it->second, line});
        return std::nullopt;
    }

    // Variables of our own export that carry no probe: the trigger mark, and a bus vector
    // whose bits the file already holds as the wires NAME[0]..NAME[n-1].
    [[nodiscard]] bool RepeatsWires(const Variable& v, int width) const {
        for (int j = 0; j < width; ++j) {
            const std::string bit = v.name + "[" + std::to_string(j) + "]";
            const bool found =
                std::any_of(variables_.begin(), variables_.end(), [&](const Variable& w) {
                    return w.name == bit && codes_[static_cast<std::size_t>(w.code)].width == 1;
                });
            if (!found) {
                return false;
            }
        }
        return true;
    }

    static std::string PathOf(const Variable& v) {
        std::string path;
        for (const auto& scope : v.scopes) {
            path += scope + ".";
        }
        return path + v.name;
    }

    // The variable --signals means by `wanted`: its name, or its name after one or more of
    // its scopes ("u1.q"). An error when none or several distinct signals answer to it.
    std::optional<std::string> Requested(const std::string& wanted, int& code,
                                         std::size_t& variable) const {
        std::vector<int> found;
        std::string paths;
        for (std::size_t i = 0; i < variables_.size(); ++i) {
            const auto& v = variables_[i];
            const std::string path = PathOf(v);
            const bool match = v.name == wanted || path == wanted ||
                               (path.ends_with(wanted) && path.size() > wanted.size() &&
                                path[path.size() - wanted.size() - 1] == '.');
            if (match && std::find(found.begin(), found.end(), v.code) == found.end()) {
                found.push_back(v.code);
                variable = i;
                paths += (paths.empty() ? "" : ", ") + path;
            }
        }
        if (found.empty()) {
            return "--signals names \"" + wanted + "\", which the file does not declare";
        }
        if (found.size() > 1) {
            return "--signals name \"" + wanted + "\" fits " + std::to_string(found.size()) +
                   " signals (" + paths + "); name one with its scope";
        }
        code = found[0];
        return std::nullopt;
    }

    std::optional<std::string> Layout() {
        if (pulsaraFile_) {
            for (const auto& v : variables_) {
                auto& code = codes_[static_cast<std::size_t>(v.code)];
                if (code.width == 1 && v.name == kTriggerSignalName) {
                    code.triggerMark = true;
                }
            }
        }
        // The signals wanted, in probe order: the named ones, or all in declaration order.
        std::vector<int> order;
        std::vector<std::size_t> named; // the variable each --signals name chose
        std::vector<std::string> otherTypes;
        if (!options_.names.empty()) {
            for (const auto& wanted : options_.names) {
                int code = -1;
                std::size_t variable = 0;
                if (auto error = Requested(wanted, code, variable)) {
                    return error;
                }
                if (std::find(order.begin(), order.end(), code) == order.end()) {
                    order.push_back(code);
                    named.push_back(variable);
                }
            }
        } else {
            std::vector<bool> seen(codes_.size(), false);
            for (const auto& v : variables_) {
                const auto index = static_cast<std::size_t>(v.code);
                const auto& code = codes_[index];
                if (seen[index] || code.triggerMark) {
                    continue;
                }
                seen[index] = true;
                if (pulsaraFile_ && code.width > 1 && RepeatsWires(v, code.width)) {
                    continue;
                }
                order.push_back(v.code);
            }
        }
        int probes = 0;
        std::vector<std::string> leftOut;
        for (const int index : order) {
            auto& code = codes_[static_cast<std::size_t>(index)];
            const auto& v = *std::find_if(variables_.begin(), variables_.end(),
                                          [&](const Variable& w) { return w.code == index; });
            if (code.kind == Kind::Other) {
                otherTypes.push_back(PathOf(v) + " (" + code.type + ")");
            } else if (probes + code.width > 32) {
                leftOut.push_back(PathOf(v) + " (" + std::to_string(code.width) + " bit" +
                                  (code.width == 1 ? "" : "s") + ")");
            } else {
                code.firstProbe = probes;
                probes += code.width;
            }
        }
        if (probes == 0) {
            if (otherTypes.empty() && leftOut.empty()) {
                return At(endLine_, "the file declares no signals to read");
            }
            std::string why;
            if (!otherTypes.empty()) {
                why = Joined(otherTypes) + " holds no logic values";
            }
            if (!leftOut.empty()) {
                why += (why.empty() ? "" : "; ") + Joined(leftOut) + " does not fit the 32 probes";
            }
            return At(endLine_, "none of the file's signals can be read: " + why);
        }
        if (!otherTypes.empty()) {
            out_.warnings.push_back(
                "left out " + std::to_string(otherTypes.size()) +
                " variable(s) that hold no logic values: " + Joined(otherTypes));
        }
        if (!leftOut.empty()) {
            out_.warnings.push_back(
                "left out " + std::to_string(leftOut.size()) +
                " signal(s) that do not fit the 32 probes after the ones before them: " +
                Joined(leftOut) + "; pick the signals with --signals NAME,NAME,...");
        }
        probeMask_ = probes == 32 ? 0xFFFFFFFFU : ((1U << probes) - 1U);
        unknown_ = probeMask_; // every value is x until the file sets it
        // A signal seen again from another scope under the same name is the same row.
        std::vector<std::pair<int, std::string>> shown;
        const auto rowFor = [&](const Variable& v) {
            ImportedRow row{v.name, {}, v.scopes};
            const auto& code = codes_[static_cast<std::size_t>(v.code)];
            for (int j = 0; j < code.width; ++j) {
                row.probes.push_back(code.firstProbe + j);
            }
            if (code.kind == Kind::Event) {
                eventMask_ |= 1U << code.firstProbe;
            }
            return row;
        };
        if (!options_.names.empty()) {
            // One row per signal named, in the order given, under the name it was given by.
            for (const auto variable : named) {
                const auto& v = variables_[variable];
                if (codes_[static_cast<std::size_t>(v.code)].firstProbe >= 0) {
                    out_.rows.push_back(rowFor(v));
                }
            }
        } else {
            for (const auto& v : variables_) {
                const auto& code = codes_[static_cast<std::size_t>(v.code)];
                if (code.firstProbe < 0 || std::find(shown.begin(), shown.end(),
                                                     std::pair{v.code, v.name}) != shown.end()) {
                    continue;
                }
                shown.emplace_back(v.code, v.name);
                out_.rows.push_back(rowFor(v));
            }
        }
        eventMask_ &= probeMask_;
        if (options_.rateIndex) {
            if (*options_.rateIndex < 0 || *options_.rateIndex >= kExtRateIndex) {
                return "rate index " + std::to_string(*options_.rateIndex) +
                       " is no clock rate to sample the file at; give one of 100MHz to 1KHz";
            }
            if (unitFs_ == 0) {
                return At(endLine_, "the file gives no $timescale, so no rate can place its "
                                    "samples; import it without --rate");
            }
            periodFs_ = static_cast<std::uint64_t>(*PeriodNs(*options_.rateIndex)) * 1000000U;
            out_.rateIndex = *options_.rateIndex;
        } else {
            periodFs_ = unitFs_;
            out_.rateIndex = unitFs_ == 0 ? kExtRateIndex : RateIndexForPeriodFs(unitFs_);
        }
        return std::nullopt;
    }

    static std::string Joined(const std::vector<std::string>& items) {
        std::string text;
        for (const auto& item : items) {
            text += (text.empty() ? "" : ", ") + item;
        }
        return text;
    }

    std::optional<std::string> Body() {
        std::string_view token;
        while (tokens_.Next(token)) {
            const long line = tokens_.Line();
            const char first = token[0];
            if (first == '#') {
                const auto time = ParseCount(token.substr(1));
                if (!time) {
                    return At(line, "time \"" + std::string(token.substr(0, 40)) +
                                        "\" is not a whole number");
                }
                if (!origin_) {
                    origin_ = *time;
                } else if (*time < time_) {
                    return At(line, "time goes back from " + std::to_string(time_) + " to " +
                                        std::to_string(*time));
                }
                time_ = *time;
                FillTo(SamplesBefore(time_));
            } else if (IsValueDigit(first)) {
                if (auto error = Value(line, token.substr(0, 1), token.substr(1), true)) {
                    return error;
                }
            } else if (first == 'b' || first == 'B') {
                const std::string digits(token.substr(1));
                std::string_view code;
                if (!tokens_.Next(code)) {
                    return At(line, "vector value \"" + digits + "\" has no identifier");
                }
                if (auto error = Value(line, digits, code, false)) {
                    return error;
                }
            } else if (first == 'r' || first == 'R' || first == 's' || first == 'S') {
                const std::string value(token.substr(0, 40));
                std::string_view id;
                if (!tokens_.Next(id)) {
                    return At(line, "value \"" + value + "\" has no identifier");
                }
                const int index = FindCode(id);
                if (index < 0) {
                    return At(line, "identifier \"" + std::string(id.substr(0, 40)) +
                                        "\" was not declared by a $var");
                }
                if (codes_[static_cast<std::size_t>(index)].kind != Kind::Other) {
                    return At(line, "value \"" + value + "\" is no logic value, but \"" +
                                        std::string(id) + "\" is a logic variable");
                }
            } else if (token == "$comment") {
                if (auto error = Section("$comment", nullptr)) {
                    return error;
                }
            } else if (token != "$dumpvars" && token != "$dumpall" && token != "$dumpon" &&
                       token != "$dumpoff" && token != "$end") {
                return At(line, "\"" + std::string(token.substr(0, 40)) +
                                    "\" is not a time (#N), a value change or a $dump section");
            }
        }
        if (tokens_.Failed()) {
            return ReadFailure();
        }
        return std::nullopt;
    }

    // Most files use codes of one or two characters; those are found through a table, since
    // every value change needs a look-up.
    static std::optional<std::size_t> ShortSlot(std::string_view id) {
        const auto printable = [](char c) { return c >= '!' && c <= '~'; };
        if (id.size() == 1 && printable(id[0])) {
            return static_cast<std::size_t>(id[0] - '!');
        }
        if (id.size() == 2 && printable(id[0]) && printable(id[1])) {
            return 94 + static_cast<std::size_t>(id[0] - '!') * 94 +
                   static_cast<std::size_t>(id[1] - '!');
        }
        return std::nullopt;
    }

    [[nodiscard]] int FindCode(std::string_view id) const {
        if (const auto slot = ShortSlot(id)) {
            return shortCodes_[*slot];
        }
        const auto found = codeIndex_.find(std::string(id));
        return found == codeIndex_.end() ? -1 : found->second;
    }

    // The time since sample 0 in femtoseconds; 0 before the first time stamp.
    [[nodiscard]] Wide SinceOrigin(std::uint64_t time) const {
        const std::uint64_t unit = unitFs_ == 0 ? 1 : unitFs_;
        return static_cast<Wide>(time - origin_.value_or(time)) * unit;
    }

    // The number of samples whose time lies before `time`.
    [[nodiscard]] int SamplesBefore(std::uint64_t time) const {
        const std::uint64_t period = periodFs_ == 0 ? 1 : periodFs_;
        const Wide count = (SinceOrigin(time) + period - 1) / period;
        return static_cast<int>(std::min<Wide>(count, kSampleCount));
    }

    // The last sample whose time lies at or before `time`, or kSampleCount past the memory.
    [[nodiscard]] int SampleAt(std::uint64_t time) const {
        const std::uint64_t period = periodFs_ == 0 ? 1 : periodFs_;
        return static_cast<int>(std::min<Wide>(SinceOrigin(time) / period, kSampleCount));
    }

    std::optional<std::string> Value(long line, std::string_view digits, std::string_view id,
                                     bool scalar) {
        const int index = FindCode(id);
        if (index < 0) {
            return At(line, "identifier \"" + std::string(id.substr(0, 40)) +
                                "\" was not declared by a $var");
        }
        const auto& code = codes_[static_cast<std::size_t>(index)];
        const bool digitsOk =
            !digits.empty() && std::all_of(digits.begin(), digits.end(), IsValueDigit);
        if (!digitsOk || digits.size() > static_cast<std::size_t>(code.width) ||
            (scalar && code.width != 1) || code.kind == Kind::Other) {
            return At(line, "value \"" + std::string(digits.substr(0, 40)) +
                                "\" does not fit the " + std::to_string(code.width) +
                                "-bit variable \"" + std::string(id) + "\"");
        }
        if (SampleAt(time_) >= kSampleCount) {
            if (cutLine_ == 0) {
                cutLine_ = line; // the first change after the last sample
            }
            return std::nullopt;
        }
        lastChange_ = time_;
        anyChange_ = true;
        if (code.triggerMark) {
            if (digits[0] == '1' && !triggerAt_) {
                triggerAt_ = SampleAt(time_);
            }
            return std::nullopt;
        }
        if (code.firstProbe < 0) {
            return std::nullopt;
        }
        if (code.kind == Kind::Event) {
            // An event is a pulse of one sample at each of its times.
            if (IsHigh(digits[0])) {
                word_ |= 1U << code.firstProbe;
            }
            unknown_ &= ~(1U << code.firstProbe);
            return std::nullopt;
        }
        // Missing leading digits extend with 0, or with the unknown value the first digit is.
        const char extend = IsUnknown(digits[0]) ? digits[0] : '0';
        for (int j = 0; j < code.width; ++j) {
            const auto n = digits.size();
            const char c = static_cast<std::size_t>(j) < n
                               ? digits[n - 1 - static_cast<std::size_t>(j)]
                               : extend;
            const std::uint32_t bit = 1U << (code.firstProbe + j);
            word_ = IsHigh(c) ? (word_ | bit) : (word_ & ~bit);
            unknown_ = IsUnknown(c) ? (unknown_ | bit) : (unknown_ & ~bit);
        }
        return std::nullopt;
    }

    // Samples before `end` hold the values set so far.
    void FillTo(int end) {
        auto& samples = *out_.samples;
        const std::uint32_t levels = probeMask_ & ~eventMask_;
        for (int s = filled_; s < end; ++s) {
            const auto i = static_cast<std::size_t>(s) * 4;
            samples[i] = static_cast<std::uint8_t>(word_);
            samples[i + 1] = static_cast<std::uint8_t>(word_ >> 8);
            samples[i + 2] = static_cast<std::uint8_t>(word_ >> 16);
            samples[i + 3] = static_cast<std::uint8_t>(word_ >> 24);
            if (leadingUnknown_ == s && levels != 0 && (unknown_ & levels) == levels) {
                leadingUnknown_ = s + 1;
            }
            word_ &= ~eventMask_;
        }
        filled_ = std::max(filled_, end);
    }

    void Finish() {
        // The last time stamp closes the sample before it; changes after it make one more.
        int end = SamplesBefore(time_);
        if (anyChange_ && lastChange_ == time_) {
            end = std::max(end, std::min(SampleAt(time_) + 1, kSampleCount));
        }
        FillTo(end);
        out_.samplesCovered = filled_;
        out_.unfilledPairs = static_cast<std::uint16_t>(leadingUnknown_ / 2);
        const std::uint64_t first = origin_.value_or(0);
        if (first != 0) {
            out_.origin =
                "the file's time #" + std::to_string(first) +
                (unitFs_ != 0 ? " (" + FormatFs(static_cast<Wide>(first) * unitFs_) + ")" : "");
            out_.warnings.push_back("the file's dump starts at #" + std::to_string(first) +
                                    "; that is sample 0");
        }
        if (cutLine_ != 0) {
            const std::uint64_t period = periodFs_ == 0 ? 1 : periodFs_;
            const Wide spanFs = SinceOrigin(time_);
            std::string text = "the file runs past " + std::to_string(kSampleCount) +
                               " samples (line " + std::to_string(cutLine_) + "); only the first " +
                               std::to_string(kSampleCount) + " were read";
            if (unitFs_ != 0) {
                text += ": they cover " + FormatFs(static_cast<Wide>(period) * kSampleCount) +
                        " of the " + FormatFs(spanFs) + " the file spans (#" +
                        std::to_string(first) + " to #" + std::to_string(time_) + ")";
                // The fastest rate whose memory holds the whole run.
                std::int32_t fit = kExtRateIndex - 1;
                for (std::int32_t r = 0; r < kExtRateIndex; ++r) {
                    if (static_cast<Wide>(*PeriodNs(r)) * 1000000U * (kSampleCount - 1) >= spanFs) {
                        fit = r;
                        break;
                    }
                }
                text += "; to sample all of it, import with --rate " +
                        std::string(rateLabels[static_cast<std::size_t>(fit)]);
            }
            out_.warnings.push_back(text);
        } else if (filled_ < kSampleCount) {
            out_.warnings.push_back("the file covers " + std::to_string(filled_) +
                                    " samples; samples " + std::to_string(filled_) + " to " +
                                    std::to_string(kSampleCount - 1) + " read as 0");
        }
        if (triggerAt_) {
            const auto* match = std::find(kTriggerSamples.begin(), kTriggerSamples.end(),
                                          static_cast<std::int32_t>(*triggerAt_));
            if (match != kTriggerSamples.end()) {
                out_.triggerPosition = static_cast<std::int32_t>(match - kTriggerSamples.begin());
            } else {
                out_.warnings.push_back("the trigger mark stands at sample " +
                                        std::to_string(*triggerAt_) +
                                        ", which is no trigger position; TOP is assumed");
            }
        }
    }

    TokenReader& tokens_;
    const ImportOptions& options_;
    ImportedCapture& out_;
    std::vector<std::string> scopes_;
    std::vector<Variable> variables_;
    std::vector<Code> codes_;
    std::unordered_map<std::string, int> codeIndex_;
    std::vector<int> shortCodes_ = std::vector<int>(94 + 94 * 94, -1);
    bool pulsaraFile_ = false;
    long endLine_ = 0;
    long cutLine_ = 0;
    std::uint64_t unitFs_ = 0;   // 0: the file gives no timescale
    std::uint64_t periodFs_ = 0; // between two samples
    std::uint32_t probeMask_ = 0;
    std::uint32_t eventMask_ = 0;
    std::uint32_t word_ = 0;
    std::uint32_t unknown_ = 0;
    std::optional<std::uint64_t> origin_; // the first time stamp: sample 0
    std::uint64_t time_ = 0;
    std::uint64_t lastChange_ = 0;
    bool anyChange_ = false;
    int filled_ = 0;
    int leadingUnknown_ = 0;
    std::optional<std::int64_t> triggerAt_;
};

} // namespace

std::optional<std::string> ReadVcd(const std::filesystem::path& path, const ImportOptions& options,
                                   ImportedCapture& imported) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::string("cannot open it: ") + std::strerror(errno);
    }
    TokenReader tokens(in);
    return VcdParser(tokens, options, imported).Run();
}

} // namespace pulsara::detail
