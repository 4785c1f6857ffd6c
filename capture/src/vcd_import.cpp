// VCD import: 1-bit wires and vectors (split into bits) in declaration order onto probes,
// one sample per time unit.

#include "exchange_names.h"
#include "exchange_settings.h"
#include "token_reader.h"
#include "vcd_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <unordered_map>

namespace pulsara::detail {
namespace {

struct Variable {
    std::string name; // the reference, with a one-bit select kept ("D[3]")
    int code = 0;     // index into the distinct identifier codes
    long line = 0;
};

struct Code {
    int width = 1;
    int firstProbe = -1; // -1: the values set no probe (the trigger mark, a repeated bus)
    bool triggerMark = false;
};

constexpr std::size_t kMaxVariables = 4096;

bool IsValueDigit(char c) {
    return c == '0' || c == '1' || c == 'x' || c == 'X' || c == 'z' || c == 'Z';
}

bool IsUnknown(char c) {
    return c == 'x' || c == 'X' || c == 'z' || c == 'Z';
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
    VcdParser(TokenReader& tokens, ImportedCapture& out) : tokens_(tokens), out_(out) {}

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
                out_.rateIndex = RateIndexForPeriodFs(*fs);
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
        if (parts[0] == "real" || parts[0] == "realtime") {
            return At(line, "variable \"" + parts[3] +
                                "\" is real-valued; only logic values "
                                "can become probes");
        }
        const auto width = ParseCount(parts[1]);
        if (!width || *width == 0 || *width > 32) {
            return At(line, "variable \"" + parts[3] + "\" has width \"" + parts[1] +
                                "\"; pulsara reads widths 1 to 32 (32 probes)");
        }
        std::string name = parts[3];
        for (std::size_t i = 4; i < parts.size(); ++i) {
            name += parts[i];
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
            codes_.push_back({static_cast<int>(*width), -1, false});
        } else if (codes_[static_cast<std::size_t>(it->second)].width != static_cast<int>(*width)) {
            return At(line, "identifier \"" + parts[2] + "\" is declared again with another width");
        }
        variables_.push_back({name, it->second, line});
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

    std::optional<std::string> Layout() {
        if (pulsaraFile_) {
            for (const auto& v : variables_) {
                auto& code = codes_[static_cast<std::size_t>(v.code)];
                if (code.width == 1 && v.name == kTriggerSignalName) {
                    code.triggerMark = true;
                }
            }
        }
        int probes = 0;
        std::vector<bool> skipped(codes_.size(), false);
        for (const auto& v : variables_) {
            auto& code = codes_[static_cast<std::size_t>(v.code)];
            if (code.firstProbe >= 0 || code.triggerMark ||
                skipped[static_cast<std::size_t>(v.code)]) {
                continue;
            }
            if (pulsaraFile_ && code.width > 1 && RepeatsWires(v, code.width)) {
                skipped[static_cast<std::size_t>(v.code)] = true;
                continue;
            }
            code.firstProbe = probes;
            probes += code.width;
        }
        if (probes > 32) {
            return At(endLine_, "the file declares " + std::to_string(probes) +
                                    " signal bits; pulsara has 32 probes. Export at most 32 "
                                    "bits from the tool that wrote it");
        }
        if (probes == 0) {
            return At(endLine_, "the file declares no signals to read");
        }
        probeMask_ = probes == 32 ? 0xFFFFFFFFU : ((1U << probes) - 1U);
        unknown_ = probeMask_; // every value is x until the file sets it
        for (const auto& v : variables_) {
            const auto& code = codes_[static_cast<std::size_t>(v.code)];
            if (code.firstProbe < 0) {
                continue;
            }
            ImportedRow row{v.name, {}};
            for (int j = 0; j < code.width; ++j) {
                row.probes.push_back(code.firstProbe + j);
            }
            out_.rows.push_back(std::move(row));
        }
        return std::nullopt;
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
                if (*time < time_) {
                    return At(line, "time goes back from " + std::to_string(time_) + " to " +
                                        std::to_string(*time));
                }
                FillTo(*time);
                time_ = *time;
                if (time_ > static_cast<std::uint64_t>(kSampleCount)) {
                    cutLine_ = line;
                    return std::nullopt;
                }
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
            } else if (first == 'r' || first == 'R') {
                return At(line, "real value \"" + std::string(token.substr(0, 40)) +
                                    "\": only logic values can become probes");
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
            (scalar && code.width != 1)) {
            return At(line, "value \"" + std::string(digits.substr(0, 40)) +
                                "\" does not fit the " + std::to_string(code.width) +
                                "-bit variable \"" + std::string(id) + "\"");
        }
        if (time_ >= static_cast<std::uint64_t>(kSampleCount)) {
            cutLine_ = line; // a change after the last sample
            return std::nullopt;
        }
        lastChange_ = time_;
        anyChange_ = true;
        if (code.triggerMark) {
            if (digits[0] == '1' && !triggerAt_) {
                triggerAt_ = time_;
            }
            return std::nullopt;
        }
        if (code.firstProbe < 0) {
            return std::nullopt;
        }
        // Missing leading digits extend with 0, or with x or z when the first digit is one.
        const char extend = IsUnknown(digits[0]) ? digits[0] : '0';
        for (int j = 0; j < code.width; ++j) {
            const auto n = digits.size();
            const char c = static_cast<std::size_t>(j) < n
                               ? digits[n - 1 - static_cast<std::size_t>(j)]
                               : extend;
            const std::uint32_t bit = 1U << (code.firstProbe + j);
            word_ = c == '1' ? (word_ | bit) : (word_ & ~bit);
            unknown_ = IsUnknown(c) ? (unknown_ | bit) : (unknown_ & ~bit);
        }
        return std::nullopt;
    }

    // Samples before `time` hold the values set so far.
    void FillTo(std::uint64_t time) {
        const int end = static_cast<int>(std::min<std::uint64_t>(time, kSampleCount));
        auto& samples = *out_.samples;
        for (int s = filled_; s < end; ++s) {
            const auto i = static_cast<std::size_t>(s) * 4;
            samples[i] = static_cast<std::uint8_t>(word_);
            samples[i + 1] = static_cast<std::uint8_t>(word_ >> 8);
            samples[i + 2] = static_cast<std::uint8_t>(word_ >> 16);
            samples[i + 3] = static_cast<std::uint8_t>(word_ >> 24);
            if (leadingUnknown_ == s && unknown_ == probeMask_) {
                leadingUnknown_ = s + 1;
            }
        }
        filled_ = std::max(filled_, end);
    }

    void Finish() {
        // The last time stamp closes the sample before it; changes after it make one more.
        const std::uint64_t end = std::max(time_, anyChange_ ? lastChange_ + 1 : 0);
        FillTo(end);
        out_.samplesCovered = filled_;
        out_.unfilledPairs = static_cast<std::uint16_t>(leadingUnknown_ / 2);
        if (cutLine_ != 0) {
            out_.warnings.push_back("the file runs past " + std::to_string(kSampleCount) +
                                    " samples (line " + std::to_string(cutLine_) +
                                    "); only the first " + std::to_string(kSampleCount) +
                                    " were read");
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
    ImportedCapture& out_;
    std::vector<Variable> variables_;
    std::vector<Code> codes_;
    std::unordered_map<std::string, int> codeIndex_;
    std::vector<int> shortCodes_ = std::vector<int>(94 + 94 * 94, -1);
    bool pulsaraFile_ = false;
    long endLine_ = 0;
    long cutLine_ = 0;
    std::uint32_t probeMask_ = 0;
    std::uint32_t word_ = 0;
    std::uint32_t unknown_ = 0;
    std::uint64_t time_ = 0;
    std::uint64_t lastChange_ = 0;
    bool anyChange_ = false;
    int filled_ = 0;
    int leadingUnknown_ = 0;
    std::optional<std::uint64_t> triggerAt_;
};

} // namespace

std::optional<std::string> ReadVcd(const std::filesystem::path& path, ImportedCapture& imported) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::string("cannot open it: ") + std::strerror(errno);
    }
    TokenReader tokens(in);
    return VcdParser(tokens, imported).Run();
}

} // namespace pulsara::detail
