#pragma once
// Moving through the capture: the two scroll bars' rules, the edge search behind the mouse
// buttons, and where a mouse jump puts the view. Pure functions; the window keeps the
// positions in its scroll bars and applies the results.

#include "capture/capture.h"

#include <cstdint>

namespace pulsara {

// The scroll codes a scroll message carries, in their numeric order.
enum ScrollCode : int {
    kScrollLineBack = 0,  // SB_LINELEFT / SB_LINEUP
    kScrollLineForward,   // SB_LINERIGHT / SB_LINEDOWN
    kScrollPageBack,      // SB_PAGELEFT / SB_PAGEUP
    kScrollPageForward,   // SB_PAGERIGHT / SB_PAGEDOWN
    kScrollThumbPosition, // SB_THUMBPOSITION
    kScrollThumbTrack,    // SB_THUMBTRACK
    kScrollToMinimum,     // SB_LEFT / SB_TOP
    kScrollToMaximum,     // SB_RIGHT / SB_BOTTOM
    kScrollEnd,           // SB_ENDSCROLL, and any other code: no move
};

struct ScrollRange {
    std::int32_t min = 0;
    std::int32_t max = 0;

    friend constexpr bool operator==(const ScrollRange&, const ScrollRange&) = default;
};

inline constexpr ScrollRange kHorizontalScrollRange{kHorizontalScrollMin, kHorizontalScrollMax};

// 0..max(0, rowCount - 13): the rows past the 13 slots.
[[nodiscard]] ScrollRange VerticalScrollRange(std::int32_t rowCount);

[[nodiscard]] std::int32_t ClampToRange(std::int64_t position, ScrollRange range);

struct ScrollMove {
    std::int32_t position = 0;
    bool changed = false; // redraw only when the position changed
};

// A page is 10 positions (twenty samples) horizontally; `thumb` is the position a thumb
// message carries. The result is clamped into the range.
[[nodiscard]] ScrollMove HorizontalScroll(int code, std::int32_t current, std::int32_t thumb,
                                          ScrollRange range = kHorizontalScrollRange);

// A page is one row vertically, the same as a line.
[[nodiscard]] ScrollMove VerticalScroll(int code, std::int32_t current, std::int32_t thumb,
                                        ScrollRange range);

// Distance in samples from the sample in `column` to the nearest sample in the direction of
// `step` (-1 or +1) where the row in `slot` + v reads differently; 0 when there is none.
// A row outside 0..rowCount-1, a start sample outside the memory or a step of 0 give 0
// without reading anything.
[[nodiscard]] std::int32_t FindEdge(const Capture& capture, std::int32_t h, std::int32_t v,
                                    std::int32_t column, std::int32_t slot, int step);

// The horizontal position after a mouse jump of d samples: H + d/2 - 1 searching back
// (left button), H + d/2 + 1 forward (right button), clamped to the scroll bar's range.
[[nodiscard]] std::int32_t EdgeJumpPosition(std::int32_t h, std::int32_t d, int step);

// The whole mouse jump for a click at (x, y) in the frame's client area.
[[nodiscard]] std::int32_t JumpToEdge(const Capture& capture, std::int32_t h, std::int32_t v, int x,
                                      int y, int step);

} // namespace pulsara
