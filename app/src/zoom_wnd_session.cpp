// The analysis window's session: what it shows of a capture, taken for NAME.wfs on SAVE
// and between runs, and put back on LOAD or at start-up.

#include "app/search_bar.h"
#include "app/zoom_view_widget.h"
#include "app/zoom_wnd.h"

#include <QGuiApplication>
#include <QScreen>

namespace pulsara {

AnalysisSession CZoomWnd::Session() const {
    AnalysisSession s;
    s.stacks = stacks_;
    s.cursorA = view_->cursors().a;
    s.cursorB = view_->cursors().b;
    s.firstSample = view_->window().first;
    s.pixelsPerSample = view_->window().pixelsPerSample;
    s.firstRow = view_->firstRow();
    s.search = search_->State();
    const QRect g = geometry();
    s.geometry = AnalysisSession::Geometry{g.x(), g.y(), g.width(), g.height()};
    return s;
}

void CZoomWnd::ApplySession(const AnalysisSession& s, SessionParts parts) {
    if (parts.geometry && s.geometry && s.geometry->width > 0 && s.geometry->height > 0) {
        // Kept on a screen there is now: a session from another desktop may lie off it.
        QRect wanted(s.geometry->x, s.geometry->y, s.geometry->width, s.geometry->height);
        const QScreen* screen = QGuiApplication::screenAt(wanted.center());
        if (screen == nullptr) {
            screen = QGuiApplication::primaryScreen();
            wanted.moveCenter(screen != nullptr ? screen->availableGeometry().center()
                                                : wanted.center());
        }
        setGeometry(wanted);
    }
    if (parts.decoders && s.stacks != stacks_) {
        stacks_ = s.stacks;
        Decode();
    }
    if (!parts.view) {
        return;
    }
    search_->SetState(s.search);
    CursorPair cursors;
    const auto inCapture = [](std::optional<std::int32_t> c) -> std::optional<int> {
        if (c && *c >= 0 && *c <= kSampleCount) {
            return *c;
        }
        return std::nullopt;
    };
    cursors.a = inCapture(s.cursorA);
    cursors.b = inCapture(s.cursorB);
    view_->setCursors(cursors);
    if (s.firstSample && s.pixelsPerSample && *s.pixelsPerSample > 0) {
        TimeWindow window = view_->window();
        window.first = *s.firstSample;
        window.pixelsPerSample = *s.pixelsPerSample;
        view_->setWindow(ClampWindow(window));
    }
    view_->setFirstRow(std::max(0, s.firstRow));
    UpdateRowBar();
    UpdateCursorText();
}

} // namespace pulsara
