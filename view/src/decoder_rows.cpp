#include "view/decoder_rows.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <tuple>

namespace pulsara {
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
std::vector<std::string> NamesFor(const analysis::DecoderChannel& channel) {
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
int Score(const std::string& signal, const analysis::DecoderChannel& channel,
          const std::string& decoderId) {
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
GuessChannels(const analysis::DecoderInfo& decoder, const std::vector<std::string>& signalNames) {
    std::vector<const analysis::DecoderChannel*> channels;
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

std::vector<AnnotationRow> LayOutAnnotations(const analysis::DecodePlan& plan,
                                             const std::vector<analysis::Annotation>& annotations) {
    std::vector<AnnotationRow> rows;
    // (stack, decoder id, row id or class id) -> index into rows.
    std::map<std::tuple<int, std::string, std::string>, std::size_t> index;
    for (std::size_t s = 0; s < plan.stacks.size(); ++s) {
        for (const auto& setup : plan.stacks[s]) {
            const auto& info = setup.decoder;
            std::set<int> inRows;
            for (const auto& row : info.rows) {
                index[{static_cast<int>(s), info.id, row.id}] = rows.size();
                rows.push_back({info.id + " " + row.id, {}, {}, false});
                inRows.insert(row.classes.begin(), row.classes.end());
            }
            for (std::size_t c = 0; c < info.annotations.size(); ++c) {
                if (!inRows.contains(static_cast<int>(c))) {
                    index[{static_cast<int>(s), info.id, info.annotations[c].id}] = rows.size();
                    rows.push_back({info.id + " " + info.annotations[c].id, {}, {}, false});
                }
            }
        }
    }
    for (const auto& a : annotations) {
        const auto it = index.find({a.stack, a.decoder, a.row.value_or(a.className)});
        if (it == index.end()) {
            continue;
        }
        const auto clampSample = [](std::uint64_t s) {
            return static_cast<int>(std::min<std::uint64_t>(s, kSampleCount));
        };
        rows[it->second].boxes.push_back({clampSample(a.start), clampSample(a.end), a.texts});
    }
    std::erase_if(rows, [](const AnnotationRow& row) { return row.boxes.empty(); });
    for (auto& row : rows) {
        std::stable_sort(
            row.boxes.begin(), row.boxes.end(),
            [](const AnnotationBox& x, const AnnotationBox& y) { return x.first < y.first; });
    }
    return rows;
}

} // namespace pulsara
