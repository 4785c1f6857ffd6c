#pragma once
// A canvas that draws nothing and remembers every drawing operation with the state it was
// drawn in, for tests and for measuring the view logic without a surface.

#include "view/canvas.h"

#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

namespace pulsara {

struct TextOp {
    Point at;
    std::string bytes;
    Rgb colour;
    Rgb background;
    Font font;
};

struct LineOp {
    Point from;
    Point to; // not drawn
    Pen pen;
};

struct FillOp {
    Rect rect;
    Rgb colour;
};

struct ClipOp {
    std::optional<Rect> rect; // empty: clip released
};

using CanvasOp = std::variant<TextOp, LineOp, FillOp, ClipOp>;

class RecordingCanvas final : public Canvas {
public:
    Pen SelectPen(const Pen& pen) override;
    Font SelectFont(const Font& font) override;
    void SetTextColour(Rgb colour) override { textColour_ = colour; }
    void DrawText(Point topLeft, std::string_view bytes) override;
    void MoveTo(Point to) override { position_ = to; }
    void LineTo(Point to) override;
    void FillRect(const Rect& rect, Rgb colour) override;
    void ClipTo(const Rect& rect) override;
    void ClearClip() override;

    [[nodiscard]] const std::vector<CanvasOp>& Ops() const { return ops_; }
    [[nodiscard]] std::vector<TextOp> Texts() const;
    [[nodiscard]] std::vector<LineOp> Lines() const;
    // Every pixel covered by a line drawn with a pen of this colour.
    [[nodiscard]] std::set<Point> LinePixelsOf(Rgb colour) const;
    void Clear() { ops_.clear(); }

    [[nodiscard]] Pen CurrentPen() const { return pen_; }
    [[nodiscard]] Font CurrentFont() const { return font_; }
    [[nodiscard]] Rgb TextColour() const { return textColour_; }
    [[nodiscard]] Rgb TextBackground() const { return background_; }
    [[nodiscard]] Point Position() const { return position_; }
    [[nodiscard]] std::optional<Rect> Clip() const { return clip_; }

private:
    std::vector<CanvasOp> ops_;
    // A fresh device context: black 1-pixel pen, default font, black on white.
    Pen pen_{1, kBlack};
    Font font_{};
    Rgb textColour_ = kBlack;
    Rgb background_ = kWhite;
    Point position_{};
    std::optional<Rect> clip_;
};

} // namespace pulsara
