#include "app/view_frame.h"

#include "view/qt_canvas.h"
#include "view/redraw.h"

#include <QPainter>
#include <QWheelEvent>

namespace pulsara {

ViewFrame::ViewFrame(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Box | QFrame::Sunken);
    setLineWidth(1);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ViewFrame::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    if (source_.capture == nullptr) {
        return;
    }
    ++paintCount_;
    const QRect client = contentsRect();
    QPainter painter(this);
    painter.setClipRect(client);
    painter.translate(client.topLeft());
    QtCanvas canvas(painter);
    RedrawView(canvas, {0, 0, client.width(), client.height()}, *source_.capture,
               source_.horizontalPos(), source_.verticalPos());
}

void ViewFrame::wheelEvent(QWheelEvent* event) {
    // 120 units are one notch; touchpads send less at a time, so keep the remainder.
    const QPoint delta = event->angleDelta();
    wheelRemainder_ += delta.y() != 0 ? delta.y() : delta.x();
    const bool horizontal = (event->modifiers() & Qt::ShiftModifier) != 0 || delta.y() == 0;
    while (wheelRemainder_ >= 120) {
        wheelRemainder_ -= 120;
        emit wheelStep(-1, horizontal);
    }
    while (wheelRemainder_ <= -120) {
        wheelRemainder_ += 120;
        emit wheelStep(+1, horizontal);
    }
    event->accept();
}

} // namespace pulsara
