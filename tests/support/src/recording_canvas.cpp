#include "support/recording_canvas.h"

#include <utility>

namespace pulsara {

Pen RecordingCanvas::SelectPen(const Pen& pen) {
    return std::exchange(pen_, pen);
}

Font RecordingCanvas::SelectFont(const Font& font) {
    return std::exchange(font_, font);
}

void RecordingCanvas::DrawText(Point topLeft, std::string_view bytes) {
    ops_.emplace_back(TextOp{topLeft, std::string(bytes), textColour_, background_, font_});
}

void RecordingCanvas::LineTo(Point to) {
    ops_.emplace_back(LineOp{position_, to, pen_});
    position_ = to;
}

void RecordingCanvas::FillRect(const Rect& rect, Rgb colour) {
    ops_.emplace_back(FillOp{rect, colour});
    background_ = colour;
}

void RecordingCanvas::ClipTo(const Rect& rect) {
    clip_ = rect;
    ops_.emplace_back(ClipOp{rect});
}

void RecordingCanvas::ClearClip() {
    clip_.reset();
    ops_.emplace_back(ClipOp{});
}

std::vector<TextOp> RecordingCanvas::Texts() const {
    std::vector<TextOp> texts;
    for (const auto& op : ops_) {
        if (const auto* text = std::get_if<TextOp>(&op)) {
            texts.push_back(*text);
        }
    }
    return texts;
}

std::vector<LineOp> RecordingCanvas::Lines() const {
    std::vector<LineOp> lines;
    for (const auto& op : ops_) {
        if (const auto* line = std::get_if<LineOp>(&op)) {
            lines.push_back(*line);
        }
    }
    return lines;
}

std::set<Point> RecordingCanvas::LinePixelsOf(Rgb colour) const {
    std::set<Point> pixels;
    for (const auto& line : Lines()) {
        if (line.pen.colour == colour) {
            for (const auto p : LinePixels(line.from, line.to)) {
                pixels.insert(p);
            }
        }
    }
    return pixels;
}

} // namespace pulsara
