#pragma once
// The canvas over a QPainter, pixel for pixel as the view expects: no anti-aliasing,
// 1-pixel pens, lines that stop one pixel short of their end point, text on an opaque
// background. Works on a widget in paintEvent and on a QImage alike.

#include "capture/shift_jis.h"
#include "view/canvas.h"

#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QString>

#include <string_view>

class QPainter;

namespace pulsara {

// A canvas font as Qt draws it: the view's "MS Sans Serif" is stood in for by DejaVu Sans
// (or Liberation Sans) at the largest pixel size whose cell fits the requested height.
struct QtFontChoice {
    QFont font;
    int ascent = 0;     // cell top to baseline
    int cellHeight = 0; // the cell filled behind text
};

[[nodiscard]] QtFontChoice ChooseQtFont(const Font& font);

// Bytes of a definition text shown as Shift-JIS (CP932), through ShiftJisToUtf8: a byte
// CP932 leaves undefined (0x80, 0xA0, 0xFD..0xFF) and a lead byte cut off at the end come
// out as U+FFFD.
[[nodiscard]] QString DecodeShiftJis(std::string_view bytes);

class QtCanvas final : public Canvas {
public:
    // The painter must be active. Its state is saved here and restored on destruction.
    explicit QtCanvas(QPainter& painter);
    ~QtCanvas() override;
    QtCanvas(const QtCanvas&) = delete;
    QtCanvas& operator=(const QtCanvas&) = delete;

    Pen SelectPen(const Pen& pen) override;
    Font SelectFont(const Font& font) override;
    void SetTextColour(Rgb colour) override { textColour_ = colour; }
    void DrawText(Point topLeft, std::string_view bytes) override;
    void MoveTo(Point to) override { position_ = to; }
    void LineTo(Point to) override;
    void FillRect(const Rect& rect, Rgb colour) override;
    void ClipTo(const Rect& rect) override;
    void ClearClip() override;

private:
    QPainter& painter_;
    QFont initialFont_;
    Pen pen_{1, kBlack};
    QColor penColour_{0, 0, 0};
    Font font_{};
    QtFontChoice qtFont_;
    QFontMetrics metrics_;
    Rgb textColour_ = kBlack;
    Rgb background_ = kWhite;
    Point position_{};
};

} // namespace pulsara
