// The analysis window's repeated capture, history and comparison: the side panel, the
// keys that step through the history, and the marks where the capture shown differs from
// the pinned reference.

#include "app/history_panel.h"
#include "app/zoom_view_widget.h"
#include "app/zoom_wnd.h"
#include "view/difference_marks.h"

#include <QKeySequence>
#include <QShortcut>

#include <cmath>

namespace pulsara {

void CZoomWnd::SetUpHistory() {
    history_ = new HistoryPanel(this);
    connect(history_, &HistoryPanel::entryShown, this, &CZoomWnd::ShowHistoryCapture);
    connect(history_, &HistoryPanel::comparisonChanged, this, [this] {
        CompareShown();
        view_->update();
    });
    connect(history_, &HistoryPanel::nextDifferenceRequested, this, &CZoomWnd::OnNextDifference);
    const auto key = [this](Qt::Key k, int delta) {
        auto* shortcut = new QShortcut(QKeySequence(k), this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, delta] { history_->Step(delta); });
    };
    key(Qt::Key_PageUp, -1); // older
    key(Qt::Key_PageDown, +1);
    view_->setOverlay([this](Canvas& canvas, const Rect& client, const AnalysisScene& scene) {
        if (const auto* comparison = history_->comparison()) {
            DrawDifferenceMarks(canvas, client, scene, comparison->targets);
        }
    });
}

void CZoomWnd::OnCaptureCompleted() {
    // OnCaptureChanged already shows it; the history takes its copy.
    history_->OnCaptureCompleted(live_);
}

void CZoomWnd::ShowHistoryCapture(const Capture* capture) {
    *shown_ = capture != nullptr ? *capture : live_;
    changes_ = ChangeTable(capture_.samples);
    // The zoom and position stay, so stepping compares the same stretch capture by capture.
    view_->setData(&capture_, &changes_, decoderRows_);
    UpdateRowBar();
    UpdateCursorText();
    CompareShown();
    view_->update();
    Decode();
}

void CZoomWnd::CompareShown() {
    history_->CompareWith(capture_);
}

void CZoomWnd::OnNextDifference() {
    const auto* comparison = history_->comparison();
    if (comparison == nullptr) {
        return;
    }
    const TimeWindow& window = view_->window();
    const int centre = static_cast<int>(std::floor(window.first + window.Span() / 2));
    if (const auto next = analysis::NextDifference(*comparison, centre, true)) {
        view_->setWindow(CentreOn(window, *next + 0.5));
    }
}

} // namespace pulsara
