#pragma once
// Dialog templates give positions in dialog units: a quarter of the dialog font's average
// character width across, an eighth of its height down. The forms in resources/forms keep
// those numbers, and the dialogs turn them into pixels with the font they run with.

#include <QFont>
#include <QRect>
#include <QSize>

class QWidget;

namespace pulsara {

struct DialogBaseUnits {
    double x = 0; // pixels per 4 horizontal dialog units
    double y = 0; // pixels per 8 vertical dialog units

    [[nodiscard]] QRect ToPixels(const QRect& dialogUnits) const;
    [[nodiscard]] QSize ToPixels(const QSize& dialogUnits) const;
};

// The base units of a font as the dialog manager measured them: the average width of the
// 52 Latin letters, rounded, and the font's height.
[[nodiscard]] DialogBaseUnits MeasureBaseUnits(const QFont& font);

// Base units scaled up evenly, when needed, until a control of `controlUnits` has at least
// `minimumClient` pixels inside a border of `border` pixels on each side. The waveform view
// has a fixed pixel size, which a small dialog font would otherwise cut off.
[[nodiscard]] DialogBaseUnits FitBaseUnits(DialogBaseUnits measured, QSize controlUnits,
                                           QSize minimumClient, int border);

// Moves and sizes every direct child of `dialog` from the dialog units its form gives to
// pixels, and fixes the dialog's own size.
void ApplyDialogUnits(QWidget& dialog, const DialogBaseUnits& units, QSize dialogUnits);

} // namespace pulsara
