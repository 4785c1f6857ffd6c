#pragma once
// The protocol decoders libsigrokdecode has installed (Debian: libsigrokdecode4), described
// as plain values: channels, options with their typed defaults, annotation classes and rows.

#include "analysis/result.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace pulsara::analysis {

// An option's value has the type of the decoder's default: integer, real or text.
using OptionValue = std::variant<std::int64_t, double, std::string>;

[[nodiscard]] std::string OptionText(const OptionValue& value);
[[nodiscard]] std::string_view OptionTypeName(const OptionValue& value);

struct DecoderChannel {
    std::string id;
    std::string name;
    std::string desc;
};

struct DecoderOption {
    std::string id;
    std::string desc;
    OptionValue defaultValue;
    std::vector<OptionValue> values; // the choices, when the decoder names them
};

struct AnnotationClass {
    std::string id;
    std::string desc;
};

struct AnnotationRow {
    std::string id;
    std::string desc;
    std::vector<int> classes; // indices into DecoderInfo::annotations
};

struct DecoderInfo {
    std::string id;
    std::string name;
    std::string longname;
    std::string desc;
    std::vector<std::string> inputs;  // "logic" for a decoder that reads probes
    std::vector<std::string> outputs; // what a decoder stacked on top can take
    std::vector<DecoderChannel> channels;
    std::vector<DecoderChannel> optionalChannels;
    std::vector<DecoderOption> options;
    std::vector<AnnotationClass> annotations;
    std::vector<AnnotationRow> rows;
};

// Every installed decoder, by id. Loads them all (a few hundred milliseconds once).
[[nodiscard]] Result<std::vector<DecoderInfo>> InstalledDecoders();

} // namespace pulsara::analysis
