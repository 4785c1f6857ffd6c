#include "app/dialog_units.h"

#include <QFontMetricsF>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace pulsara {
namespace {

int Scale(int units, double base, int divisor) {
    return static_cast<int>(std::lround(units * base / divisor));
}

} // namespace

QRect DialogBaseUnits::ToPixels(const QRect& u) const {
    // Edges are converted, not sizes, so neighbours that touch in units touch in pixels.
    const int left = Scale(u.x(), x, 4);
    const int top = Scale(u.y(), y, 8);
    const int right = Scale(u.x() + u.width(), x, 4);
    const int bottom = Scale(u.y() + u.height(), y, 8);
    return {left, top, right - left, bottom - top};
}

QSize DialogBaseUnits::ToPixels(const QSize& u) const {
    return {Scale(u.width(), x, 4), Scale(u.height(), y, 8)};
}

DialogBaseUnits MeasureBaseUnits(const QFont& font) {
    const QFontMetricsF metrics(font);
    const double letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    const double average = std::floor((letters / 26.0 + 1.0) / 2.0);
    return {std::max(1.0, average), std::max(1.0, std::ceil(metrics.height()))};
}

DialogBaseUnits FitBaseUnits(DialogBaseUnits measured, QSize controlUnits, QSize minimumClient,
                             int border) {
    const double needX = 4.0 * (minimumClient.width() + 2 * border) / controlUnits.width();
    const double needY = 8.0 * (minimumClient.height() + 2 * border) / controlUnits.height();
    const double factor = std::max({1.0, needX / measured.x, needY / measured.y});
    DialogBaseUnits fitted{measured.x * factor, measured.y * factor};
    // Rounding of the edges must not take the last pixel away.
    while (fitted.ToPixels(controlUnits).width() < minimumClient.width() + 2 * border ||
           fitted.ToPixels(controlUnits).height() < minimumClient.height() + 2 * border) {
        fitted.x *= 1.001;
        fitted.y *= 1.001;
    }
    return fitted;
}

void ApplyDialogUnits(QWidget& dialog, const DialogBaseUnits& units, QSize dialogUnits) {
    for (QObject* child : dialog.children()) {
        if (auto* widget = qobject_cast<QWidget*>(child); widget && !widget->isWindow()) {
            widget->setGeometry(units.ToPixels(widget->geometry()));
        }
    }
    dialog.setFixedSize(units.ToPixels(dialogUnits));
}

} // namespace pulsara
