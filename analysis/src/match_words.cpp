#include "analysis/search.h"

#include <algorithm>
#include <array>
#include <utility>

namespace pulsara::analysis {
namespace {

// Words as a shell splits them: blanks separate, ' and " quote, \ escapes one character.
Result<std::vector<std::string>> Split(std::string_view line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote != 0) {
            if (c == quote) {
                quote = 0;
            } else {
                word += c;
            }
        } else if (c == '\'' || c == '"') {
            quote = c;
            inWord = true;
        } else if (c == '\\' && i + 1 < line.size()) {
            word += line[++i];
            inWord = true;
        } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (inWord) {
                words.push_back(std::move(word));
                word.clear();
                inWord = false;
            }
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quote != 0) {
        return Result<std::vector<std::string>>::Fail(std::string("the match has an unclosed ") +
                                                      quote + " quote");
    }
    if (inWord) {
        words.push_back(std::move(word));
    }
    return words;
}

std::string Quoted(const std::string& word) {
    if (!word.empty() && word.find_first_of(" \t'\"\\") == std::string::npos) {
        return word;
    }
    std::string out = "'";
    for (const char c : word) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

} // namespace

Result<MatchWords> ParseMatchWords(std::string_view line) {
    auto split = Split(line);
    if (!split) {
        return Result<MatchWords>::Fail(split.error());
    }
    MatchWords words;
    const std::array<std::pair<std::string_view, std::optional<std::string> MatchWords::*>, 9>
        single = {{{"--signal", &MatchWords::signal},
                   {"-s", &MatchWords::signal},
                   {"--edge", &MatchWords::edge},
                   {"--pulse", &MatchWords::pulse},
                   {"--shorter", &MatchWords::shorter},
                   {"--longer", &MatchWords::longer},
                   {"--value", &MatchWords::value},
                   {"--mask", &MatchWords::mask},
                   {"--pattern", &MatchWords::pattern}}};
    const auto& list = *split;
    for (std::size_t i = 0; i < list.size(); ++i) {
        std::string name = list[i];
        std::optional<std::string> inlineValue;
        if (const auto eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        if (name == "--regex") {
            words.regex = true;
            continue;
        }
        const auto takeValue = [&]() -> std::optional<std::string> {
            if (inlineValue) {
                return inlineValue;
            }
            if (i + 1 < list.size()) {
                return list[++i];
            }
            return std::nullopt;
        };
        const auto* known = std::find_if(single.begin(), single.end(),
                                         [&](const auto& entry) { return entry.first == name; });
        const bool isList = name == "-P" || name == "--protocol-decoders" || name == "-A" ||
                            name == "--protocol-decoder-annotations" || name == "--text";
        if (known == single.end() && !isList) {
            return Result<MatchWords>::Fail(
                "the match does not take \"" + name +
                "\"; it takes --signal, --edge, --pulse, --shorter, --longer, --value, --mask, "
                "--pattern, -P, -A, --text and --regex");
        }
        const auto value = takeValue();
        if (!value) {
            return Result<MatchWords>::Fail(name + " needs a value");
        }
        if (name == "-P" || name == "--protocol-decoders") {
            words.stacks.push_back(*value);
        } else if (name == "-A" || name == "--protocol-decoder-annotations") {
            words.annotations.push_back(*value);
        } else if (name == "--text") {
            words.text = *value;
        } else {
            words.*(known->second) = *value;
        }
    }
    return words;
}

std::string MatchWordsText(const MatchWords& words) {
    std::string out;
    const auto add = [&](std::string_view name, const std::optional<std::string>& value) {
        if (value) {
            out += (out.empty() ? "" : " ") + std::string(name) + " " + Quoted(*value);
        }
    };
    add("--signal", words.signal);
    add("--edge", words.edge);
    add("--pulse", words.pulse);
    add("--shorter", words.shorter);
    add("--longer", words.longer);
    add("--value", words.value);
    add("--mask", words.mask);
    add("--pattern", words.pattern);
    for (const auto& stack : words.stacks) {
        add("-P", stack);
    }
    for (const auto& a : words.annotations) {
        add("-A", a);
    }
    add("--text", words.text);
    if (words.regex) {
        out += out.empty() ? "--regex" : " --regex";
    }
    return out;
}

} // namespace pulsara::analysis
