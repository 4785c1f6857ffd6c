#pragma once
// capture --until: a search on top of the board's one trigger condition. The board is
// armed again after every completed capture that holds no match, up to a number of tries.

#include "cli/board_session.h"

#include <string>

namespace pulsara::cli {

struct UntilRequest {
    std::string match; // as find takes it: "--signal 25 --pulse high --longer 1us"
    int tries = 100;
};

// RunBoardCapture that keeps only a capture with a match, saved with the view at the
// match's start. The try count goes to err. Returns 0 when one was saved, 1 when no try
// matched or the board failed, 2 when the match cannot be read.
[[nodiscard]] int RunBoardCaptureUntil(EzusbDriver& driver, Capture& capture,
                                       std::span<const std::uint8_t> image,
                                       BoardCaptureRequest request, const UntilRequest& until,
                                       Clock& clock, std::ostream& out, std::ostream& err);

// The scroll position that puts `sample` in the middle of the main window's view.
[[nodiscard]] std::int32_t ScrollPosShowing(int sample);

} // namespace pulsara::cli
