#pragma once
// A capture decoded once per request and kept on disk, so that asking the same capture
// again (find with another text, --count after a listing) skips the decoders and the
// Python interpreter under them: a decode of a busy capture takes tens of milliseconds,
// reading it back well under one.
//
//   auto decoded = DecodeRemembered(capture, request, DefaultDecodeCacheFolder());
//   if (!decoded) { show(decoded.error()); return; }   // PlanDecode's or the decoder's error
//   use(decoded->plan, decoded->annotations);
//
// An entry is keyed by everything the result depends on (the samples, settings and rows
// of the capture, the request, libsigrokdecode's version) and is only used while the
// decoder source files it was made from are unchanged and no other copy of those decoders
// has been installed where libsigrokdecode would find it first. Failed decodes are not
// kept. A missing, unreadable or spoilt entry is decoded afresh and written again.

#include "analysis/decode.h"
#include "analysis/result.h"
#include "capture/capture.h"

#include <filesystem>
#include <vector>

namespace pulsara::analysis {

struct DecodedCapture {
    DecodePlan plan;
    std::vector<Annotation> annotations; // in the order the decoders gave them
    bool fromCache = false;
};

// $XDG_CACHE_HOME/pulsara/decoded (else ~/.cache/pulsara/decoded); empty when there is no
// home to keep it in.
[[nodiscard]] std::filesystem::path DefaultDecodeCacheFolder();

// With an empty folder this is PlanDecode and RunDecode, keeping nothing. Writing the
// entry is best effort: a folder that cannot be written only costs the next run the time.
// The folder keeps the 64 entries used last.
[[nodiscard]] Result<DecodedCapture> DecodeRemembered(const Capture& capture,
                                                      const DecodeRequest& request,
                                                      const std::filesystem::path& folder);

} // namespace pulsara::analysis
