#pragma once
// The waveform view's drawing frame: a sunken black frame whose client area the view is
// painted into on every paint. It holds no positions of its own; it asks its owner for the
// data and the two scroll positions at each paint. Mouse clicks are left to the parent.

#include "capture/capture.h"

#include <QFrame>

#include <cstdint>
#include <functional>

namespace pulsara {

class ViewFrame final : public QFrame {
    Q_OBJECT
public:
    struct Source {
        const Capture* capture = nullptr;
        std::function<std::int32_t()> horizontalPos;
        std::function<std::int32_t()> verticalPos;
    };

    explicit ViewFrame(QWidget* parent = nullptr);

    void setSource(Source source) { source_ = std::move(source); }
    // The client area's top-left corner in the frame's coordinates (inside the border).
    [[nodiscard]] QPoint clientOrigin() const { return contentsRect().topLeft(); }
    [[nodiscard]] int paintCount() const { return paintCount_; }

signals:
    // One notch of the mouse wheel: -1 towards the start, +1 towards the end.
    void wheelStep(int step, bool horizontal);

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    Source source_;
    int paintCount_ = 0;
    int wheelRemainder_ = 0;
};

} // namespace pulsara
