#include "app/zoom_view_widget.h"

#include "view/cursors.h"
#include "view/qt_canvas.h"
#include "view/time_scale.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <cmath>

namespace pulsara {
namespace {

constexpr double kZoomStep = 1.25; // per wheel notch
constexpr double kKeyZoom = 2.0;   // per + or -
// A press that moves less than this is a click.
constexpr int kClickSlop = 3;

} // namespace

ZoomViewWidget::ZoomViewWidget(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(AnalysisLayout::kTraceLeft + 100, AnalysisLayout::kRowsTop + 40);
    window_ = WholeCapture(std::max(1, width() - AnalysisLayout::kTraceLeft));
}

void ZoomViewWidget::setData(const Capture* capture, const ChangeTable* changes,
                             std::span<const AnnotationRow> decoderRows) {
    capture_ = capture;
    changes_ = changes;
    decoderRows_ = decoderRows;
    setFirstRow(firstRow_);
    update();
}

AnalysisScene ZoomViewWidget::scene() const {
    return {capture_, changes_,     window_,      firstRow_,
            cursors_, decoderRows_, searchMarks_, currentMark_};
}

void ZoomViewWidget::setSearchMarks(std::span<const SearchMark> marks, int current) {
    searchMarks_ = marks;
    currentMark_ = current;
    update();
}

AnalysisLayout ZoomViewWidget::layout() const {
    return {{0, 0, width(), height()}};
}

void ZoomViewWidget::setWindow(const TimeWindow& window) {
    const TimeWindow clamped = ClampWindow(window);
    if (clamped == window_) {
        return;
    }
    window_ = clamped;
    update();
    emit windowChanged();
}

void ZoomViewWidget::setFirstRow(int row) {
    const int clamped = ClampFirstRow(scene(), layout(), row);
    if (clamped == firstRow_) {
        return;
    }
    firstRow_ = clamped;
    update();
    emit firstRowChanged(firstRow_);
}

void ZoomViewWidget::setCursors(const CursorPair& cursors) {
    cursors_ = cursors;
    update();
    emit cursorsChanged();
}

void ZoomViewWidget::zoomBy(double factor, double x) {
    setWindow(ZoomAround(window_, factor, x));
}

void ZoomViewWidget::showAll() {
    setWindow(WholeCapture(window_.width));
}

void ZoomViewWidget::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    if (capture_ == nullptr || changes_ == nullptr) {
        painter.fillRect(rect(), Qt::white);
        return;
    }
    QtCanvas canvas(painter);
    DrawAnalysisView(canvas, {0, 0, width(), height()}, scene());
    if (overlay_) {
        overlay_(canvas, {0, 0, width(), height()}, scene());
    }
}

void ZoomViewWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int traceWidth = std::max(1, width() - AnalysisLayout::kTraceLeft);
    // A window that showed everything keeps showing everything.
    const bool wasWhole = window_.Span() >= kSampleCount - 1e-6;
    setWindow(wasWhole ? WholeCapture(traceWidth) : Resized(window_, traceWidth));
    setFirstRow(firstRow_);
    emit resized();
}

double ZoomViewWidget::TraceX(const QPoint& point) const {
    return point.x() - AnalysisLayout::kTraceLeft;
}

void ZoomViewWidget::wheelEvent(QWheelEvent* event) {
    const QPoint delta = event->angleDelta();
    if ((event->modifiers() & Qt::ShiftModifier) != 0 || delta.y() == 0) {
        // Sideways: pan by a tenth of the width per notch.
        const int amount = delta.x() != 0 ? delta.x() : delta.y();
        setWindow(PanBy(window_, amount / 120.0 * window_.width / 10.0));
        event->accept();
        return;
    }
    wheelRemainder_ += delta.y();
    const int notches = wheelRemainder_ / 120;
    wheelRemainder_ -= notches * 120;
    if (notches != 0) {
        zoomBy(std::pow(kZoomStep, notches), TraceX(event->position().toPoint()));
    }
    event->accept();
}

std::optional<ZoomViewWidget::Drag> ZoomViewWidget::CursorNear(const QPoint& point) const {
    const double x = TraceX(point);
    const auto near = [&](const std::optional<int>& c) {
        return c && std::fabs(window_.XOf(*c) - x) <= kSnapPixels;
    };
    if (near(cursors_.a)) {
        return Drag::CursorA;
    }
    if (near(cursors_.b)) {
        return Drag::CursorB;
    }
    return std::nullopt;
}

void ZoomViewWidget::mousePressEvent(QMouseEvent* event) {
    setFocus();
    pressAt_ = lastAt_ = event->position().toPoint();
    dragButton_ = event->button();
    const AnalysisHit hit = HitTest(scene(), layout(), {pressAt_.x(), pressAt_.y()});
    if (hit.area == AnalysisArea::Overview && event->button() == Qt::LeftButton) {
        drag_ = Drag::Overview;
        OverviewTo(pressAt_);
    } else if (hit.area == AnalysisArea::Rows || hit.area == AnalysisArea::Ruler) {
        // The left button drags a cursor it lands on; the right one always places B.
        drag_ = event->button() == Qt::LeftButton ? CursorNear(pressAt_).value_or(Drag::Pending)
                                                  : Drag::Pending;
    } else {
        drag_ = Drag::None;
    }
    event->accept();
}

void ZoomViewWidget::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    switch (drag_) {
    case Drag::Pending:
        if ((at - pressAt_).manhattanLength() > kClickSlop) {
            drag_ = Drag::Pan;
            setWindow(PanBy(window_, at.x() - lastAt_.x()));
        }
        break;
    case Drag::Pan:
        setWindow(PanBy(window_, at.x() - lastAt_.x()));
        break;
    case Drag::Overview:
        OverviewTo(at);
        break;
    case Drag::CursorA:
    case Drag::CursorB:
        PlaceCursor(drag_ == Drag::CursorB, at);
        break;
    case Drag::None:
        break;
    }
    lastAt_ = at;
    const AnalysisHit hit = HitTest(scene(), layout(), {at.x(), at.y()});
    emit hovered(hit.area == AnalysisArea::Rows ? hit.row : -1, hit.sample);
    event->accept();
}

void ZoomViewWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (drag_ == Drag::Pending) {
        // A click: left places A, right (or Shift with left) places B.
        const bool b =
            dragButton_ == Qt::RightButton || (event->modifiers() & Qt::ShiftModifier) != 0;
        PlaceCursor(b, pressAt_);
        const AnalysisHit hit = HitTest(scene(), layout(), {pressAt_.x(), pressAt_.y()});
        if (hit.area == AnalysisArea::Rows) {
            emit clicked(hit.row, hit.sample);
        }
    }
    drag_ = Drag::None;
    event->accept();
}

void ZoomViewWidget::leaveEvent(QEvent* event) {
    emit hovered(-1, 0);
    QWidget::leaveEvent(event);
}

void ZoomViewWidget::PlaceCursor(bool b, const QPoint& point) {
    if (changes_ == nullptr || capture_ == nullptr) {
        return;
    }
    const AnalysisHit hit = HitTest(scene(), layout(), {point.x(), point.y()});
    // Snap to the row under the pointer; from the ruler, to any shown probe.
    std::uint32_t mask = RowMask(capture_->channels, hit.row);
    if (mask == 0) {
        for (int n = 0; n < capture_->channels.rowCount && n < kMaxRows; ++n) {
            mask |= RowMask(capture_->channels, n);
        }
    }
    const int sample = SnapToEdge(*changes_, mask, window_, TraceX(point));
    CursorPair cursors = cursors_;
    (b ? cursors.b : cursors.a) = sample;
    setCursors(cursors);
}

void ZoomViewWidget::OverviewTo(const QPoint& point) {
    const double sample = WholeCapture(window_.width).SampleAt(TraceX(point));
    setWindow(CentreOn(window_, sample));
}

void ZoomViewWidget::keyPressEvent(QKeyEvent* event) {
    const double centre = window_.width / 2.0;
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoomBy(kKeyZoom, centre);
        break;
    case Qt::Key_Minus:
        zoomBy(1.0 / kKeyZoom, centre);
        break;
    case Qt::Key_0:
        showAll();
        break;
    case Qt::Key_Home:
        setWindow({0.0, window_.pixelsPerSample, window_.width});
        break;
    case Qt::Key_End:
        setWindow({double{kSampleCount}, window_.pixelsPerSample, window_.width});
        break;
    case Qt::Key_T:
        if (capture_ != nullptr) {
            setWindow(CentreOn(window_, TimeOrigin(capture_->settings)));
        }
        break;
    case Qt::Key_Left:
        setWindow(PanBy(window_, window_.width / 10.0));
        break;
    case Qt::Key_Right:
        setWindow(PanBy(window_, -window_.width / 10.0));
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

} // namespace pulsara
