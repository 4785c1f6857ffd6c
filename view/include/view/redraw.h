#pragma once
// The whole view in one call, as the window's paint handler, the scroll handlers and the
// render command use it.

#include "capture/capture.h"
#include "view/canvas.h"

#include <cstdint>

namespace pulsara {

// Clears `client` to white, draws the ruler and the 13 row slots for scroll positions h and
// v, all clipped to `client`. Slots past rowCount stay empty. Leaves the canvas's pen, font
// and clip as it found them (no clip).
void RedrawView(Canvas& canvas, const Rect& client, const Capture& capture, std::int32_t h,
                std::int32_t v);

} // namespace pulsara
