#include "analysis/decode.h"

#include "decoder_catalogue.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace pulsara::analysis {
namespace {

using Plan = Result<DecodePlan>;

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t from = 0;
    while (true) {
        const auto at = text.find(separator, from);
        parts.push_back(text.substr(from, at == std::string_view::npos ? at : at - from));
        if (at == std::string_view::npos) {
            return parts;
        }
        from = at + 1;
    }
}

template <typename T> std::string Join(const std::vector<T>& items, const auto& text) {
    std::string out;
    for (const auto& item : items) {
        out += (out.empty() ? "" : ", ") + text(item);
    }
    return out.empty() ? "none" : out;
}

const DecoderChannel* ChannelNamed(const DecoderInfo& d, std::string_view id) {
    for (const auto* list : {&d.channels, &d.optionalChannels}) {
        for (const auto& ch : *list) {
            if (ch.id == id) {
                return &ch;
            }
        }
    }
    return nullptr;
}

const DecoderOption* OptionNamed(const DecoderInfo& d, std::string_view id) {
    const auto it = std::find_if(d.options.begin(), d.options.end(),
                                 [&](const DecoderOption& o) { return o.id == id; });
    return it == d.options.end() ? nullptr : &*it;
}

// The text as a value of the default's type: whole text, no overflow.
std::optional<OptionValue> Typed(const OptionValue& like, const std::string& text) {
    if (like.index() == 2) {
        return OptionValue(text);
    }
    if (text.empty() || std::isspace(static_cast<unsigned char>(text.front())) != 0) {
        return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    if (like.index() == 0) {
        const long long value = std::strtoll(text.c_str(), &end, 0);
        if (errno != 0 || *end != '\0') {
            return std::nullopt;
        }
        return OptionValue(static_cast<std::int64_t>(value));
    }
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(value)) {
        return std::nullopt;
    }
    return OptionValue(value);
}

std::string Choices(const DecoderOption& option) {
    return Join(option.values, [](const OptionValue& v) { return OptionText(v); });
}

Result<DecoderSetup> SetUp(const Capture& capture, const DecodeRequest& request,
                           const DecoderInfo& decoder,
                           const std::vector<std::string_view>& tokens) {
    using R = Result<DecoderSetup>;
    DecoderSetup setup{decoder, {}, {}};
    const std::string& id = decoder.id;
    std::vector<std::string> seen;
    for (std::size_t i = 1; i < tokens.size(); ++i) {
        const auto eq = tokens[i].find('=');
        const std::string key(tokens[i].substr(0, eq));
        if (eq == std::string_view::npos || key.empty()) {
            return R::Fail(id + ": \"" + std::string(tokens[i]) +
                           "\" needs a name and a value, as NAME=VALUE");
        }
        const std::string value(tokens[i].substr(eq + 1));
        if (std::find(seen.begin(), seen.end(), key) != seen.end()) {
            return R::Fail(id + ": " + key + " is given twice");
        }
        seen.push_back(key);
        if (ChannelNamed(decoder, key) != nullptr) {
            const auto signal = ResolveSignal(capture.channels, value, request.decodeName);
            if (!signal) {
                return R::Fail(id + " channel " + key + ": " + signal.error());
            }
            setup.channels.emplace_back(key, signal->probe);
        } else if (const auto* option = OptionNamed(decoder, key)) {
            const auto typed = Typed(option->defaultValue, value);
            if (!typed) {
                return R::Fail(id + " option " + key + " takes " +
                               std::string(OptionTypeName(option->defaultValue)) + " (default " +
                               OptionText(option->defaultValue) + "), not \"" + value + "\"");
            }
            // A decoder compares its text choices exactly; another text would be ignored
            // or fail deep inside the decoder.
            if (typed->index() == 2 && !option->values.empty() &&
                std::find(option->values.begin(), option->values.end(), *typed) ==
                    option->values.end()) {
                return R::Fail(id + " option " + key + " is one of " + Choices(*option) +
                               ", not \"" + value + "\"");
            }
            setup.options.emplace_back(key, *typed);
        } else {
            const auto ids = [](const auto& x) { return x.id; };
            std::vector<DecoderChannel> all = decoder.channels;
            all.insert(all.end(), decoder.optionalChannels.begin(), decoder.optionalChannels.end());
            return R::Fail(id + " has no channel or option \"" + key + "\" (channels: " +
                           Join(all, ids) + "; options: " + Join(decoder.options, ids) +
                           "); `pulsara-cli decode --list` describes them");
        }
    }
    return setup;
}

Result<std::vector<DecoderSetup>> PlanStack(detail::SrdLock& lock, const Capture& capture,
                                            const DecodeRequest& request, const std::string& text) {
    using R = Result<std::vector<DecoderSetup>>;
    std::vector<DecoderSetup> stack;
    for (const auto element : Split(text, ',')) {
        const auto tokens = Split(element, ':');
        if (tokens[0].empty()) {
            return R::Fail("\"" + text +
                           "\" has an empty decoder; write ID:KEY=VALUE:..., stacked with commas");
        }
        auto decoder = detail::LoadDecoder(lock, tokens[0]);
        if (!decoder) {
            return R::Fail(decoder.error());
        }
        const auto& d = decoder.value();
        const bool bottom = stack.empty();
        const auto& takes = d.inputs;
        if (bottom && std::find(takes.begin(), takes.end(), "logic") == takes.end()) {
            const std::string input = takes.empty() ? std::string("?") : takes.front();
            return R::Fail(d.id + " decodes what another decoder gives (" + input +
                           "), not probes; stack it on one with a comma, as in " + input + ":...," +
                           d.id);
        }
        if (!bottom) {
            const auto& gives = stack.back().decoder.outputs;
            const bool fits = std::any_of(takes.begin(), takes.end(), [&](const std::string& in) {
                return std::find(gives.begin(), gives.end(), in) != gives.end();
            });
            if (!fits) {
                const auto same = [](const std::string& s) { return s; };
                return R::Fail(d.id + " cannot stack on " + stack.back().decoder.id +
                               ": it takes " + Join(takes, same) + ", and " +
                               stack.back().decoder.id + " gives " + Join(gives, same));
            }
        }
        auto setup = SetUp(capture, request, d, tokens);
        if (!setup) {
            return R::Fail(setup.error());
        }
        if (bottom) {
            std::string missing;
            for (const auto& ch : d.channels) {
                const auto& given = setup->channels;
                if (std::none_of(given.begin(), given.end(),
                                 [&](const auto& c) { return c.first == ch.id; })) {
                    missing += (missing.empty() ? "" : ", ") + ch.id + " (" + ch.desc + ")";
                }
            }
            if (!missing.empty()) {
                return R::Fail(d.id + " needs channel " + missing +
                               "; map each to a signal as ID=NAME");
            }
            if (setup->channels.empty()) {
                const auto ids = [](const DecoderChannel& c) { return c.id; };
                return R::Fail(d.id + " needs at least one of its channels (" +
                               Join(d.optionalChannels, ids) + "); map one to a signal as ID=NAME");
            }
        }
        stack.push_back(std::move(setup).value());
    }
    return stack;
}

} // namespace

Result<DecodePlan> PlanDecode(const Capture& capture, const DecodeRequest& request) {
    if (request.stacks.empty()) {
        return Plan::Fail("name a decoder stack, as in uart:rx=NAME:baudrate=115200");
    }
    DecodePlan plan;
    plan.firstSample = FirstCapturedSample(capture.settings);
    if (plan.firstSample >= kSampleCount) {
        return Plan::Fail("the capture holds no data: every sample pair is unfilled");
    }
    if (request.samplerate) {
        plan.samplerate = *request.samplerate;
    } else if (const auto rate = SampleRateHz(capture.settings)) {
        plan.samplerate = *rate;
    } else {
        return Plan::Fail("the capture ran on the external clock (EXT), so its sample rate is "
                          "unknown; give it with --samplerate HZ");
    }
    if (plan.samplerate == 0) {
        return Plan::Fail("a sample rate of 0 Hz cannot be decoded; give the rate in hertz");
    }
    auto lock = detail::LockSrd();
    if (!lock) {
        return Plan::Fail(lock.error());
    }
    int highestProbe = 0;
    for (const auto& text : request.stacks) {
        auto stack = PlanStack(lock.value(), capture, request, text);
        if (!stack) {
            return Plan::Fail(stack.error());
        }
        for (const auto& channel : stack->front().channels) {
            highestProbe = std::max(highestProbe, channel.second);
        }
        plan.stacks.push_back(std::move(stack).value());
    }
    plan.unitSize = highestProbe / 8 + 1;
    return plan;
}

} // namespace pulsara::analysis
