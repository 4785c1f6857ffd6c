#pragma once
// Decoders in the analysis view: which signal each decoder channel most likely means (from
// row names like RX, SCL, SDA, MOSI), the sigrok-style stack text for a choice, and the
// decoded annotations laid out as the view's rows, one per annotation row of a decoder.

#include "analysis/decode.h"
#include "analysis/decoders.h"
#include "view/analysis_scene.h"

#include <map>
#include <string>
#include <vector>

namespace pulsara {

// For every channel of the decoder (required first, then optional), the signal it is
// guessed to be, or "" for none. Each signal is used at most once.
[[nodiscard]] std::vector<std::pair<std::string, std::string>>
GuessChannels(const analysis::DecoderInfo& decoder, const std::vector<std::string>& signalNames);

// "uart:tx=UART_TX:baudrate=115200": channels without a signal and options left at their
// defaults are not written.
[[nodiscard]] std::string
StackText(const std::string& decoderId,
          const std::vector<std::pair<std::string, std::string>>& channels,
          const std::vector<std::pair<std::string, std::string>>& options = {});

// One view row per annotation row (and per class that belongs to no row) of every decoder
// in the plan, in stack order, boxes sorted; rows that got no annotation are left out.
[[nodiscard]] std::vector<AnnotationRow>
LayOutAnnotations(const analysis::DecodePlan& plan,
                  const std::vector<analysis::Annotation>& annotations);

} // namespace pulsara
