#pragma once
// "pulsara analysis": the second, resizable window over the program's one capture. It
// zooms from one sample to the whole capture, with an overview strip, cursors A and B,
// measurements under the pointer and decoder rows. It only reads the capture; the main
// window tells it when the capture changed. The class is named after the "Zoom" button that
// opens it; "analysis" is the library it draws on.

#include "capture/session_file.h"
#include "view/analysis_scene.h"
#include "view/change_table.h"

#include <QWidget>

#include <memory>
#include <string>
#include <vector>

class QLabel;
class QListWidget;
class QPushButton;
class QScrollBar;

namespace pulsara {

class ZoomViewWidget;
class DecodedTable;
class CaptureUntilDlg;
class DecoderRunner;
class SearchBar;
class HistoryPanel;

class CZoomWnd final : public QWidget {
    Q_OBJECT
public:
    explicit CZoomWnd(const Capture& capture, QWidget* parent = nullptr);
    ~CZoomWnd() override;

    // A capture completed or was loaded: rebuild what is drawn from it and show it whole.
    void OnCaptureChanged();
    // Adds a decoder stack (sigrok -P syntax) and decodes again; the dialog's OK lands here.
    void AddDecoder(const std::string& stack);
    void RemoveDecoders();
    void OnAddDecoder();
    // A capture completed in the main window (not a load): it joins the history.
    void OnCaptureCompleted();
    // Centres the view on the next range where the capture shown differs from the
    // pinned reference (round to the first).
    void OnNextDifference();

    // What the window shows of the capture, for NAME.wfs and between runs.
    [[nodiscard]] AnalysisSession Session() const;
    struct SessionParts {
        bool decoders = true;
        bool view = true; // cursors, zoom and position, search: bound to one capture
        bool geometry = true;
    };
    // Puts a session back: cursors outside the capture are dropped, the zoom and position
    // kept within their limits, the geometry on a screen there is.
    void ApplySession(const AnalysisSession& session, SessionParts parts);

    [[nodiscard]] const std::vector<std::string>& decoderStacks() const { return stacks_; }
    [[nodiscard]] const std::vector<AnnotationRow>& decoderRows() const { return decoderRows_; }
    [[nodiscard]] DecoderRunner& decoderRunner() const { return *runner_; }

    [[nodiscard]] ZoomViewWidget& view() const { return *view_; }
    [[nodiscard]] QLabel& statusLine() const { return *status_; }
    [[nodiscard]] QLabel& cursorLine() const { return *cursorText_; }
    [[nodiscard]] QScrollBar& rowBar() const { return *rowBar_; }
    [[nodiscard]] int captureUpdates() const { return captureUpdates_; }
    [[nodiscard]] SearchBar& searchBar() const { return *search_; }
    // The decoded data table (Ctrl+D shows and hides it).
    [[nodiscard]] DecodedTable& decodedTable() const { return *table_; }
    // The annotation samples first..end-1 centred and marked, and selected in the table.
    void ShowAnnotation(int first, int end);
    [[nodiscard]] QListWidget& resultList() const { return *results_; }

    // "Capture until...": the dialog, filled in from the search bar.
    void OnCaptureUntil();
    // Presses the main window's START again after every completed capture without a match
    // to `match` (find's words), up to `tries` captures. False, with the reason shown, when
    // the match cannot be read or no main window is there to capture with.
    bool StartCaptureUntil(const QString& match, int tries);
    // Ends the run (pressing STOP when a capture is armed), saying why.
    void StopCaptureUntil(const QString& why);
    [[nodiscard]] bool captureUntilRunning() const { return until_ != nullptr; }
    [[nodiscard]] CaptureUntilDlg* captureUntilDialog() const { return untilDlg_; }

    // Ctrl+F: shows the search bar and the result list, the cursor in the search field.
    void ShowSearch();
    [[nodiscard]] HistoryPanel& historyPanel() const { return *history_; }
    // The capture drawn: the live one, or the history's entry shown.
    [[nodiscard]] const Capture& shownCapture() const { return capture_; }

private:
    void OnHover(int row, double sample);
    void UpdateCursorText();
    void UpdateRowBar();
    void Decode();
    void OnDecoded(const std::vector<AnnotationRow>& rows);
    void ShowMatch(int index);
    void ContinueCaptureUntil();
    void UntilProgress(const QString& text);
    // Repeat, history and comparison (zoom_wnd_history.cpp).
    void SetUpHistory();
    void ShowHistoryCapture(const Capture* capture);
    void CompareShown();

    // What is drawn is a copy, so a history entry can be shown in place of the live capture.
    const Capture& live_;
    std::unique_ptr<Capture> shown_;
    const Capture& capture_;
    ChangeTable changes_;
    std::vector<std::string> stacks_;
    std::vector<AnnotationRow> decoderRows_;
    DecoderRunner* runner_ = nullptr;
    ZoomViewWidget* view_ = nullptr;
    QScrollBar* rowBar_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* cursorText_ = nullptr;
    SearchBar* search_ = nullptr;
    DecodedTable* table_ = nullptr;
    SearchMark annotationMark_; // the annotation chosen in the table, marked in the view
    // The decoder box under the pointer's row and sample, or null.
    [[nodiscard]] const AnnotationBox* BoxAt(int row, double sample) const;
    QListWidget* results_ = nullptr;
    struct UntilRun;
    std::unique_ptr<UntilRun> until_;
    CaptureUntilDlg* untilDlg_ = nullptr;
    int captureUpdates_ = 0;
    HistoryPanel* history_ = nullptr;
};

} // namespace pulsara
