#pragma once
// The VCD text of a capture, handed out in pieces as it is made.

#include "capture/capture.h"
#include "capture/interop.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace pulsara::detail {

// Takes the next piece of the file; false stops the writer.
using VcdSink = std::function<bool(std::string_view)>;

// Hands the whole file to sink in order; false when the sink refused a piece. Appends to
// warnings what the file shows differently from the capture.
[[nodiscard]] bool WriteVcd(const Capture& capture, const VcdOptions& options,
                            std::vector<std::string>& warnings, const VcdSink& sink);

} // namespace pulsara::detail
