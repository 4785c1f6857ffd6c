#pragma once
// The VCD text of a capture, built in memory and written in one piece.

#include "capture/capture.h"
#include "capture/interop.h"

#include <string>
#include <vector>

namespace pulsara::detail {

// Appends to warnings what the file shows differently from the capture.
[[nodiscard]] std::string WriteVcd(const Capture& capture, const VcdOptions& options,
                                   std::vector<std::string>& warnings);

} // namespace pulsara::detail
