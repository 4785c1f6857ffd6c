#pragma once
// The drawing surface the view paints on: the handful of device-context operations the
// view needs, so the same drawing code serves the window, PNG files and tests.

#include <compare>
#include <cstdint>
#include <string_view>
#include <vector>

namespace pulsara {

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;

    friend constexpr bool operator==(const Rgb&, const Rgb&) = default;
};

struct Point {
    int x = 0;
    int y = 0;

    friend constexpr auto operator<=>(const Point&, const Point&) = default;
};

// Left and top inclusive, right and bottom exclusive, as a client rectangle.
struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    [[nodiscard]] constexpr int Width() const { return right - left; }
    [[nodiscard]] constexpr int Height() const { return bottom - top; }
    friend constexpr bool operator==(const Rect&, const Rect&) = default;
};

// A solid pen.
struct Pen {
    int width = 1;
    Rgb colour{};

    friend constexpr bool operator==(const Pen&, const Pen&) = default;
};

// A font by face name and character cell height in pixels. An empty face is the surface's
// own default font. The face is not copied: use a name with static storage (kViewFont).
struct Font {
    std::string_view face;
    int cellHeight = 0;
    int weight = 400;

    friend constexpr bool operator==(const Font&, const Font&) = default;
};

inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Rgb kWhite{255, 255, 255};

// Every text of the view: ruler labels, row names and bus labels. Surfaces that lack the
// face substitute a sans font with the same cell height.
inline constexpr Font kViewFont{"MS Sans Serif", 12, 400};

// The pixels of a line from `from` up to but not including `to`, in Bresenham steps, as a
// 1-pixel pen draws them. Empty when from == to.
[[nodiscard]] std::vector<Point> LinePixels(Point from, Point to);

class Canvas {
public:
    virtual ~Canvas() = default;

    // Each returns what was selected before, so a caller can put it back.
    virtual Pen SelectPen(const Pen& pen) = 0;
    virtual Font SelectFont(const Font& font) = 0;

    virtual void SetTextColour(Rgb colour) = 0;
    // Text bytes are Shift-JIS (CP932); the cell's top-left corner goes at topLeft, and
    // the cell is filled with the text background colour first.
    virtual void DrawText(Point topLeft, std::string_view bytes) = 0;

    virtual void MoveTo(Point to) = 0;
    // Draws from the current point up to, but not including, `to`, then moves there.
    virtual void LineTo(Point to) = 0;

    // Fills with colour; that colour also becomes the text background.
    virtual void FillRect(const Rect& rect, Rgb colour) = 0;

    // Restricts all drawing to rect until ClearClip.
    virtual void ClipTo(const Rect& rect) = 0;
    virtual void ClearClip() = 0;
};

} // namespace pulsara
