#pragma once
// Where the capture shown differs from a pinned reference, drawn over the analysis view:
// a coloured bar along the top of each channel row over every differing range, and the
// same ranges along the bottom of the overview strip. At least one pixel wide, so a
// one-sample difference shows at every zoom.

#include "analysis/compare.h"
#include "view/analysis_scene.h"
#include "view/canvas.h"

#include <span>

namespace pulsara {

inline constexpr Rgb kDifferenceColour{220, 40, 40};

// rows[r] is channel row r's difference (rows beyond the table are ignored).
void DrawDifferenceMarks(Canvas& canvas, const Rect& client, const AnalysisScene& scene,
                         std::span<const analysis::TargetDifference> rows);

} // namespace pulsara
