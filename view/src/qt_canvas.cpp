#include "view/qt_canvas.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace pulsara {
namespace {

QColor ToQColor(Rgb c) {
    return {c.r, c.g, c.b};
}

// Sans faces that are free and installed by our dependency script, in order of preference.
const QStringList& StandInFamilies() {
    static const QStringList families = {QStringLiteral("DejaVu Sans"),
                                         QStringLiteral("Liberation Sans")};
    return families;
}

QFont BaseQFont(const Font& font) {
    QFont qfont;
    QStringList families;
    if (!font.face.empty() && font.face != kViewFont.face) {
        families << QString::fromUtf8(font.face.data(), static_cast<qsizetype>(font.face.size()));
    }
    families << StandInFamilies();
    qfont.setFamilies(families);
    qfont.setWeight(static_cast<QFont::Weight>(std::clamp(font.weight, 100, 900)));
    // Bitmap-like text, as the original raster font looked; also keeps renders repeatable.
    qfont.setStyleStrategy(QFont::NoAntialias);
    qfont.setHintingPreference(QFont::PreferFullHinting);
    return qfont;
}

struct FontSize {
    int pixelSize = 0;
    int descent = 0;
};

FontSize FitPixelSize(const QFont& base, int cell) {
    QFont qfont = base;
    int pixelSize = cell;
    for (; pixelSize > 1; --pixelSize) {
        qfont.setPixelSize(pixelSize);
        if (QFontMetrics(qfont).height() <= cell) {
            break;
        }
    }
    qfont.setPixelSize(pixelSize);
    return {pixelSize, QFontMetrics(qfont).descent()};
}

} // namespace

QtFontChoice ChooseQtFont(const Font& font) {
    const int cell = font.cellHeight > 0 ? font.cellHeight : 12;
    QFont qfont = BaseQFont(font);
    // Fitting the size costs far more than a redraw, so each font is fitted once per
    // process. Only plain numbers are kept: QFont objects must not outlive the application.
    static std::mutex mutex;
    static std::map<std::tuple<std::string, int, int>, FontSize> cache;
    FontSize size;
    {
        const std::lock_guard lock(mutex);
        const auto key = std::make_tuple(std::string(font.face), cell, font.weight);
        auto it = cache.find(key);
        if (it == cache.end()) {
            it = cache.emplace(key, FitPixelSize(qfont, cell)).first;
        }
        size = it->second;
    }
    qfont.setPixelSize(size.pixelSize);
    // Spare pixel rows go above the glyphs, so the descent ends on the cell's last row.
    return {qfont, cell - size.descent, cell};
}

QString DecodeShiftJis(std::string_view bytes) {
    return QString::fromStdString(ShiftJisToUtf8(bytes));
}

QtCanvas::QtCanvas(QPainter& painter)
    : painter_(painter),
      initialFont_(painter.font()), qtFont_{initialFont_, QFontMetrics(initialFont_).ascent(),
                                            QFontMetrics(initialFont_).height()},
      metrics_(initialFont_) {
    painter_.save();
    painter_.setRenderHint(QPainter::Antialiasing, false);
    painter_.setRenderHint(QPainter::TextAntialiasing, false);
    painter_.setBackgroundMode(Qt::TransparentMode); // the cell is filled by DrawText itself
}

QtCanvas::~QtCanvas() {
    painter_.restore();
}

Pen QtCanvas::SelectPen(const Pen& pen) {
    const Pen old = pen_;
    pen_ = pen;
    penColour_ = ToQColor(pen.colour);
    return old;
}

Font QtCanvas::SelectFont(const Font& font) {
    const Font old = font_;
    if (font == font_) {
        return old; // every bus selects the view font again: keep the fitted one
    }
    font_ = font;
    if (font.face.empty() && font.cellHeight <= 0) {
        const QFont& initial = initialFont_;
        qtFont_ = {initial, QFontMetrics(initial).ascent(), QFontMetrics(initial).height()};
    } else {
        qtFont_ = ChooseQtFont(font);
    }
    metrics_ = QFontMetrics(qtFont_.font);
    painter_.setFont(qtFont_.font);
    return old;
}

void QtCanvas::DrawText(Point topLeft, std::string_view bytes) {
    if (bytes.empty()) {
        return;
    }
    const QString text = DecodeShiftJis(bytes);
    painter_.fillRect(topLeft.x, topLeft.y, metrics_.horizontalAdvance(text), qtFont_.cellHeight,
                      ToQColor(background_));
    painter_.setPen(ToQColor(textColour_));
    painter_.drawText(QPoint(topLeft.x, topLeft.y + qtFont_.ascent), text);
}

void QtCanvas::LineTo(Point to) {
    const Point from = std::exchange(position_, to);
    if (from == to) {
        return;
    }
    const int width = std::max(pen_.width, 1);
    const int offset = (width - 1) / 2;
    if (from.y == to.y) {
        // Horizontal and vertical lines as rectangles: exact, and far cheaper than a path.
        const int left = std::min(from.x, from.x < to.x ? to.x - 1 : to.x + 1);
        const int length = std::abs(to.x - from.x);
        painter_.fillRect(left, from.y - offset, length, width, penColour_);
        return;
    }
    if (from.x == to.x) {
        const int top = std::min(from.y, from.y < to.y ? to.y - 1 : to.y + 1);
        const int length = std::abs(to.y - from.y);
        painter_.fillRect(from.x - offset, top, width, length, penColour_);
        return;
    }
    if (std::max(std::abs(to.x - from.x), std::abs(to.y - from.y)) > 65536) {
        // Far beyond any surface: let Qt clip it rather than stepping every pixel.
        QPen qpen(penColour_, width);
        qpen.setCosmetic(true);
        painter_.setPen(qpen);
        painter_.drawLine(from.x, from.y, to.x, to.y);
        return;
    }
    for (const Point p : LinePixels(from, to)) {
        painter_.fillRect(p.x - offset, p.y - offset, width, width, penColour_);
    }
}

void QtCanvas::FillRect(const Rect& rect, Rgb colour) {
    painter_.fillRect(rect.left, rect.top, rect.Width(), rect.Height(), ToQColor(colour));
    background_ = colour;
}

void QtCanvas::ClipTo(const Rect& rect) {
    painter_.setClipRect(rect.left, rect.top, rect.Width(), rect.Height());
}

void QtCanvas::ClearClip() {
    painter_.setClipping(false);
}

} // namespace pulsara
