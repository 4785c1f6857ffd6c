#pragma once
// The main window: START/STOP, the four lists, LOAD, SAVE, the drawing frame and its two
// scroll bars. The handlers keep the original names; the positions live in the scroll bars
// and are read from them at every use. The capture cycle itself is device/'s CaptureCycle.

#include "capture/capture.h"
#include "capture/session_file.h"
#include "device/capture_cycle.h"
#include "device/device_link.h"

#include <QDialog>
#include <QIcon>

#include <filesystem>
#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class QPushButton;
class QScrollBar;
class QTimer;

namespace Ui {
class CViewerDlg;
}

namespace pulsara {

class CZoomWnd;
class ViewFrame;
class ViewerServices;

class CViewerDlg final : public QDialog {
    Q_OBJECT
public:
    CViewerDlg(Capture& capture, DeviceLink& link, ViewerServices& services,
               QWidget* parent = nullptr);
    ~CViewerDlg() override;

    // Message handlers, public so the window's behaviour can be driven as messages would.
    void OnHScroll(int code, int position);
    void OnVScroll(int code, int position);
    void OnStartStop();
    void OnTimer();
    void OnLoad();
    void OnSave();
    void OnAbout();
    // Opens the analysis window over this window's capture (Ctrl+E), or raises it.
    void OnAnalysis();
    // LOAD without asking for the file: true when the capture was loaded.
    bool LoadFrom(const std::filesystem::path& path);
    // A button press at a point of the main window's client area; step -1 for the left
    // button (previous change), +1 for the right (next change).
    void OnButtonDown(QPoint point, int step);

    [[nodiscard]] QScrollBar& horizontalBar() const;
    [[nodiscard]] QScrollBar& verticalBar() const;
    [[nodiscard]] QPushButton& startButton() const;
    [[nodiscard]] QPushButton& loadButton() const;
    [[nodiscard]] QPushButton& saveButton() const;
    [[nodiscard]] QPushButton& aboutButton() const;
    [[nodiscard]] QPushButton& analysisButton() const;
    // The analysis window once it has been opened, else null.
    [[nodiscard]] CZoomWnd* analysisWindow() const { return analysis_; }
    [[nodiscard]] QComboBox& rateList() const;
    [[nodiscard]] QComboBox& positionList() const;
    [[nodiscard]] QComboBox& conditionList() const;
    [[nodiscard]] QComboBox& probeList() const;
    [[nodiscard]] ViewFrame& frame() const;
    [[nodiscard]] QLabel& statusLabel() const;
    [[nodiscard]] const QTimer& timer() const { return *timer_; }
    [[nodiscard]] const CaptureCycle& cycle() const { return cycle_; }
    // How START connects the board again after it left the bus and came back.
    void SetReconnect(std::function<bool(DeviceLink&)> reconnect) {
        cycle_.reconnect = std::move(reconnect);
    }

signals:
    // A capture completed or was loaded: the samples, rows and settings may all be new.
    void captureChanged();
    // A capture completed (after captureChanged; a load does not emit it).
    void captureCompleted();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnInitDialog();
    void SelectCombos();
    // Scroll-bar actions as the scroll codes a scroll message carries.
    void OnScrollAction(QScrollBar& bar, int action);
    void ApplyScroll(QScrollBar& bar, int position, bool changed);
    // The whole window and the view in it, at the next paint.
    void RedrawFrame();
    // The notice beside the lists: `text` shown whole, `detail` added in its tooltip.
    void ShowStatus(const QString& text, const QString& detail = {});
    // What the driver said about the last failure, as " (...)", or empty.
    [[nodiscard]] QString DriverCause();

    Capture& capture_;
    DeviceLink& link_;
    ViewerServices& services_;
    std::unique_ptr<Ui::CViewerDlg> ui_;
    QTimer* timer_ = nullptr;
    QIcon icon_;
    CaptureCycle cycle_;
    CZoomWnd* analysis_ = nullptr; // owned as a child window
    // The session loaded with the capture, until the analysis window opens to take it.
    std::optional<AnalysisSession> pendingSession_;
};

// How a notice fits the space beside the lists (two lines up to "Zoom"): the text shown,
// the font size it needs and whether it is whole.
struct NoticeFit {
    QString text;
    double pointSize = 9.0;
    bool whole = true;
};
[[nodiscard]] NoticeFit FitNotice(const QString& text, const QFont& font, QSize box);

// The dialog font: "MS P Gothic" 9 point, stood in for by an installed Japanese
// proportional face.
[[nodiscard]] QFont DialogFont();

} // namespace pulsara
