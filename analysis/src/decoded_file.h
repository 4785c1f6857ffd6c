#pragma once
// The file a remembered decode is kept in: the key it answers, the stamps of the decoder
// sources it was made from, the plan, and the annotations with their texts stored once.

#include "analysis/decode_cache.h"
#include "decoder_sources.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pulsara::analysis::detail {

struct DecodedFile {
    std::string key;
    std::vector<FileStamp> stamps;
    DecodePlan plan;
    std::vector<Annotation> annotations;
};

[[nodiscard]] std::string EncodeDecodedFile(const DecodedFile& file);

// Nothing for bytes that are not a whole file of this format and version.
[[nodiscard]] std::optional<DecodedFile> DecodeDecodedFile(std::string_view bytes);

} // namespace pulsara::analysis::detail
