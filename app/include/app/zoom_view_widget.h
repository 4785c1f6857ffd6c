#pragma once
// The analysis window's drawing: the Qt-free analysis view painted on every paint, and
// the mouse and keys that move it. The wheel zooms around the pointer, + and - around the
// centre, 0 shows all; dragging pans; Home, End and T go to the start, the end and the
// trigger. A left click places cursor A, a right click cursor B (onto an edge within 5
// pixels); dragging a cursor moves it. The overview strip moves the view to where it is
// clicked or dragged.

#include "view/analysis_scene.h"
#include "view/time_window.h"

#include <QWidget>

#include <functional>
#include <optional>

namespace pulsara {

class ZoomViewWidget final : public QWidget {
    Q_OBJECT
public:
    explicit ZoomViewWidget(QWidget* parent = nullptr);

    // The data to show; the widget keeps the zoom, the scroll position and the cursors.
    void setData(const Capture* capture, const ChangeTable* changes,
                 std::span<const AnnotationRow> decoderRows);
    [[nodiscard]] AnalysisScene scene() const;
    [[nodiscard]] AnalysisLayout layout() const;

    [[nodiscard]] const TimeWindow& window() const { return window_; }
    void setWindow(const TimeWindow& window);
    void setFirstRow(int row);
    [[nodiscard]] int firstRow() const { return firstRow_; }
    [[nodiscard]] const CursorPair& cursors() const { return cursors_; }
    void setCursors(const CursorPair& cursors);

    // Search matches to tick in the overview, and the one to shade (-1: none).
    void setSearchMarks(std::span<const SearchMark> marks, int current);

    void zoomBy(double factor, double x);
    void showAll();

    // Drawn over the view after it (the comparison's difference marks); empty: nothing.
    using Overlay = std::function<void(Canvas&, const Rect&, const AnalysisScene&)>;
    void setOverlay(Overlay overlay) { overlay_ = std::move(overlay); }

signals:
    void windowChanged();
    void firstRowChanged(int row);
    void cursorsChanged();
    // The pointer is over row `row` (-1: no row) at sample position `sample`.
    void hovered(int row, double sample);
    // A click (not a drag) on row `row` at sample position `sample`.
    void clicked(int row, double sample);
    // The widget's size changed: the number of rows that fit may have too.
    void resized();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    enum class Drag { None, Pending, Pan, Overview, CursorA, CursorB };

    [[nodiscard]] double TraceX(const QPoint& point) const;
    void PlaceCursor(bool b, const QPoint& point);
    void OverviewTo(const QPoint& point);
    [[nodiscard]] std::optional<Drag> CursorNear(const QPoint& point) const;

    const Capture* capture_ = nullptr;
    const ChangeTable* changes_ = nullptr;
    std::span<const AnnotationRow> decoderRows_;
    std::span<const SearchMark> searchMarks_;
    int currentMark_ = -1;
    TimeWindow window_;
    int firstRow_ = 0;
    CursorPair cursors_;
    Drag drag_ = Drag::None;
    Qt::MouseButton dragButton_ = Qt::NoButton;
    QPoint pressAt_;
    QPoint lastAt_;
    int wheelRemainder_ = 0;
    Overlay overlay_;
};

} // namespace pulsara
