#pragma once
// `pulsara-cli capture --count N`: N captures one after another on the same board, each
// saved under its own numbered name.

#include "capture/capture.h"
#include "cli/board_session.h"

#include <filesystem>

namespace pulsara::cli {

// The k-th name of a series: the number goes before the first "." of the file name, so
// that every capture keeps a companion of its own (run.wfa -> run-2.wfa and run-2.wfd;
// a.b.wfa -> a-2.b.wfa, whose companion is a-2.wfd).
[[nodiscard]] std::filesystem::path SeriesPath(const std::filesystem::path& output, int k);

// RunBoardCapture `count` times with the outputs SeriesPath(request.output, 1..count),
// saying on err which capture of how many runs. Stops at the first that fails and returns
// its exit status; 0 when all were saved.
[[nodiscard]] int RunCaptureSeries(EzusbDriver& driver, Capture& capture,
                                   std::span<const std::uint8_t> image,
                                   const BoardCaptureRequest& request, int count, Clock& clock,
                                   std::ostream& out, std::ostream& err);

} // namespace pulsara::cli
