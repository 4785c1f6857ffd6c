#include "analysis/stack_text.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <tuple>
#include <utility>

namespace pulsara::analysis {
namespace {

std::string Upper(std::string_view text) {
    std::string out;
    for (const char c : text) {
        out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

// "I2C_SDA" -> {"I2C", "SDA"}; "SPI_CS#" -> {"SPI", "CS"}.
std::vector<std::string> Words(std::string_view name) {
    std::vector<std::string> words;
    std::string word;
    for (const char c : name) {
        if (std::isalnum(static_cast<unsigned char>(c)) != 0) {
            word += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        } else if (!word.empty()) {
            words.push_back(std::exchange(word, {}));
        }
    }
    if (!word.empty()) {
        words.push_back(word);
    }
    return words;
}

// What users call a channel besides its id.
std::vector<std::string> NamesFor(const DecoderChannel& channel) {
    std::vector<std::string> names = {Upper(channel.id), Upper(channel.name)};
    static const std::vector<std::pair<std::string, std::vector<std::string>>> kAlso = {
        {"CLK", {"SCK", "SCLK", "CLOCK"}},
        {"CS", {"SS", "NSS", "CE", "CSN", "NCS"}},
        {"DATA", {"DQ", "DAT"}},
    };
    for (const auto& [id, also] : kAlso) {
        if (Upper(channel.id) == id) {
            names.insert(names.end(), also.begin(), also.end());
        }
    }
    return names;
}

// 3: the whole name is the channel's; 2: one word of it is, and another names the
// decoder ("SPI_MOSI" for spi's mosi); 1: one word is; 0: no match.
int Score(const std::string& signal, const DecoderChannel& channel, const std::string& decoderId) {
    const std::vector<std::string> names = NamesFor(channel);
    const auto named = [&](const std::string& word) {
        return std::find(names.begin(), names.end(), word) != names.end();
    };
    const std::vector<std::string> words = Words(signal);
    if (words.size() == 1 && named(words.front())) {
        return 3;
    }
    if (std::none_of(words.begin(), words.end(), named)) {
        return 0;
    }
    const std::string decoder = Upper(decoderId);
    const bool decoderNamed = std::any_of(words.begin(), words.end(), [&](const std::string& w) {
        return w == decoder || (decoder.size() > 2 && w.starts_with(decoder));
    });
    return decoderNamed ? 2 : 1;
}

} // namespace

std::vector<std::pair<std::string, std::string>>
GuessChannels(const DecoderInfo& decoder, const std::vector<std::string>& signalNames) {
    std::vector<const DecoderChannel*> channels;
    for (const auto* list : {&decoder.channels, &decoder.optionalChannels}) {
        for (const auto& channel : *list) {
            channels.push_back(&channel);
        }
    }
    // Best matches first, so a strong guess is never taken by a weaker one.
    std::vector<std::tuple<int, std::size_t, std::size_t>> candidates;
    for (std::size_t c = 0; c < channels.size(); ++c) {
        for (std::size_t s = 0; s < signalNames.size(); ++s) {
            if (const int score = Score(signalNames[s], *channels[c], decoder.id); score > 0) {
                candidates.emplace_back(-score, c, s);
            }
        }
    }
    std::sort(candidates.begin(), candidates.end());
    std::vector<std::pair<std::string, std::string>> mapping;
    for (const auto* channel : channels) {
        mapping.emplace_back(channel->id, std::string{});
    }
    std::set<std::size_t> usedSignals;
    for (const auto& [score, c, s] : candidates) {
        if (mapping[c].second.empty() && !usedSignals.contains(s)) {
            mapping[c].second = signalNames[s];
            usedSignals.insert(s);
        }
    }
    return mapping;
}

std::string StackText(const std::string& decoderId,
                      const std::vector<std::pair<std::string, std::string>>& channels,
                      const std::vector<std::pair<std::string, std::string>>& options) {
    std::string text = decoderId;
    for (const auto& [id, signal] : channels) {
        if (!signal.empty()) {
            text += ":" + id + "=" + signal;
        }
    }
    for (const auto& [id, value] : options) {
        text += ":" + id + "=" + value;
    }
    return text;
}

} // namespace pulsara::analysis
