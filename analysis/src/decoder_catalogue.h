#pragma once
// Loading decoders by id, for callers that already hold the library.

#include "analysis/decoders.h"
#include "srd_library.h"

#include <string_view>

namespace pulsara::analysis::detail {

// Loads the decoder when it is installed. Only names of installed decoders reach
// libsigrokdecode: it would import any Python module by that name.
[[nodiscard]] Result<DecoderInfo> LoadDecoder(SrdLock& lock, std::string_view id);

} // namespace pulsara::analysis::detail
