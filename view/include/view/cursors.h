#pragma once
// Cursors A and B: where a click puts one (onto a nearby edge), and what the window says
// about the two.

#include "capture/capture.h"
#include "view/analysis_scene.h"
#include "view/change_table.h"
#include "view/time_window.h"

#include <cstdint>
#include <string>

namespace pulsara {

inline constexpr int kSnapPixels = 5;

// The sample boundary for a click at x (trace-area pixels): the edge of a probe in `mask`
// nearest to x when one lies within kSnapPixels, else the boundary nearest to x.
[[nodiscard]] int SnapToEdge(const ChangeTable& changes, std::uint32_t mask,
                             const TimeWindow& window, double x);

// "A 1.200 us (#36)   B ...   B-A 2.200 us (22 samples)   1/(B-A) 454.5 kHz", times from
// the trigger; samples only for the external clock. Empty without cursors.
[[nodiscard]] std::string CursorReadout(const CursorPair& cursors, const CaptureSettings& settings);

} // namespace pulsara
