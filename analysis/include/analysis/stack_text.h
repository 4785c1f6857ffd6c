#pragma once
// The stack text PlanDecode parses ("uart:tx=UART_TX:baudrate=115200"), written for a
// decoder chosen in the window: which signal each decoder channel most likely means (from
// row names like RX, SCL, SDA, MOSI), and the text for a choice.

#include "analysis/decoders.h"

#include <string>
#include <utility>
#include <vector>

namespace pulsara::analysis {

// For every channel of the decoder (required first, then optional), the signal it is
// guessed to be, or "" for none. Each signal is used at most once.
[[nodiscard]] std::vector<std::pair<std::string, std::string>>
GuessChannels(const DecoderInfo& decoder, const std::vector<std::string>& signalNames);

// "uart:tx=UART_TX:baudrate=115200": channels without a signal and options left at their
// defaults are not written.
[[nodiscard]] std::string
StackText(const std::string& decoderId,
          const std::vector<std::pair<std::string, std::string>>& channels,
          const std::vector<std::pair<std::string, std::string>>& options = {});

} // namespace pulsara::analysis
